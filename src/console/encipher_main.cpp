// vantrel3-encipher KEY TEXT: prints TEXT enciphered under KEY, the way the
// program's stored FTP password is produced.
#include "core/remote/string_cipher.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vantrel3-encipher KEY TEXT\n");
        return 2;
    }
    const auto cipherText = vantrel::EncryptString(argv[1], argv[2]);
    if (!cipherText) {
        std::fprintf(stderr, "vantrel3-encipher: the key is empty\n");
        return 1;
    }
    std::printf("%s\n", cipherText->c_str());
    return 0;
}
