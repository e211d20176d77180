#pragma once

// The relocatable application bundle: a folder whose name ends in ".app" holding the program
// under bin/, its resources under share/, and bundle.json with the bundle's identity:
//
//   Aurelo翻译器.app/
//     bundle.json        {"identifier": "com.aurelo.translator", "version": "1.0.0",
//                         "build": "57", "executable": "bin/aurelo-translator"}
//     bin/aurelo-translator
//     share/aurelo-translator/…
//     bundle.signature   (added by the release tool)

#include "platform/BuildConfig.hpp"

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace aurelo {

inline constexpr const char* kBundleIdentifier = build::kApplicationId;
inline constexpr const char* kBundleInfoFileName = "bundle.json";
inline constexpr const char* kBundleExtension = ".app";

// What bundle.json says about a bundle.
struct BundleInfo {
    std::optional<std::string> identifier;
    std::optional<std::string> version;
    // The build number as written ("57"); a JSON integer is accepted and kept as its text.
    std::optional<std::string> build;
    // The program's path relative to the bundle, e.g. "bin/aurelo-translator".
    std::string executable;
};

// Opens `bundle` as an application bundle: a real folder (not a link) with a readable
// bundle.json object whose "executable" names an executable regular file inside the bundle,
// reached without following links. The error is a short reason for the log.
std::expected<BundleInfo, std::string> readBundleInfo(const std::filesystem::path& bundle);

// The running program as the updater sees it.
struct RunningApplication {
    // The folder the program was started from, standardised: the folder above bin/ for a
    // bundled program. It need not be a bundle; the updater checks that before replacing it.
    std::optional<std::filesystem::path> bundleLocation;
    std::optional<std::string> bundleIdentifier;
    // The running build number as text, compiled in.
    std::optional<std::string> buildNumber;
    // The program's path relative to bundleLocation.
    std::string executable;
    pid_t processIdentifier = 0;

    // This process, located through /proc/self/exe, with the identifier and build compiled in.
    static RunningApplication current();
};

} // namespace aurelo
