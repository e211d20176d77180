#include "captions/OwnPlaybackStreamRule.hpp"

#include "platform/ForeignLaunch.hpp"

#include <glib.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace aurelo {

namespace {

// Process trees of a desktop program are shallow; the bound only guards against a lookup that
// cycles (a recycled process id).
constexpr int kMaximumAncestry = 64;

} // namespace

OwnPlaybackStreamRule::OwnPlaybackStreamRule(pid_t ownProcess, ParentLookup parentOf,
                                             NameLookup namesOf)
    : m_ownProcess(ownProcess), m_parentOf(std::move(parentOf)), m_namesOf(std::move(namesOf)) {}

OwnPlaybackStreamRule OwnPlaybackStreamRule::forThisProcess() {
    return OwnPlaybackStreamRule(getpid(), &OwnPlaybackStreamRule::parentFromProc,
                                 &OwnPlaybackStreamRule::namesFromProc);
}

bool OwnPlaybackStreamRule::isOwn(const StreamProperties& stream) const {
    if (stream.ownerTag && parseProcessId(*stream.ownerTag) == m_ownProcess)
        return true;
    if (!stream.processId)
        return false;
    auto process = parseProcessId(*stream.processId);
    // An id from another namespace may name any process here, this one included.
    if (process && m_namesOf && stream.processBinary &&
        !runsBinary(m_namesOf(*process), *stream.processBinary))
        return false;
    for (int depth = 0; process && depth < kMaximumAncestry; ++depth) {
        if (*process == m_ownProcess)
            return true;
        if (*process <= 1 || !m_parentOf)
            return false;
        process = m_parentOf(*process);
    }
    return false;
}

void OwnPlaybackStreamRule::tagChildProcesses() {
    g_setenv(kOwnAudioTagVariable, std::to_string(getpid()).c_str(), TRUE);
}

std::optional<pid_t> OwnPlaybackStreamRule::parseProcessId(std::string_view text) {
    pid_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || ptr != end || value <= 0)
        return std::nullopt;
    return value;
}

std::optional<pid_t> OwnPlaybackStreamRule::parentFromStatLine(std::string_view line) {
    const auto close = line.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::istringstream rest{std::string(line.substr(close + 1))};
    std::string state;
    std::string parent;
    if (!(rest >> state >> parent))
        return std::nullopt;
    return parseProcessId(parent);
}

bool OwnPlaybackStreamRule::runsBinary(const std::vector<std::string>& names,
                                       std::string_view binary) {
    constexpr std::size_t kCommandNameLength = 15;
    for (const auto& name : names) {
        if (name.empty())
            continue;
        if (name == binary)
            return true;
        if (name.size() == kCommandNameLength && binary.starts_with(name))
            return true;
    }
    return false;
}

std::vector<std::string> OwnPlaybackStreamRule::namesFromProc(pid_t process) {
    std::vector<std::string> names;
    const std::string directory = "/proc/" + std::to_string(process);
    std::error_code error;
    const auto executable = std::filesystem::read_symlink(directory + "/exe", error);
    if (!error) {
        // A replaced executable reads "<path> (deleted)"; the client named the file it started.
        std::string name = executable.filename().string();
        constexpr std::string_view kDeleted = " (deleted)";
        if (name.ends_with(kDeleted))
            name.resize(name.size() - kDeleted.size());
        names.push_back(std::move(name));
    }
    std::ifstream command(directory + "/comm");
    std::string line;
    if (command && std::getline(command, line))
        names.push_back(line);
    return names;
}

std::optional<pid_t> OwnPlaybackStreamRule::parentFromProc(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return std::nullopt;
    return parentFromStatLine(line);
}

} // namespace aurelo

namespace aurelo {
// The variable that programs we start inherit names the property the rule looks for.
static_assert(std::string_view(kOwnAudioTagVariable).substr(11) ==
              OwnPlaybackStreamRule::kOwnerProperty);
} // namespace aurelo
