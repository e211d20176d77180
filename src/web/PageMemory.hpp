#pragma once

// What the memory watchdog reads from /proc and how it judges it: a web process's proportional
// set size from smaps_rollup, the machine's memory from meminfo, which process is a page's web
// process (by the process identifier WebKit puts on its command line, and by being ours), and
// the ceiling each account's page may use under the "页面内存上限" setting. Display-free and
// free of WebKit; every text read here may be cut short or malformed, and then yields nothing.

#include "models/SettingsStore.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// "Pss:" of /proc/<pid>/smaps_rollup, in KiB.
std::optional<std::uint64_t> pssKiBFromSmapsRollup(std::string_view text);
// "MemTotal:" of /proc/meminfo, in KiB.
std::optional<std::uint64_t> memTotalKiBFromMeminfo(std::string_view text);
// The parent's pid from /proc/<pid>/stat, whose second field (the name) may hold spaces and
// parentheses of its own.
std::optional<int> parentPidFromStat(std::string_view text);
// The NUL-separated arguments of /proc/<pid>/cmdline.
std::vector<std::string> commandLineArguments(std::string_view cmdline);
// Whether a command line is that of the WebKit web process with this process identifier:
// WebKit starts each one as "WebKitWebProcess <identifier> <socket> …", and the identifier is
// unique among the processes one application starts.
bool isWebProcessCommandLine(std::string_view cmdline, std::string_view identifier);

// The identifier a web process reports for itself: digits only, and not absurdly long.
bool isWebProcessIdentifier(std::string_view identifier);

// The machine's memory, read from /proc/meminfo; nullopt when it cannot be read.
std::optional<std::uint64_t> machineMemoryKiB();

// The most an account's page may use; nullopt for "不限". Automatic: half the machine's memory
// divided among the open accounts, never below 512 MB (a chat application alone uses several
// hundred). Unknown machine memory counts as 4 GB.
std::optional<std::uint64_t> pageMemoryCeilingKiB(PageMemoryLimit limit,
                                                  std::optional<std::uint64_t> machineKiB,
                                                  std::size_t openAccounts);

// A size as the bar writes it: "620 MB", "1.4 GB".
std::string memorySizeText(std::uint64_t kib);

} // namespace aurelo
