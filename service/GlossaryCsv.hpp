#pragma once

// The glossary as a CSV file, for `aurelo-service admin glossary import|export`: UTF-8, a header
// line, one term per line, fields quoted as RFC 4180 has them.
//
//   account,source,target,source_language,target_language,ignore_case
//   ,Aurelo Pro,,,,no                        (service-wide, never translated)
//   alice,free shipping,envío gratis,en,es,yes  (alice's own fixed translation)

#include "service/Glossary.hpp"

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo::service {

inline constexpr const char* kGlossaryCsvHeader =
    "account,source,target,source_language,target_language,ignore_case";

std::string glossaryCsv(const std::vector<GlossaryTerm>& terms);

// The terms of a whole file, each checked as the database would store it; nothing when any line
// is wrong, with the first problem as "第 N 行：…" (N counted from 1, the header included).
std::expected<std::vector<GlossaryTerm>, std::string> parseGlossaryCsv(std::string_view text);

} // namespace aurelo::service
