#pragma once

// Console conventions for the Google Benchmark programs: its own --benchmark_* flags stay,
// --version is added, and an unknown flag ends with exit code 2 like every other program here.
#include "console/console_args.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace vantrel::bench {

inline std::string& helpHeading()
{
    static std::string heading;
    return heading;
}

// Runs benchmark::Initialize; returns the exit code when the program should stop here.
inline std::optional<int> initializeBenchmark(
    int* argc, char** argv, const std::string& program, const std::string& description)
{
    for (int i = 1; i < *argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts(versionText(program).c_str());
            return 0;
        }
    helpHeading() = description + "\nUsage: " + program + " [--version] [Google Benchmark flags]\n\n";
    // --help prints the library's flags after ours and leaves with exit code 0.
    benchmark::Initialize(argc, argv, [] {
        std::fputs(helpHeading().c_str(), stdout);
        benchmark::PrintDefaultHelp();
    });
    // Initialize leaves behind what it could not take.
    if (*argc > 1)
        return usageError(program, std::string("unknown flag or bad value: ") + argv[1]);
    return std::nullopt;
}

} // namespace vantrel::bench
