#include "web/PageMemory.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace aurelo {

namespace {

constexpr std::uint64_t kMiB = 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

template <typename T> std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

// "<key> <spaces> <number> kB" on a line of its own.
std::optional<std::uint64_t> kiBField(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(key))
            continue;
        line.remove_prefix(key.size());
        const auto first = line.find_first_not_of(' ');
        if (first == std::string_view::npos)
            return std::nullopt;
        line.remove_prefix(first);
        const auto digits = line.find_first_not_of("0123456789");
        if (digits == 0 ||
            line.substr(digits == std::string_view::npos ? line.size() : digits) != " kB")
            return std::nullopt;
        return number<std::uint64_t>(line.substr(0, digits));
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint64_t> pssKiBFromSmapsRollup(std::string_view text) {
    return kiBField(text, "Pss:");
}

std::optional<std::uint64_t> memTotalKiBFromMeminfo(std::string_view text) {
    return kiBField(text, "MemTotal:");
}

std::optional<std::uint64_t> machineMemoryKiB() {
    std::ifstream in("/proc/meminfo");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    return memTotalKiBFromMeminfo(text);
}

std::optional<int> parentPidFromStat(std::string_view text) {
    // "<pid> (<name>) <state> <ppid> …": the name ends at the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string_view::npos || close + 4 >= text.size() || text[close + 1] != ' ' ||
        text[close + 3] != ' ')
        return std::nullopt;
    std::string_view rest = text.substr(close + 4);
    const auto parent = number<int>(rest.substr(0, rest.find(' ')));
    if (!parent || *parent < 0)
        return std::nullopt;
    return parent;
}

std::vector<std::string> commandLineArguments(std::string_view cmdline) {
    std::vector<std::string> arguments;
    std::size_t at = 0;
    while (at < cmdline.size()) {
        const std::size_t end = std::min(cmdline.find('\0', at), cmdline.size());
        arguments.emplace_back(cmdline.substr(at, end - at));
        at = end + 1;
    }
    return arguments;
}

bool isWebProcessIdentifier(std::string_view identifier) {
    return !identifier.empty() && identifier.size() <= 20 &&
           identifier.find_first_not_of("0123456789") == std::string_view::npos;
}

bool isWebProcessCommandLine(std::string_view cmdline, std::string_view identifier) {
    if (!isWebProcessIdentifier(identifier))
        return false;
    const auto arguments = commandLineArguments(cmdline);
    if (arguments.size() < 2 || arguments[1] != identifier)
        return false;
    const std::string_view program = arguments[0];
    const auto slash = program.rfind('/');
    return program.substr(slash == std::string_view::npos ? 0 : slash + 1) == "WebKitWebProcess";
}

std::optional<std::uint64_t> pageMemoryCeilingKiB(PageMemoryLimit limit,
                                                  std::optional<std::uint64_t> machineKiB,
                                                  std::size_t openAccounts) {
    switch (limit) {
    case PageMemoryLimit::MB512:
        return 512 * kMiB;
    case PageMemoryLimit::GB1:
        return kGiB;
    case PageMemoryLimit::GB2:
        return 2 * kGiB;
    case PageMemoryLimit::Unlimited:
        return std::nullopt;
    case PageMemoryLimit::Automatic:
        break;
    }
    const std::uint64_t machine = machineKiB.value_or(4 * kGiB);
    const std::uint64_t share = machine / 2 / std::max<std::size_t>(openAccounts, 1);
    return std::max(share, 512 * kMiB);
}

std::string memorySizeText(std::uint64_t kib) {
    char text[32];
    if (kib < kGiB)
        std::snprintf(text, sizeof text, "%llu MB",
                      static_cast<unsigned long long>((kib + kMiB / 2) / kMiB));
    else if (kib % kGiB == 0)
        std::snprintf(text, sizeof text, "%llu GB", static_cast<unsigned long long>(kib / kGiB));
    else
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(kib) / double(kGiB));
    return text;
}

} // namespace aurelo
