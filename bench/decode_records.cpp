// Decoding speed of the shared results file: 100,000 generated records (about
// 7 MB) decoded whole, next to a plain copy of the same bytes as the ceiling.
#include "bench_console.h"
#include "sample_results.h"
#include "core/results/results_file.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kRecords = vantrel::bench::kSampleRecords;

const std::string& recordsFile()
{
    static const std::string file = vantrel::bench::sampleResultsFile();
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
    if (const auto exitCode = vantrel::bench::initializeBenchmark(&argc, argv, "vantrel3-decode-bench",
            "Decodes a generated results file of 100,000 records next to a plain copy of its bytes."))
        return *exitCode;
    benchmark::AddCustomContext("records", std::to_string(kRecords));
    benchmark::AddCustomContext("file bytes", std::to_string(recordsFile().size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
