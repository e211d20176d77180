#include "update/ApplicationBundle.hpp"

#include "platform/BuildConfig.hpp"
#include "translation/JsonCoding.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <system_error>

namespace aurelo {

namespace fs = std::filesystem;

namespace {

// bundle.json is a handful of keys; anything much larger is not ours.
constexpr std::uintmax_t kMaximumBundleInfoSize = 64 * 1024;

bool isPlainRelativePath(const fs::path& path) {
    if (path.empty() || path.is_absolute())
        return false;
    for (const auto& part : path)
        if (part.empty() || part == "." || part == "..")
            return false;
    return true;
}

std::optional<std::string> readSmallFile(const fs::path& path, std::uintmax_t limit) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > limit)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || text.size() > limit)
        return std::nullopt;
    return text;
}

} // namespace

std::expected<BundleInfo, std::string> readBundleInfo(const fs::path& bundle) {
    struct stat info {};
    if (lstat(bundle.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::unexpected("the bundle is not a folder");
    auto text = readSmallFile(bundle / kBundleInfoFileName, kMaximumBundleInfoSize);
    if (!text)
        return std::unexpected("bundle.json is missing or not a small regular file");
    auto object = json::parseObject(*text);
    if (!object)
        return std::unexpected("bundle.json is not a JSON object");

    BundleInfo result;
    auto identifier = json::optionalString(*object, "identifier");
    auto version = json::optionalString(*object, "version");
    auto executable = json::requiredString(*object, "executable");
    if (!identifier || !version || !executable)
        return std::unexpected("bundle.json has a member of the wrong type");
    result.identifier = std::move(*identifier);
    result.version = std::move(*version);
    result.executable = std::move(*executable);
    if (auto it = object->find("build"); it != object->end() && !it->is_null()) {
        if (it->is_string())
            result.build = it->get<std::string>();
        else if (it->is_number_integer())
            result.build = it->dump();
        else
            return std::unexpected("bundle.json has a build of the wrong type");
    }

    // The program is what the relaunch starts, so it must be inside the bundle for real: every
    // step of its path a folder, not a link that could lead elsewhere.
    fs::path program(result.executable);
    if (!isPlainRelativePath(program))
        return std::unexpected("bundle.json names an executable outside the bundle");
    fs::path walked = bundle;
    for (auto it = program.begin(); it != program.end(); ++it) {
        walked /= *it;
        if (lstat(walked.c_str(), &info) != 0)
            return std::unexpected("the bundle's executable is missing");
        bool last = std::next(it) == program.end();
        if (last ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode))
            return std::unexpected("the bundle's executable is not a regular file");
    }
    if ((info.st_mode & 0111) == 0)
        return std::unexpected("the bundle's executable cannot be run");
    return result;
}

RunningApplication RunningApplication::current() {
    RunningApplication app;
    app.bundleIdentifier = kBundleIdentifier;
    app.buildNumber = build::kBuildNumber;
    app.processIdentifier = getpid();
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error && program.is_absolute()) {
        fs::path folder = program.parent_path();
        if (folder.filename() == "bin") {
            app.bundleLocation = folder.parent_path();
            app.executable = (fs::path("bin") / program.filename()).string();
        } else {
            app.bundleLocation = folder;
            app.executable = program.filename().string();
        }
    }
    return app;
}

} // namespace aurelo
