#pragma once

#include "core/twips.h"

#include <cstdint>
#include <string_view>

namespace vantrel {

// The number at the start of text, read the way the list's "Score" cells are
// written: blanks (space, tab, CR, LF) are skipped anywhere, then an optional
// sign, digits, an optional "." fraction and an optional exponent ("E" or "D",
// optional sign, digits). Any other character ends the number; text that does
// not start with a number gives 0. The decimal separator is always ".",
// whatever the locale. Too large a magnitude gives an infinity.
double LeadingNumber(std::string_view text);

// The length of a full bar, from the design width of the own-score bar:
// nearest whole number, ties to even.
std::int32_t FullBarWidth(double designWidth);

// Widths of the two bars in twips.
struct BarWidths {
    float yours = 0; // Shape1, the own score
    float selected = 0; // Shape2, the selected row's score
};

// The larger score fills a full bar, the smaller one gets (smaller / larger) x
// fullWidth, worked out in double and narrowed to float; equal scores fill
// both. When no comparison holds (a NaN score) the bars keep current. A
// width that comes out negative, too large or NaN (scores from a foreign
// file) is clamped to 0 .. fullWidth.
BarWidths ComparisonBarWidths(double own, double selected, std::int32_t fullWidth, BarWidths current);

// Left edge of a value label that puts two thirds of its width left of its
// bar's right end: (shapeLeft + shapeWidth) - labelWidth / 1.5.
float ValueLabelLeft(float shapeLeft, float shapeWidth, float labelWidth);

} // namespace vantrel
