#include "UpdateTestSupport.hpp"

#include "update/Sha256.hpp"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <stdexcept>

namespace aurelo::test {

fs::path makeBundle(const fs::path& folder, const std::string& name) {
    fs::path bundle = folder / name;
    writeFile(bundle / "bundle.json",
              R"({"identifier": "com.aurelo.translator", "version": "2.0.0", "build": "58", )"
              R"("executable": "bin/aurelo-translator"})"
              "\n");
    writeFile(bundle / "bin" / "aurelo-translator", "#!/bin/sh\nexit 0\n", 0755);
    writeFile(bundle / "share" / "aurelo-translator" / "notes.txt", "资源 58\n");
    return bundle;
}

void writeZip(const fs::path& zip, const std::vector<ZipEntry>& entries) {
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   archive_write_free);
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), zip.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot create " + zip.string());
    for (const auto& item : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry_set_pathname_utf8(entry.get(), item.name.c_str());
        archive_entry_set_perm(entry.get(), item.perm);
        switch (item.type) {
        case ZipEntry::Type::File:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.data.size()));
            break;
        case ZipEntry::Type::Directory:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case ZipEntry::Type::Link:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink_utf8(entry.get(), item.data.c_str());
            break;
        }
        archive_write_header(writer.get(), entry.get());
        if (item.type == ZipEntry::Type::File && !item.data.empty())
            archive_write_data(writer.get(), item.data.data(), item.data.size());
    }
    archive_write_close(writer.get());
}

fs::path SignedPackageTest::newBundle() {
    fs::remove_all(temp.path() / "release");
    return makeBundle(temp.path() / "release", "Aurelo翻译器.app");
}

std::string SignedPackageTest::packed(const fs::path& bundle, bool sign) {
    if (sign) {
        EXPECT_TRUE(release::signBundle(bundle, key));
    }
    const fs::path zip = temp.path() / "packed.zip";
    fs::remove(zip);
    EXPECT_TRUE(release::writeBundleArchive(bundle, zip));
    return readFile(zip);
}

UpdateManifest SignedPackageTest::manifestFor(const std::string& bytes) {
    UpdateManifest manifest{"2.0.0", 58, "a.zip", sha256::hexOf(bytes), "修复了若干问题"};
    manifest.packageSignature = release::signPackageDigest(manifest.sha256, key).value();
    return manifest;
}

} // namespace aurelo::test
