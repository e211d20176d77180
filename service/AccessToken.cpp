#include "service/AccessToken.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>

namespace aurelo::service {

std::string generateAccessToken() {
    std::array<unsigned char, 32> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        return {};
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string token;
    // Six bits per character from a 256-bit value; the last character carries the leftover bits.
    unsigned buffer = 0, bits = 0;
    for (unsigned char byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 6) {
            token.push_back(kAlphabet[(buffer >> (bits - 6)) & 0x3f]);
            bits -= 6;
        }
    }
    if (bits > 0)
        token.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3f]);
    return token;
}

std::string hashAccessToken(std::string_view token) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(token.data()), token.size(), digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 0xf]);
    }
    return hex;
}

} // namespace aurelo::service
