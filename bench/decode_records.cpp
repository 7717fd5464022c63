// Decoding speed of the shared results file: 100,000 generated records (about
// 7 MB) decoded whole, next to a plain copy of the same bytes as the ceiling.
#include "submit/results_file.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kRecords = 100'000;

// Texts as users type them; about one record in twelve carries characters
// outside ASCII, so both conversion paths are timed.
std::string generateFile()
{
    static const std::array<const char*, 12> names
        = { "Alice Brown", "bob", "Chris P. Bacon", "José Müller", "DEADBEEF", "Zoë Ångström",
              "overclocker_99", "Jens Knudsen", "Mary-Kate", "TheRealDeal", "Françoise", "x" };
    static const std::array<const char*, 7> systems
        = { "Win 95", "Win 98", "Win ME", "Win NT", "Win 2K", "Win XP", "Win Blackcomb" };
    static const std::array<const char*, 8> processors
        = { "Pentium III 800 MHz", "Athlon XP 2000+", "Celeron 433", "AMD K6-2 350 – overclocked",
              "Pentium® 4 2.4 GHz", "Duron 1.3 GHz", "Dual Pentium Pro 200", "Cyrix MII" };

    std::mt19937 random(1234);
    std::string file;
    file.reserve(8 * kRecords * 10);
    for (std::size_t i = 0; i < kRecords; ++i) {
        vantrel::ResultRecord record;
        record.name = names[random() % names.size()];
        record.email = (random() % 4 == 0) ? "" : "user" + std::to_string(random() % 100000) + "@example.org";
        record.os = systems[random() % systems.size()];
        record.processor = processors[random() % processors.size()];
        record.score = static_cast<double>(1000 + random() % 5'000'000);
        file += vantrel::EncodeResultRecord(record);
    }
    return file;
}

const std::string& recordsFile()
{
    static const std::string file = generateFile();
    return file;
}

void setCounters(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["records"]
        = benchmark::Counter(double(kRecords), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"]
        = benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void DecodeResultRecords(benchmark::State& state)
{
    const std::string& file = recordsFile();
    for (auto _ : state) {
        auto records = vantrel::DecodeResultRecords(file);
        if (records.size() != kRecords)
            state.SkipWithError("wrong record count");
        benchmark::DoNotOptimize(records.data());
    }
    setCounters(state, file.size());
}

void PlainCopy(benchmark::State& state)
{
    const std::string& file = recordsFile();
    std::vector<char> target(file.size());
    for (auto _ : state) {
        std::memcpy(target.data(), file.data(), file.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, file.size());
}

void EncodeResultRecords(benchmark::State& state)
{
    const std::vector<vantrel::ResultRecord> records = vantrel::DecodeResultRecords(recordsFile());
    for (auto _ : state) {
        std::string file;
        file.reserve(recordsFile().size());
        for (const auto& record : records)
            file += vantrel::EncodeResultRecord(record);
        benchmark::DoNotOptimize(file.data());
    }
    setCounters(state, recordsFile().size());
}

BENCHMARK(DecodeResultRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeResultRecords)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext("records", std::to_string(kRecords));
    benchmark::AddCustomContext("file bytes", std::to_string(recordsFile().size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
