#include "core/md5.h"

#include <openssl/evp.h>

namespace core {

std::string Md5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16) {
        // The digest stays all zeros, as when the platform's MD5 could not be loaded.
        length = 16;
        std::fill(digest, digest + 16, 0);
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(32);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace core
