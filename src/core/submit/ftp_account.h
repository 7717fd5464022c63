#pragma once

namespace vantrel {

// The results host's FTP account. The password is kept only enciphered, under
// kEncryptionKey; build/vantrel3-encipher produced it.
inline constexpr const char* kEncryptionKey = "QuietHarborLamps";
inline constexpr const char* kFtpUserName = "vantrel";
inline constexpr const char* kFtpEncryptedPassword = "01195D0B1F3C0E1C";
inline constexpr const char* kSharedFileName = "compare.zip";
inline constexpr const char* kSharedFileWebPath = "/vantrel/COMPARE.ZIP";

} // namespace vantrel
