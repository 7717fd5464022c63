#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Repeating-key exclusive-or over single-byte character codes, written as two
// upper-case hexadecimal digits a character. The key restarts with every call.
// Both give nullopt when the key is empty and there is something to process.
std::optional<std::string> EncryptString(std::string_view key, std::string_view text);
std::optional<std::string> DecryptString(std::string_view key, std::string_view cipherText);

} // namespace vantrel
