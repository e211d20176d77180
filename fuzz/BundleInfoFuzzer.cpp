// bundle.json of a bundle, as the updater reads it from a package and from the running bundle.
// The bundle holds a program, a file that cannot be run, a folder and links, so that the
// "executable" member can name each kind of thing.

#include "FuzzSupport.hpp"
#include "FuzzWorkspace.hpp"

#include "update/ApplicationBundle.hpp"

#include <sys/stat.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using aurelo::fuzz::FuzzWorkspace;
using aurelo::fuzz::require;

fs::path makeBundle() {
    const fs::path top = FuzzWorkspace::shared().freshFolder("bundle");
    const fs::path bundle = top / "Aurelo.app";
    fs::create_directories(bundle / "bin");
    fs::create_directories(bundle / "share" / "aurelo-translator");
    FuzzWorkspace::writeFile(bundle / "bin" / "aurelo-translator", "#!/bin/sh\n");
    ::chmod((bundle / "bin" / "aurelo-translator").c_str(), 0755);
    FuzzWorkspace::writeFile(bundle / "share" / "aurelo-translator" / "notes.txt", "notes");
    FuzzWorkspace::writeFile(top / "outside", "#!/bin/sh\n");
    ::chmod((top / "outside").c_str(), 0755);
    fs::create_symlink("aurelo-translator", bundle / "bin" / "link");
    fs::create_directory_symlink("bin", bundle / "linked-bin");
    fs::create_symlink("../../outside", bundle / "bin" / "escape");
    return bundle;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bundle is made once; only bundle.json changes from input to input.
    static const fs::path bundle = makeBundle();
    FuzzWorkspace::writeFile(bundle / aurelo::kBundleInfoFileName,
                             aurelo::fuzz::asText(data, size));
    const auto info = aurelo::readBundleInfo(bundle);
    if (!info)
        return 0;
    // What is accepted is a real program inside the bundle: the only one is bin/aurelo-translator.
    const fs::path program = fs::path(info->executable).lexically_normal();
    require(program == "bin/aurelo-translator",
            "bundle.json was accepted with a program other than the bundle's own");
    return 0;
}
