#include "core/remote/string_cipher.h"

namespace vantrel {

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Value of the leading run of hex digits in a pair of up to two characters;
// a pair that doesn't start with a digit reads 0 ("&H" prefix parsing).
unsigned leadingHexValue(std::string_view pair)
{
    unsigned value = 0;
    for (char c : pair) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

// Half the length rounded to the nearest whole number, ties to even: an odd
// length gives one more character only when its half's whole part is odd.
std::size_t decipheredLength(std::size_t cipherLength)
{
    const std::size_t half = cipherLength / 2;
    const bool tie = cipherLength % 2 != 0;
    return half + ((tie && half % 2 != 0) ? 1 : 0);
}

} // namespace

std::optional<std::string> EncryptString(std::string_view key, std::string_view text)
{
    if (text.empty())
        return std::string();
    if (key.empty())
        return std::nullopt;

    std::string result;
    result.reserve(text.size() * 2);
    std::size_t keyPos = 0;
    for (char c : text) {
        if (keyPos == key.size())
            keyPos = 0;
        const auto value = static_cast<unsigned char>(c) ^ static_cast<unsigned char>(key[keyPos]);
        result += kUpperHexDigits[value >> 4];
        result += kUpperHexDigits[value & 0x0F];
        ++keyPos;
    }
    return result;
}

std::optional<std::string> DecryptString(std::string_view key, std::string_view cipherText)
{
    const std::size_t count = decipheredLength(cipherText.size());
    if (count == 0)
        return std::string();
    if (key.empty())
        return std::nullopt;

    std::string result;
    result.reserve(count);
    std::size_t keyPos = 0;
    for (std::size_t m = 0; m < count; ++m) {
        if (keyPos == key.size())
            keyPos = 0;
        // After rounding up, the last pair is a lone digit.
        const std::string_view pair = cipherText.substr(2 * m, 2);
        const unsigned value = leadingHexValue(pair) ^ static_cast<unsigned char>(key[keyPos]);
        result += static_cast<char>(value & 0xFF);
        ++keyPos;
    }
    return result;
}

} // namespace vantrel
