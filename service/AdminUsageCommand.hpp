#pragma once

// The admin command's usage and quota subcommands: `usage [--account NAME] [--since DATE]
// [--json]` shows characters and requests per account, engine and day; `users quota NAME
// CHARACTERS|none` sets or removes an account's monthly character quota.

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace aurelo::service {

class ServiceDatabase;

// Whether the positional arguments name one of these subcommands.
bool isUsageCommand(const std::vector<std::string>& positional);

// Exit codes as runAdminCommand's. `now`: seconds since the epoch (the default --since is the
// first day of its month, UTC).
int runUsageCommand(ServiceDatabase& db, const std::vector<std::string>& positional,
                    const std::map<std::string, std::string>& options, std::int64_t now,
                    std::ostream& out, std::ostream& err);

// The lines of the admin command's help that name these subcommands.
const char* usageCommandHelp();

} // namespace aurelo::service
