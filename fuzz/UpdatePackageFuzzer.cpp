// A downloaded update package (a zip archive) expanded into its work folder and checked the way
// the updater checks it: the bundle found in it, its bundle.json and identity, and the release
// signature over its full listing. Nothing may be written outside the work folder.

#include "FuzzSupport.hpp"
#include "FuzzWorkspace.hpp"

#include "update/BundleSignature.hpp"
#include "update/PackageExtractor.hpp"
#include "update/UpdateInstaller.hpp"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using aurelo::fuzz::FuzzWorkspace;
using aurelo::fuzz::require;

// Far below the application's limits, so that a small input that inflates cannot fill the disk
// or spend the run writing; the limits themselves are the same code either way.
constexpr aurelo::ExtractionLimits kLimits{
    .maximumEntries = 256, .maximumFileSize = 1 << 20, .maximumTotalSize = 4 << 20};

// A key nobody holds: every package fails the signature, after the listing has been read.
const aurelo::UpdatePublicKey kKey = *aurelo::parseUpdatePublicKey(
    "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");

// Everything under `folder`, links not followed, must stay under it.
void requireContained(const fs::path& folder) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const auto relative = it->path().lexically_relative(folder);
        require(!relative.empty() && *relative.begin() != "..",
                "an entry was written outside the work folder");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& workspace = FuzzWorkspace::shared();
    // The archive sits beside the folder it expands into, as in the updater, where both are in
    // the same work folder; a decoy beside them shows an escape.
    const fs::path top = workspace.freshFolder("package");
    const fs::path archive = top / "update.zip";
    const fs::path work = top / "work";
    fs::create_directory(work);
    FuzzWorkspace::writeFile(archive, aurelo::fuzz::asText(data, size));
    FuzzWorkspace::writeFile(top / "decoy", "outside");

    (void)aurelo::expandPackage(archive, work, kLimits);
    requireContained(work);
    std::error_code error;
    require(fs::file_size(top / "decoy", error) == 7 && !error,
            "an entry changed a file outside the work folder");

    const auto bundle = aurelo::installer::findExtractedBundle(work);
    if (!bundle)
        return 0;
    (void)aurelo::installer::checkBundleIdentity(*bundle, "com.aurelo.translator", 57);
    (void)aurelo::installer::checkBundleSignature(*bundle, kKey);
    // The signature check reads the listing only for a well-formed signature file; read it for
    // every bundle, as a release with a good signature would have it read.
    (void)aurelo::bundleContentListing(*bundle);
    return 0;
}
