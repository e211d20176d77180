#pragma once

// `aurelo-service admin …`: the administrator's tool for accounts, engines, provider settings
// and tokens. It works on the database file directly, also while the server runs.

#include <iosfwd>
#include <string>
#include <vector>

namespace aurelo::service {

// Exit codes: done, the operation failed (no such user, database error), usage error.
inline constexpr int kAdminOk = 0;
inline constexpr int kAdminFailed = 1;
inline constexpr int kAdminUsage = 2;

int runAdminCommand(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                    std::ostream& err);

std::string adminUsage();

} // namespace aurelo::service
