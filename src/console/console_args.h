#pragma once

// What every console program of the project does with its command line: --help and
// --version on standard output with exit 0; a wrong flag or value as one line naming it,
// a hint at --help, exit 2. Header-only, so the bench programs share it without a library.
#include "build_config.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>

namespace vantrel {

inline constexpr int kUsageExitCode = 2;

inline std::string versionText(const std::string& program)
{
    return program + " " VANTREL_VERSION;
}

// The refusal every program prints for a wrong command line.
inline int usageError(const std::string& program, const std::string& message)
{
    std::cerr << program << ": " << message << "\nTry '" << program << " --help' for more information.\n";
    return kUsageExitCode;
}

// Parses argv into app; returns the exit code when the program should stop here.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv)
{
    app.set_version_flag("--version", versionText(app.get_name()), "Print the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done); // --help or --version, already printed on stdout
    } catch (const CLI::ParseError& error) {
        return usageError(app.get_name(), error.what());
    }
    return std::nullopt;
}

} // namespace vantrel
