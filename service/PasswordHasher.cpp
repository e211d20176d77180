#include "service/PasswordHasher.hpp"

#include "platform/GRef.hpp"

#include <glib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <memory>
#include <optional>
#include <vector>

namespace aurelo::service {

namespace {

constexpr std::size_t kSaltLength = 16;
constexpr std::size_t kKeyLength = 32;
// Bounds on parameters read back from the database: a tampered row must not make one login
// allocate gigabytes or spin for minutes. Each bound alone is not enough (N = 2^20 with r = 16 is
// 2 GiB), so the memory (128 * r * N bytes) and the work (r * N * p) are bounded as products too:
// at most twice the memory and four times the work of the default cost.
constexpr unsigned kMaxLog2N = 20;
constexpr unsigned kMaxR = 16;
constexpr unsigned kMaxP = 4;
constexpr std::uint64_t kMaxMemoryBytes = 64u * 1024 * 1024;
constexpr std::uint64_t kMaxWork = std::uint64_t{8} << 17; // r * N * p, default 8 * 2^15

} // namespace

bool ScryptCost::withinBounds() const {
    if (log2N < 1 || log2N > kMaxLog2N || r < 1 || r > kMaxR || p < 1 || p > kMaxP)
        return false;
    std::uint64_t n = std::uint64_t{1} << log2N;
    return 128 * std::uint64_t{r} * n <= kMaxMemoryBytes && std::uint64_t{r} * n * p <= kMaxWork;
}

namespace {

std::optional<std::vector<unsigned char>> derive(std::string_view password,
                                                 const std::vector<unsigned char>& salt,
                                                 const ScryptCost& cost, std::size_t length) {
    std::vector<unsigned char> key(length);
    std::uint64_t n = std::uint64_t{1} << cost.log2N;
    std::uint64_t maxMemory = 128 * std::uint64_t{cost.r} * (n + cost.p + 2) + (1u << 20);
    if (EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), n, cost.r,
                       cost.p, maxMemory, key.data(), key.size()) != 1)
        return std::nullopt;
    return key;
}

std::string base64(const std::vector<unsigned char>& bytes) {
    return adoptString(g_base64_encode(bytes.data(), bytes.size()));
}

std::optional<std::vector<unsigned char>> unbase64(std::string_view text) {
    // g_base64_decode accepts garbage silently, so check the alphabet first.
    if (text.empty() || text.size() % 4 != 0)
        return std::nullopt;
    for (char c : text)
        if (!g_ascii_isalnum(c) && c != '+' && c != '/' && c != '=')
            return std::nullopt;
    std::string copy(text);
    gsize length = 0;
    const GFreePtr<guchar> bytes(g_base64_decode(copy.c_str(), &length));
    return std::vector<unsigned char>(bytes.get(), bytes.get() + length);
}

std::optional<unsigned> parseNumber(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace

std::string PasswordHasher::hash(std::string_view password) const {
    std::vector<unsigned char> salt(kSaltLength);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        return {};
    auto key = derive(password, salt, m_cost, kKeyLength);
    if (!key)
        return {};
    return "scrypt$" + std::to_string(m_cost.log2N) + "$" + std::to_string(m_cost.r) + "$" +
           std::to_string(m_cost.p) + "$" + base64(salt) + "$" + base64(*key);
}

bool PasswordHasher::verify(std::string_view password, std::string_view stored) {
    auto parts = split(stored, '$');
    if (parts.size() != 6 || parts[0] != "scrypt")
        return false;
    auto log2N = parseNumber(parts[1]), r = parseNumber(parts[2]), p = parseNumber(parts[3]);
    if (!log2N || !r || !p || !ScryptCost{*log2N, *r, *p}.withinBounds())
        return false;
    auto salt = unbase64(parts[4]);
    auto expected = unbase64(parts[5]);
    if (!salt || !expected || expected->size() < 16 || expected->size() > 64)
        return false;
    auto key = derive(password, *salt, ScryptCost{*log2N, *r, *p}, expected->size());
    return key && CRYPTO_memcmp(key->data(), expected->data(), key->size()) == 0;
}

void PasswordHasher::burnVerification(std::string_view password) {
    std::vector<unsigned char> salt(kSaltLength, 0);
    (void)derive(password, salt, ScryptCost{}, kKeyLength);
}

} // namespace aurelo::service
