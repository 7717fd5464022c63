// Any cipher text under any key: deciphering never reads outside its input,
// gives half the length rounded to even, and a well-formed cipher text (even
// length, upper-case hex) comes back unchanged through enciphering.
#include "core/remote/string_cipher.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // First byte: the key's length; then the key, then the cipher text.
    const std::size_t keyLength = std::min<std::size_t>(data[0], size - 1);
    const std::string_view key(reinterpret_cast<const char*>(data) + 1, keyLength);
    const std::string_view cipherText(
        reinterpret_cast<const char*>(data) + 1 + keyLength, size - 1 - keyLength);

    const auto plain = vantrel::DecryptString(key, cipherText);
    const std::size_t half = cipherText.size() / 2;
    const std::size_t expected = half + (cipherText.size() % 2 != 0 && half % 2 != 0 ? 1 : 0);
    if (!plain) {
        if (!key.empty() || expected == 0)
            std::abort();
        return 0;
    }
    if (plain->size() != expected)
        std::abort();

    const bool wellFormed = cipherText.size() % 2 == 0
        && std::all_of(cipherText.begin(), cipherText.end(),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
    if (wellFormed && vantrel::EncryptString(key, *plain) != cipherText)
        std::abort();

    // And the other way: any bytes survive enciphering and deciphering.
    const auto cipher = vantrel::EncryptString(key, cipherText);
    if (cipher && vantrel::DecryptString(key, *cipher) != cipherText)
        std::abort();
    return 0;
}
