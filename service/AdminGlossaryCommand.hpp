#pragma once

// `aurelo-service admin glossary list|add|remove|import|export`: the operator's glossary.

#include "service/ServiceDatabase.hpp"

#include <iosfwd>
#include <string>
#include <vector>

namespace aurelo::service {

// `arguments` are the admin command's whole argument list ("glossary" and the database options
// among them). Exit codes as runAdminCommand's.
int runGlossaryCommand(ServiceDatabase& db, const std::vector<std::string>& arguments,
                       std::istream& in, std::ostream& out, std::ostream& err);

std::string glossaryUsage();

} // namespace aurelo::service
