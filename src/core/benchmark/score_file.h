#pragma once

#include <string>

namespace vantrel {

// The score file holds the score as a little-endian double in its first 8 bytes;
// later bytes are never read, changed or truncated.
inline constexpr const char* kScoreFileName = "Vantrel3.ini";

// Reads the score, creating an empty file when there is none. Anything that
// can't be read (or a file shorter than 8 bytes) gives 0.
double LoadScore(const std::string& path);

// Writes the 8 bytes at offset 0 through a new file renamed over the old one, so the old
// file stays whole when writing fails. Returns false when the file can't be written.
bool SaveScore(const std::string& path, double score);

// Whole numbers as plain digits, others with up to 15 significant digits; no grouping.
std::string FormatGeneralNumber(double value);

// The number followed by " Vantrels" (what a finished run shows).
std::string ScoreCaption(double score);

// What the window shows at start: "Benchmark not run." for 0, else ScoreCaption.
std::string LoadedScoreCaption(double score);

} // namespace vantrel
