#pragma once

// `aurelo-service admin …`: the administrator's tool for accounts, engines, provider settings
// and tokens. It works on the database file directly, also while the server runs.

#include <iosfwd>
#include <string>
#include <vector>

namespace aurelo::service {

// Exit codes: 0 done, 1 the operation failed (no such user, database error), 2 usage error.
int runAdminCommand(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                    std::ostream& err);

std::string adminUsage();

} // namespace aurelo::service
