#include "update/BundleSignature.hpp"

#include "platform/GRef.hpp"
#include "update/Sha256.hpp"

#include <glib.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <system_error>

#ifndef AURELO_UPDATE_PUBLIC_KEY
#define AURELO_UPDATE_PUBLIC_KEY ""
#endif

namespace aurelo {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaximumSignatureFileSize = 1024;
constexpr std::size_t kEd25519SignatureSize = 64;

// Length-prefixed so that no choice of names can make two different bundles list alike.
std::string field(std::string_view text) {
    return std::to_string(text.size()) + ":" + std::string(text);
}

// Strict base64 of exactly one Ed25519 signature, surrounding white space allowed.
std::optional<std::string> decodeSignature(std::string_view text) {
    while (!text.empty() && g_ascii_isspace(text.back()))
        text.remove_suffix(1);
    while (!text.empty() && g_ascii_isspace(text.front()))
        text.remove_prefix(1);
    if (text.empty() || text.size() > kMaximumSignatureFileSize ||
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                               "0123456789+/=") != std::string_view::npos)
        return std::nullopt;
    const std::string terminated(text);
    gsize length = 0;
    const GFreePtr<guchar> decoded(g_base64_decode(terminated.c_str(), &length));
    std::string signature(reinterpret_cast<const char*>(decoded.get()), length);
    if (signature.size() != kEd25519SignatureSize)
        return std::nullopt;
    return signature;
}

std::optional<std::string> readSignature(const fs::path& bundle) {
    fs::path path = bundle / kBundleSignatureFileName;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaximumSignatureFileSize)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return decodeSignature(text);
}

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

std::optional<UpdatePublicKey> parseUpdatePublicKey(std::string_view hex) {
    if (hex.size() != 64)
        return std::nullopt;
    UpdatePublicKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        int high = g_ascii_xdigit_value(hex[2 * i]);
        int low = g_ascii_xdigit_value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        key[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return key;
}

std::optional<UpdatePublicKey> compiledInUpdatePublicKey() {
    return parseUpdatePublicKey(AURELO_UPDATE_PUBLIC_KEY);
}

std::expected<std::string, std::string> bundleContentListing(const fs::path& bundle) {
    std::error_code error;
    std::map<std::string, std::string> records; // sorted by path, byte order
    fs::recursive_directory_iterator it(bundle, error);
    if (error)
        return std::unexpected("cannot list the bundle: " + error.message());
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            return std::unexpected("cannot list the bundle: " + error.message());
        const fs::path& path = it->path();
        std::string relative = path.lexically_relative(bundle).generic_string();
        if (relative == kBundleSignatureFileName)
            continue;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            return std::unexpected("cannot read " + relative);
        if (S_ISDIR(info.st_mode)) {
            records[relative] = "d " + field(relative) + "\n";
        } else if (S_ISREG(info.st_mode)) {
            auto digest = sha256::hexOfFile(path);
            if (!digest)
                return std::unexpected("cannot read " + relative);
            bool executable = (info.st_mode & 0111) != 0;
            records[relative] = std::string("f ") + (executable ? "x " : "- ") + *digest + " " +
                                field(relative) + "\n";
        } else if (S_ISLNK(info.st_mode)) {
            fs::path target = fs::read_symlink(path, error);
            if (error)
                return std::unexpected("cannot read the link " + relative);
            records[relative] = "l " + field(relative) + " " + field(target.string()) + "\n";
        } else {
            return std::unexpected("the bundle holds a special file: " + relative);
        }
    }
    std::string listing = "aurelo-bundle-listing 1\n";
    for (const auto& [path, record] : records)
        listing += record;
    return listing;
}

namespace {

bool verifyEd25519(const UpdatePublicKey& key, const std::string& signature,
                   const unsigned char* message, std::size_t length) {
    std::unique_ptr<EVP_PKEY, PkeyDeleter> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    std::unique_ptr<EVP_MD_CTX, MdContextDeleter> context(EVP_MD_CTX_new());
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), message, length) == 1;
}

} // namespace

bool verifyBundleSignature(const fs::path& bundle, const UpdatePublicKey& key) {
    auto signature = readSignature(bundle);
    if (!signature)
        return false;
    auto listing = bundleContentListing(bundle);
    if (!listing)
        return false;
    return verifyEd25519(key, *signature, reinterpret_cast<const unsigned char*>(listing->data()),
                         listing->size());
}

std::optional<std::array<unsigned char, 32>> packageSignatureMessage(std::string_view sha256Hex) {
    // The same digits as a key: 32 bytes written as 64 hexadecimal digits, either case.
    auto bytes = parseUpdatePublicKey(sha256Hex);
    if (!bytes)
        return std::nullopt;
    return *bytes;
}

bool verifyPackageSignature(std::string_view sha256Hex, std::string_view signatureBase64,
                            const UpdatePublicKey& key) {
    auto message = packageSignatureMessage(sha256Hex);
    auto signature = decodeSignature(signatureBase64);
    if (!message || !signature)
        return false;
    return verifyEd25519(key, *signature, message->data(), message->size());
}

} // namespace aurelo
