#pragma once

// `aurelo-service admin glossary list|add|remove|import|export`: the operator's glossary.

#include "service/ServiceDatabase.hpp"

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace aurelo::service {

// `positional`: the words after "glossary"; `options`: the admin command's options as it parsed
// them ("--user" -> "alice"). Exit codes as runAdminCommand's.
int runGlossaryCommand(ServiceDatabase& db, std::vector<std::string> positional,
                       std::map<std::string, std::string> options, std::ostream& out,
                       std::ostream& err);

std::string glossaryUsage();

} // namespace aurelo::service
