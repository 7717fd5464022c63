#include "core/results/windows1252.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace vantrel {

namespace {

// Code points of 0x80-0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char32_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

constexpr char32_t codePointOf(unsigned char byte)
{
    return (byte >= 0x80 && byte < 0xA0) ? kHighTable[byte - 0x80] : byte;
}

// UTF-8 form of every byte, precomputed so decoding is a table copy per byte.
struct Utf8Form {
    std::array<char, 3> bytes {};
    std::uint8_t size = 0;
};

constexpr Utf8Form utf8FormOf(char32_t cp)
{
    Utf8Form form;
    if (cp < 0x80) {
        form.bytes[0] = static_cast<char>(cp);
        form.size = 1;
    } else if (cp < 0x800) {
        form.bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
        form.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        form.size = 2;
    } else {
        form.bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
        form.bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        form.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        form.size = 3;
    }
    return form;
}

constexpr std::array<Utf8Form, 256> kUtf8Forms = [] {
    std::array<Utf8Form, 256> forms {};
    for (int b = 0; b < 256; ++b)
        forms[b] = utf8FormOf(codePointOf(static_cast<unsigned char>(b)));
    return forms;
}();

// Length of the leading run of bytes below 0x80, eight at a time.
std::size_t asciiPrefixLength(std::string_view bytes)
{
    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
    while (i < size && static_cast<unsigned char>(data[i]) < 0x80)
        ++i;
    return i;
}

constexpr char kReplacement = '?';

int windows1252ByteOf(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i) {
        if (kHighTable[i] == cp)
            return 0x80 + i;
    }
    return -1;
}

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Decodes one well-formed UTF-8 sequence at the start of s into cp and returns
// its length, or 0 when the sequence is ill-formed (overlong, surrogate,
// beyond U+10FFFF, cut short, stray continuation byte).
std::size_t decodeUtf8(std::string_view s, char32_t& cp)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = at(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(at(i)))
            return 0;
        cp = (cp << 6) | (at(i) & 0x3F);
    }
    return length;
}

} // namespace

void appendWindows1252AsUtf8(std::string& out, std::string_view bytes)
{
    std::size_t ascii = asciiPrefixLength(bytes);
    if (ascii == bytes.size()) {
        out.append(bytes);
        return;
    }
    std::size_t extra = 0;
    for (std::size_t i = ascii; i < bytes.size(); ++i)
        extra += kUtf8Forms[static_cast<unsigned char>(bytes[i])].size - 1;
    const std::size_t start = out.size();
    out.resize(start + bytes.size() + extra);
    char* dest = out.data() + start;
    std::memcpy(dest, bytes.data(), ascii);
    dest += ascii;
    for (std::size_t i = ascii; i < bytes.size(); ++i) {
        const Utf8Form& form = kUtf8Forms[static_cast<unsigned char>(bytes[i])];
        dest[0] = form.bytes[0];
        if (form.size > 1) {
            dest[1] = form.bytes[1];
            if (form.size > 2)
                dest[2] = form.bytes[2];
        }
        dest += form.size;
    }
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    appendWindows1252AsUtf8(out, bytes);
    return out;
}

std::string Utf8ToWindows1252(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t ascii = asciiPrefixLength(utf8.substr(i));
        out.append(utf8.substr(i, ascii));
        i += ascii;
        if (i == utf8.size())
            break;
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(utf8.substr(i), cp);
        if (length == 0) {
            // One "?" per bad byte; resynchronise at the next one.
            out += kReplacement;
            ++i;
            continue;
        }
        const int byte = windows1252ByteOf(cp);
        out += byte < 0 ? kReplacement : static_cast<char>(byte);
        i += length;
    }
    return out;
}

} // namespace vantrel
