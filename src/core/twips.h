#pragma once

namespace vantrel {

// Layout units of the windows: twips, 15 to a pixel at 96 dpi. The graph's arithmetic is
// done in them without Qt; the windows turn them into pixels.
inline constexpr double kTwipsPerPixel = 15.0;

} // namespace vantrel
