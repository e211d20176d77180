#pragma once

// The file-system half of an installation, step by step: keep the downloaded package, expand it,
// find and check the bundle in it, stage it, copy it beside the running bundle and hand the swap
// to a shell script. Every step is a plain function so that UpdateManager can run the slow ones
// off the main loop and tests can drive each one directly.

#include "update/ApplicationBundle.hpp"
#include "update/BundleSignature.hpp"
#include "update/UpdateError.hpp"
#include "update/UpdateManifest.hpp"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace aurelo::installer {

namespace fs = std::filesystem;

template <typename T> using Step = std::expected<T, UpdateFailure>;

// A fresh UUID in upper-case text form.
std::string newUUID();

// Authenticates the downloaded file before anything parses it: its SHA-256 must equal the
// manifest's (any letter case) and the manifest's packageSignature must be the release key's
// signature over that digest. Either failing removes the file and is integrityFailed.
Step<void> checkPackage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                        const std::optional<UpdatePublicKey>& publicKey);

// Checks the package (above), then creates the work folder "AureloTranslatorUpdate-<UUID>" in
// `temporaryDirectory` and moves the file there as update.zip. Returns the archive's path.
Step<fs::path> storePackage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                            const std::optional<UpdatePublicKey>& publicKey,
                            const fs::path& temporaryDirectory);

// Unpacks the archive into `destination`; any problem with the archive is expandFailed.
Step<void> expand(const fs::path& archive, const fs::path& destination);

// The first entry of the work folder (in name order) whose extension is "app".
Step<fs::path> findExtractedBundle(const fs::path& workDirectory);

// The bundle must open as a bundle, carry the running program's identifier and exactly the
// manifest's build. Anything else is integrityFailed.
Step<BundleInfo> checkBundleIdentity(const fs::path& bundle,
                                     const std::optional<std::string>& runningIdentifier,
                                     std::int64_t manifestBuild);

// The release signature over the bundle's full listing; integrityFailed without a key.
Step<void> checkBundleSignature(const fs::path& bundle,
                                const std::optional<UpdatePublicKey>& publicKey);

// Copies the checked bundle to "Aurelo翻译器-待安装-<UUID>.app" in `temporaryDirectory`; a copy
// that fails part-way is removed.
Step<fs::path> prepareReplacement(const fs::path& bundle, const fs::path& temporaryDirectory);

// Everything from the downloaded file to the staged copy, in order.
struct StagedUpdate {
    fs::path stagedCopy;
    BundleInfo info;
};
Step<StagedUpdate> verifyAndStage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                                  const fs::path& temporaryDirectory,
                                  const std::optional<std::string>& runningIdentifier,
                                  const std::optional<UpdatePublicKey>& publicKey);

// The running bundle, standardised, provided it is a ".app" folder other than "/" whose parent
// the user may write to.
Step<fs::path> locateReplaceableBundle(const std::optional<fs::path>& bundleLocation);

struct ReplacementPlan {
    fs::path current;
    fs::path newBundle;
    fs::path backup;
    // Programs relative to their bundles: the new one to start after the swap, the running one
    // to start again if the swap fails.
    std::string newProgram;
    std::string currentProgram;
};

// Copies the staged bundle to ".AureloTranslator-new-<UUID>.app" beside `current` and names the
// backup "Aurelo翻译器-更新备份-<another UUID>.app". The copy is what the swap installs, so its
// signature is checked once more after copying; a copy that fails or does not verify is removed.
Step<ReplacementPlan> copyBesideRunningBundle(const fs::path& stagedCopy, const fs::path& current,
                                              std::string newProgram, std::string currentProgram,
                                              const std::optional<UpdatePublicKey>& publicKey);

// The path between single quotes, each single quote in it written as '\''.
std::string shellQuoted(const std::string& path);

// The script that waits for `pid` to end (at most 60 polls a second apart), moves the running
// bundle aside, moves the new one into its place and starts it; if the second move fails it
// restores the old bundle, starts that and exits 1.
std::string replacementScript(long pid, const ReplacementPlan& plan);

// Starts /bin/sh -c script in a session of its own, without waiting for it.
Step<void> launchShell(const std::string& script);

} // namespace aurelo::installer
