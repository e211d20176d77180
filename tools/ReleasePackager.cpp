#include "ReleasePackager.hpp"

#include "update/ApplicationBundle.hpp"
#include "update/BundleSignature.hpp"
#include "update/Sha256.hpp"
#include "update/UpdateManifest.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <glib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

namespace aurelo::release {

void KeyDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ArchiveWriteDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

std::expected<void, std::string> writeFileAtomically(const fs::path& path,
                                                     const std::string& text) {
    fs::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            return std::unexpected("cannot write " + temporary.string());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        return std::unexpected("cannot write " + path.string());
    return {};
}

// Letters, digits, dots, dashes and underscores only: the name ends up in a URL path.
std::string fileNameSafe(const std::string& text) {
    std::string safe;
    for (char c : text)
        safe += (g_ascii_isalnum(c) || c == '.' || c == '-' || c == '_') ? c : '_';
    return safe.empty() ? "0" : safe;
}

} // namespace

SigningKey generateSigningKey() {
    return SigningKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
}

std::expected<void, std::string> writePrivateKey(const SigningKey& key, const fs::path& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::unexpected("cannot create " + path.string() + ": " + g_strerror(errno));
    FILE* file = fdopen(fd, "w");
    bool written =
        file && PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (file ? std::fclose(file) != 0 : close(fd) != 0)
        written = false;
    if (!written)
        return std::unexpected("cannot write " + path.string());
    return {};
}

std::expected<SigningKey, std::string> readPrivateKey(const fs::path& path) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_file(path.c_str(), "r"));
    if (!bio)
        return std::unexpected("cannot open " + path.string());
    SigningKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return std::unexpected(path.string() + " is not an Ed25519 private key");
    return key;
}

std::string publicKeyHex(const SigningKey& key) {
    unsigned char raw[32];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key.get(), raw, &length) != 1)
        return {};
    std::string hex;
    char digits[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", raw[i]);
        hex += digits;
    }
    return hex;
}

namespace {

std::expected<std::string, std::string> signBase64(const unsigned char* message, std::size_t length,
                                                   const SigningKey& key) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    unsigned char signature[64];
    std::size_t signatureLength = sizeof signature;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature, &signatureLength, message, length) != 1)
        return std::unexpected("cannot sign");
    char* encoded = g_base64_encode(signature, signatureLength);
    std::string text(encoded);
    g_free(encoded);
    return text;
}

} // namespace

std::expected<std::string, std::string> signPackageDigest(const std::string& sha256Hex,
                                                          const SigningKey& key) {
    auto message = packageSignatureMessage(sha256Hex);
    if (!message)
        return std::unexpected("not a SHA-256 digest: " + sha256Hex);
    return signBase64(message->data(), message->size(), key);
}

std::expected<void, std::string> signBundle(const fs::path& bundle, const SigningKey& key) {
    std::error_code error;
    fs::remove(bundle / kBundleSignatureFileName, error);
    auto listing = bundleContentListing(bundle);
    if (!listing)
        return std::unexpected(listing.error());
    auto signature =
        signBase64(reinterpret_cast<const unsigned char*>(listing->data()), listing->size(), key);
    if (!signature)
        return std::unexpected("cannot sign the bundle");
    std::string text = *signature + "\n";
    std::ofstream out(bundle / kBundleSignatureFileName, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        return std::unexpected("cannot write the signature");
    return {};
}

std::expected<void, std::string> writeBundleArchive(const fs::path& bundle, const fs::path& zip) {
    std::unique_ptr<archive, ArchiveWriteDeleter> writer(archive_write_new());
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), zip.c_str()) != ARCHIVE_OK)
        return std::unexpected("cannot create " + zip.string());

    fs::path base = bundle.lexically_normal();
    if (!base.has_filename())
        base = base.parent_path();
    std::map<std::string, fs::path> paths{{base.filename().string(), base}};
    std::error_code error;
    for (fs::recursive_directory_iterator it(base, error), end; !error && it != end;
         it.increment(error))
        paths[(base.filename() / it->path().lexically_relative(base)).generic_string()] =
            it->path();
    if (error)
        return std::unexpected("cannot list " + bundle.string());

    for (const auto& [name, path] : paths) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            return std::unexpected("cannot read " + path.string());
        std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
        archive_entry_set_pathname_utf8(entry.get(), name.c_str());
        archive_entry_set_mtime(entry.get(), info.st_mtime, 0);
        std::string contents;
        if (S_ISDIR(info.st_mode)) {
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_perm(entry.get(), 0755);
        } else if (S_ISLNK(info.st_mode)) {
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_perm(entry.get(), 0777);
            archive_entry_set_symlink_utf8(entry.get(), fs::read_symlink(path).c_str());
        } else if (S_ISREG(info.st_mode)) {
            std::ifstream in(path, std::ios::binary);
            contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), (info.st_mode & 0111) ? 0755 : 0644);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(contents.size()));
        } else {
            return std::unexpected("special file in the bundle: " + path.string());
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return std::unexpected(std::string("cannot pack ") + name + ": " +
                                   archive_error_string(writer.get()));
        if (!contents.empty() &&
            archive_write_data(writer.get(), contents.data(), contents.size()) !=
                static_cast<la_ssize_t>(contents.size()))
            return std::unexpected("cannot pack " + name);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return std::unexpected("cannot finish " + zip.string());
    return {};
}

std::expected<PublishedRelease, std::string> publishRelease(const fs::path& bundle,
                                                            const SigningKey& key,
                                                            const fs::path& output,
                                                            const std::string& notes) {
    auto info = readBundleInfo(bundle);
    if (!info)
        return std::unexpected(bundle.string() + " is not an application bundle: " + info.error());
    if (info->identifier != kBundleIdentifier)
        return std::unexpected("the bundle's identifier is not " + std::string(kBundleIdentifier));
    auto build = info->build ? parseDecimalInteger(*info->build) : std::nullopt;
    if (!build || *build < 0)
        return std::unexpected("the bundle's build number is missing or not a whole number");
    std::string version = info->version.value_or("");

    std::error_code error;
    fs::create_directories(output, error);
    if (error)
        return std::unexpected("cannot create " + output.string());
    // The release is signed and packed from a copy, so the bundle given stays as it was.
    std::string staging = g_get_tmp_dir() + std::string("/aurelo-release-XXXXXX");
    if (!g_mkdtemp(staging.data()))
        return std::unexpected("cannot create a staging folder");
    fs::path stagedBundle = fs::path(staging) / bundle.lexically_normal().filename();
    if (stagedBundle.filename().empty())
        stagedBundle = fs::path(staging) / bundle.lexically_normal().parent_path().filename();
    auto cleanup = [&] { fs::remove_all(staging, error); };
    fs::copy(bundle, stagedBundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
    if (error) {
        cleanup();
        return std::unexpected("cannot copy the bundle: " + error.message());
    }

    PublishedRelease release;
    release.version = version;
    release.build = *build;
    std::string zipName =
        "AureloTranslator-" + fileNameSafe(version) + "-" + std::to_string(*build) + ".zip";
    release.archive = output / zipName;
    release.manifest = output / "latest.json";
    fs::path partial = release.archive;
    partial += ".part";
    auto signedBundle = signBundle(stagedBundle, key);
    auto packed = signedBundle ? writeBundleArchive(stagedBundle, partial) : signedBundle;
    cleanup();
    if (!packed) {
        fs::remove(partial, error);
        return std::unexpected(packed.error());
    }
    if (std::rename(partial.c_str(), release.archive.c_str()) != 0)
        return std::unexpected("cannot write " + release.archive.string());
    auto digest = sha256::hexOfFile(release.archive);
    if (!digest)
        return std::unexpected("cannot read " + release.archive.string());
    release.sha256 = *digest;
    release.size = fs::file_size(release.archive, error);
    if (error)
        return std::unexpected("cannot read " + release.archive.string());
    auto packageSignature = signPackageDigest(release.sha256, key);
    if (!packageSignature)
        return std::unexpected(packageSignature.error());
    release.packageSignature = *packageSignature;

    nlohmann::json manifest = {
        {"version", version},
        {"build", *build},
        {"downloadPath", "/updates/" + zipName},
        {"sha256", release.sha256},
        {"notes", notes},
        {"packageSize", release.size},
        {"packageSignature", release.packageSignature},
    };
    if (auto written = writeFileAtomically(release.manifest, manifest.dump(2) + "\n"); !written)
        return std::unexpected(written.error());
    return release;
}

} // namespace aurelo::release
