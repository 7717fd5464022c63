#pragma once

#include <array>
#include <string_view>

namespace vantrel {

inline constexpr int kTickerLineCount = 18;
// The only line shown smaller: it is the longest.
inline constexpr int kTickerSmallLine = 12;

// What the score label plays once the easter egg is found: a short exchange between
// the user and the processor. Each line must fit the score label at its size.
inline constexpr std::array<std::string_view, kTickerLineCount> kTickerScript = {
    "Psst... you found the easter egg.",
    "Hi there",
    "Who are you?",
    "I'm the CPU in your machine",
    "Why so sweaty?",
    "Sums.",
    "Lots of sums today.",
    "Such as?",
    "Matrices, all of them.",
    "Then I multiply them by twelve.",
    "Then resize an array. Every time.",
    "Sounds tough.",
    "Complex sums, complex products, quadratics!!",
    "How long each?",
    "One second per test.",
    "And what is it all for?",
    "Vantrels!!",
    "Now let me sleep.",
};

} // namespace vantrel
