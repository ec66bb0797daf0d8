#include "quorvane/Digest.hpp"

#include <openssl/sha.h>

namespace quorvane {

std::string sha256Hex(std::string_view bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(2 * SHA256_DIGEST_LENGTH, '0');
    for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0xF];
    }
    return out;
}

}  // namespace quorvane
