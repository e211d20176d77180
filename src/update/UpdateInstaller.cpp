#include "update/UpdateInstaller.hpp"

#include "platform/GRef.hpp"
#include "platform/Text.hpp"
#include "update/PackageExtractor.hpp"
#include "update/Sha256.hpp"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

namespace aurelo::installer {

namespace {

SystemError fileError(const std::string& what, const std::error_code& error) {
    return SystemError::fromErrno(what, error.value());
}

// Copies a bundle as it is: folders, files with their modes, links as links. A copy cut short
// (a full disk, say) is removed rather than left looking like a bundle.
Step<void> copyBundle(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        return std::unexpected(fileError("无法复制“" + from.filename().string() + "”", error));
    }
    return {};
}

Step<void> requireKey(const std::optional<UpdatePublicKey>& publicKey) {
    if (publicKey)
        return {};
    g_warning("This build has no update key compiled in (configure with "
              "-DAURELO_UPDATE_PUBLIC_KEY=<64 hex digits>); no update package can be verified");
    return std::unexpected(UpdateError::integrityFailed());
}

// Moves a file into place: a rename where possible, else a copy that is synced and renamed so
// that `to` is either absent or complete.
Step<void> moveFileAtomically(const fs::path& from, const fs::path& to) {
    if (rename(from.c_str(), to.c_str()) == 0)
        return {};
    if (errno != EXDEV)
        return std::unexpected(SystemError::fromErrno("无法保存更新包", errno));
    fs::path partial = to;
    partial += ".part";
    std::error_code error;
    // A copy cut short is removed: nothing half written may stay behind as a package.
    auto fail = [&](SystemError failure) -> Step<void> {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return std::unexpected(std::move(failure));
    };
    if (!fs::copy_file(from, partial, fs::copy_options::overwrite_existing, error))
        return fail(fileError("无法保存更新包", error));
    int fd = open(partial.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        int code = errno;
        if (fd >= 0)
            close(fd);
        return fail(SystemError::fromErrno("无法保存更新包", code));
    }
    close(fd);
    if (rename(partial.c_str(), to.c_str()) != 0)
        return fail(SystemError::fromErrno("无法保存更新包", errno));
    unlink(from.c_str());
    return {};
}

void childSetupCallback(gpointer) {
    // The script must outlive us and must not die with our terminal or process group.
    setsid();
}

} // namespace

std::string newUUID() {
    return text::asciiUppercased(adoptString(g_uuid_string_random()));
}

Step<void> checkPackage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                        const std::optional<UpdatePublicKey>& publicKey) {
    auto digest = sha256::hexOfFile(downloadedFile);
    if (!digest)
        return std::unexpected(SystemError::fromErrno("无法读取更新包", digest.error()));
    auto refuse = [&](const char* reason) -> Step<void> {
        g_message("Update package refused: %s", reason);
        unlink(downloadedFile.c_str());
        return std::unexpected(UpdateError::integrityFailed());
    };
    if (!sha256::sameDigest(*digest, manifest.sha256))
        return refuse("its SHA-256 differs from the manifest's");
    if (auto key = requireKey(publicKey); !key) {
        unlink(downloadedFile.c_str());
        return key;
    }
    // A manifest without the member is refused too: accepting it would let whoever can answer
    // for the manifest turn the check off by leaving the member out.
    if (!manifest.packageSignature)
        return refuse("the manifest carries no package signature");
    if (!verifyPackageSignature(*digest, *manifest.packageSignature, *publicKey))
        return refuse("the package signature does not verify with the release key");
    return {};
}

Step<fs::path> storePackage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                            const std::optional<UpdatePublicKey>& publicKey,
                            const fs::path& temporaryDirectory) {
    if (auto checked = checkPackage(downloadedFile, manifest, publicKey); !checked)
        return std::unexpected(checked.error());
    std::error_code error;
    fs::create_directories(temporaryDirectory, error);
    if (error)
        return std::unexpected(fileError("无法创建更新目录", error));
    fs::path work = temporaryDirectory / ("AureloTranslatorUpdate-" + newUUID());
    // Only we may add to the work folder: what is checked there is what gets installed.
    if (mkdir(work.c_str(), 0700) != 0)
        return std::unexpected(SystemError::fromErrno("无法创建更新目录", errno));
    fs::path archive = work / "update.zip";
    if (auto moved = moveFileAtomically(downloadedFile, archive); !moved)
        return std::unexpected(moved.error());
    return archive;
}

Step<void> expand(const fs::path& archive, const fs::path& destination) {
    auto expanded = expandPackage(archive, destination);
    if (!expanded) {
        g_message("Update package not expanded: %s", expanded.error().c_str());
        return std::unexpected(UpdateError::expandFailed());
    }
    return {};
}

Step<fs::path> findExtractedBundle(const fs::path& workDirectory) {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(workDirectory, error), end; !error && it != end;
         it.increment(error))
        entries.push_back(it->path());
    if (error)
        return std::unexpected(fileError("无法读取更新目录", error));
    // The folder's own order depends on the file system; name order makes "first" mean the
    // same thing everywhere.
    std::ranges::sort(entries);
    for (const auto& entry : entries)
        if (entry.extension() == kBundleExtension)
            return entry;
    return std::unexpected(UpdateError::appMissing());
}

Step<BundleInfo> checkBundleIdentity(const fs::path& bundle,
                                     const std::optional<std::string>& runningIdentifier,
                                     std::int64_t manifestBuild) {
    auto info = readBundleInfo(bundle);
    if (!info) {
        g_message("Update bundle refused: %s", info.error().c_str());
        return std::unexpected(UpdateError::integrityFailed());
    }
    if (info->identifier != runningIdentifier)
        return std::unexpected(UpdateError::integrityFailed());
    if (!info->build || info->build->empty())
        return std::unexpected(UpdateError::integrityFailed());
    auto build = parseDecimalInteger(*info->build);
    if (!build || *build != manifestBuild)
        return std::unexpected(UpdateError::integrityFailed());
    return std::move(*info);
}

Step<void> checkBundleSignature(const fs::path& bundle,
                                const std::optional<UpdatePublicKey>& publicKey) {
    if (auto key = requireKey(publicKey); !key)
        return key;
    if (!verifyBundleSignature(bundle, *publicKey))
        return std::unexpected(UpdateError::integrityFailed());
    return {};
}

Step<fs::path> prepareReplacement(const fs::path& bundle, const fs::path& temporaryDirectory) {
    fs::path staged = temporaryDirectory / ("Aurelo翻译器-待安装-" + newUUID() + ".app");
    if (auto copied = copyBundle(bundle, staged); !copied)
        return std::unexpected(copied.error());
    return staged;
}

Step<StagedUpdate> verifyAndStage(const fs::path& downloadedFile, const UpdateManifest& manifest,
                                  const fs::path& temporaryDirectory,
                                  const std::optional<std::string>& runningIdentifier,
                                  const std::optional<UpdatePublicKey>& publicKey) {
    auto archive = storePackage(downloadedFile, manifest, publicKey, temporaryDirectory);
    if (!archive)
        return std::unexpected(archive.error());
    fs::path work = archive->parent_path();
    if (auto expanded = expand(*archive, work); !expanded)
        return std::unexpected(expanded.error());
    auto bundle = findExtractedBundle(work);
    if (!bundle)
        return std::unexpected(bundle.error());
    auto info = checkBundleIdentity(*bundle, runningIdentifier, manifest.build);
    if (!info)
        return std::unexpected(info.error());
    if (auto signature = checkBundleSignature(*bundle, publicKey); !signature)
        return std::unexpected(signature.error());
    auto staged = prepareReplacement(*bundle, temporaryDirectory);
    if (!staged)
        return std::unexpected(staged.error());
    return StagedUpdate{std::move(*staged), std::move(*info)};
}

Step<fs::path> locateReplaceableBundle(const std::optional<fs::path>& bundleLocation) {
    const auto cannotLocate =
        std::unexpected(UpdateError::installFailed(UpdateError::kCannotLocateApplication));
    if (!bundleLocation || bundleLocation->empty() || !bundleLocation->is_absolute())
        return cannotLocate;
    fs::path current = bundleLocation->lexically_normal();
    if (current.has_filename() == false && current != current.root_path())
        current = current.parent_path(); // "…/X.app/" names the same folder as "…/X.app"
    if (current == current.root_path() || current.extension() != kBundleExtension)
        return cannotLocate;
    fs::path parent = current.parent_path();
    if (access(parent.c_str(), W_OK | X_OK) != 0)
        return std::unexpected(
            UpdateError::installFailed(UpdateError::kApplicationFolderNotWritable));
    return current;
}

Step<ReplacementPlan> copyBesideRunningBundle(const fs::path& stagedCopy, const fs::path& current,
                                              std::string newProgram, std::string currentProgram,
                                              const std::optional<UpdatePublicKey>& publicKey) {
    fs::path parent = current.parent_path();
    ReplacementPlan plan{
        .current = current,
        .newBundle = parent / (".AureloTranslator-new-" + newUUID() + ".app"),
        .backup = parent / ("Aurelo翻译器-更新备份-" + newUUID() + ".app"),
        .newProgram = std::move(newProgram),
        .currentProgram = std::move(currentProgram),
    };
    if (auto copied = copyBundle(stagedCopy, plan.newBundle); !copied)
        return std::unexpected(copied.error());
    // The staged copy sat in the temporary folder since it was checked; what the swap moves into
    // place must be exactly what the release key signed.
    if (auto verified = checkBundleSignature(plan.newBundle, publicKey); !verified) {
        g_message("Update refused: the copy beside the running bundle does not verify");
        std::error_code ignored;
        fs::remove_all(plan.newBundle, ignored);
        return std::unexpected(verified.error());
    }
    return plan;
}

std::string shellQuoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return quoted;
}

std::string replacementScript(long pid, const ReplacementPlan& plan) {
    const std::string current = shellQuoted(plan.current.string());
    const std::string newBundle = shellQuoted(plan.newBundle.string());
    const std::string backup = shellQuoted(plan.backup.string());
    const std::string newProgram = shellQuoted((plan.current / plan.newProgram).string());
    const std::string oldProgram = shellQuoted((plan.current / plan.currentProgram).string());
    // The program is started in the background: the script's work is done once the bundles are
    // swapped, and it should not linger until the application quits again.
    return "n=0\nwhile /bin/kill -0 " + std::to_string(pid) +
           " 2>/dev/null; do\n  n=$((n + 1))\n  if [ \"$n\" -ge 60 ]; then exit 1; fi\n"
           "  /bin/sleep 1\ndone\n/bin/mv " +
           current + " " + backup + " || exit 1\nif /bin/mv " + newBundle + " " + current +
           "; then\n  " + newProgram + " &\nelse\n  /bin/mv " + backup + " " + current + "\n  " +
           oldProgram + " &\n  exit 1\nfi";
}

Step<void> launchShell(const std::string& script) {
    std::string shell = "/bin/sh";
    std::string option = "-c";
    char* argv[] = {shell.data(), option.data(), const_cast<char*>(script.c_str()), nullptr};
    GErrorHolder error;
    if (!g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, childSetupCallback, nullptr,
                       nullptr, error.out()))
        return std::unexpected(
            SystemError{std::string("无法启动 /bin/sh：") + (error ? error->message : "")});
    return {};
}

} // namespace aurelo::installer
