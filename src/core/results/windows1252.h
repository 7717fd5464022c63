#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Windows-1252 (Western Windows' ANSI code page) to and from UTF-8. The five
// codes the page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// same code point, so every byte string survives a round trip.

// Characters the code page can't hold, and every byte of invalid UTF-8, become "?".
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view bytes);

// Appends the UTF-8 form of bytes to out; the building block of the record decoder.
void appendWindows1252AsUtf8(std::string& out, std::string_view bytes);

} // namespace vantrel
