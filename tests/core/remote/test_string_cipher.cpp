#include "core/remote/string_cipher.h"
#include "core/submit/ftp_account.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;
using vantrel::DecryptString;
using vantrel::EncryptString;

namespace {

struct CipherCase {
    const char* label;
    std::string key;
    std::string plain;
    std::string cipher;
};

std::ostream& operator<<(std::ostream& os, const CipherCase& c)
{
    return os << c.label;
}

class CipherPairs : public ::testing::TestWithParam<CipherCase> { };

TEST_P(CipherPairs, EnciphersAndDeciphers)
{
    const CipherCase& c = GetParam();
    EXPECT_EQ(EncryptString(c.key, c.plain), c.cipher);
    EXPECT_EQ(DecryptString(c.key, c.cipher), c.plain);
}

INSTANTIATE_TEST_SUITE_P(StringCipher, CipherPairs,
    ::testing::Values(CipherCase { "EqualCharactersGiveZeroPair", "abc", "abc", "000000" },
        CipherCase { "SingleDigitValuesGetLeadingZero", "A", "@", "01" },
        CipherCase { "HighValuesUpperCase", "\x01"s, "\xFF"s, "FE" },
        CipherCase { "KeyRepeatsFromFirstCharacter", "ab", "aaaa", "00030003" },
        CipherCase { "LongerKeyUsesOnlyItsStart", "abcdef", "ab", "0000" },
        CipherCase { "ZeroCodeRoundTrips", "Z", "\0\0"s, "5A5A" },
        CipherCase {
            "ProgramKey", vantrel::kEncryptionKey, "QuietHarborLamps", "00000000000000000000000000000000" }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StringCipher, EmptyTextIsEmptyEvenWithoutKey)
{
    EXPECT_EQ(EncryptString("", ""), "");
    EXPECT_EQ(DecryptString("", ""), "");
    // A lone digit rounds to zero characters: nothing to process, no key needed.
    EXPECT_EQ(DecryptString("", "4"), "");
}

TEST(StringCipher, EmptyKeyWithTextFails)
{
    EXPECT_EQ(EncryptString("", "x"), std::nullopt);
    EXPECT_EQ(DecryptString("", "41"), std::nullopt);
    EXPECT_EQ(DecryptString("", "414"), std::nullopt);
}

TEST(StringCipher, LowerCaseDigitsReadAsUpperCase)
{
    EXPECT_EQ(DecryptString("\x01"s, "fe"), "\xFF"s);
    EXPECT_EQ(DecryptString("key", "0a1B2c"), DecryptString("key", "0A1B2C"));
}

struct OddCase {
    const char* label;
    std::string cipher;
    std::string plain; // under the key "\0" so the values show through
};

std::ostream& operator<<(std::ostream& os, const OddCase& c)
{
    return os << c.label;
}

class OddPairs : public ::testing::TestWithParam<OddCase> { };

TEST_P(OddPairs, ReadAsLeadingHexDigits)
{
    EXPECT_EQ(DecryptString("\0"s, GetParam().cipher), GetParam().plain);
}

// Length is half the digits, ties to even: 1 -> 0, 3 -> 2, 5 -> 2, 7 -> 4.
INSTANTIATE_TEST_SUITE_P(StringCipher, OddPairs,
    ::testing::Values(OddCase { "OneDigit", "4", "" },
        OddCase { "ThreeDigitsLoneLastDigit", "41A", "\x41\x0A"s },
        OddCase { "FiveDigitsLastIgnored", "4142F", "\x41\x42"s },
        OddCase { "SevenDigits", "4142437", "\x41\x42\x43\x07"s },
        OddCase { "DigitThenLetterReadsDigit", "1G", "\x01"s },
        OddCase { "LetterThenDigitReadsZero", "G1", "\0"s },
        OddCase { "NonHexPairsReadZero", "  zz", "\0\0"s }, OddCase { "SignNotAccepted", "-1", "\0"s }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StringCipher, EveryCallRestartsTheKey)
{
    const std::string key = "key";
    // First part a multiple of the key's length: joining equals enciphering the joined text.
    EXPECT_EQ(*EncryptString(key, "abc") + *EncryptString(key, "defg"), EncryptString(key, "abcdefg"));
    // Otherwise the second part starts on the wrong key character.
    EXPECT_NE(*EncryptString(key, "ab") + *EncryptString(key, "cdefg"), EncryptString(key, "abcdefg"));
}

TEST(StringCipher, EveryByteRoundTripsUnderAnyKeyLength)
{
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes += static_cast<char>(i);
    for (const std::string& key : { "\xFF"s, "\0x"s, "QuietHarborLamps"s, std::string(300, '\x80') }) {
        const auto cipher = EncryptString(key, allBytes);
        ASSERT_TRUE(cipher);
        ASSERT_EQ(cipher->size(), 2 * allBytes.size());
        EXPECT_TRUE(std::all_of(cipher->begin(), cipher->end(),
            [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }));
        EXPECT_EQ(DecryptString(key, *cipher), allBytes);
    }
}

TEST(StringCipher, StoredFtpPasswordIsEightPrintableCharacters)
{
    const auto plain = DecryptString(vantrel::kEncryptionKey, vantrel::kFtpEncryptedPassword);
    ASSERT_TRUE(plain);
    ASSERT_EQ(plain->size(), 8u);
    EXPECT_TRUE(std::all_of(plain->begin(), plain->end(), [](char c) { return c > 0x20 && c < 0x7F; }));
    EXPECT_EQ(EncryptString(vantrel::kEncryptionKey, *plain), vantrel::kFtpEncryptedPassword);
}

} // namespace
