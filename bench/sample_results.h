#pragma once

// A results file as users fill it: 100,000 records of typical texts, about one
// record in twelve with characters outside ASCII, so both conversion paths run.
#include "core/results/results_file.h"

#include <array>
#include <cstddef>
#include <random>
#include <string>

namespace vantrel::bench {

inline constexpr std::size_t kSampleRecords = 100'000;

inline std::string sampleResultsFile(std::size_t count = kSampleRecords, unsigned seed = 1234)
{
    static const std::array<const char*, 12> names
        = { "Alice Brown", "bob", "Chris P. Bacon", "José Müller", "DEADBEEF", "Zoë Ångström",
              "overclocker_99", "Jens Knudsen", "Mary-Kate", "TheRealDeal", "Françoise", "x" };
    static const std::array<const char*, 7> systems
        = { "Win 95", "Win 98", "Win ME", "Win NT", "Win 2K", "Win XP", "Win Blackcomb" };
    static const std::array<const char*, 8> processors
        = { "Pentium III 800 MHz", "Athlon XP 2000+", "Celeron 433", "AMD K6-2 350 – overclocked",
              "Pentium® 4 2.4 GHz", "Duron 1.3 GHz", "Dual Pentium Pro 200", "Cyrix MII" };

    std::mt19937 random(seed);
    std::string file;
    file.reserve(80 * count);
    for (std::size_t i = 0; i < count; ++i) {
        ResultRecord record;
        record.name = names[random() % names.size()];
        record.email = random() % 4 == 0 ? "" : "user" + std::to_string(random() % 100000) + "@example.org";
        record.os = systems[random() % systems.size()];
        record.processor = processors[random() % processors.size()];
        record.score = static_cast<double>(1000 + random() % 5'000'000);
        file += EncodeResultRecord(record);
    }
    return file;
}

} // namespace vantrel::bench
