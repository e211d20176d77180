#pragma once

// The glossary's reading queries, the same SQL for the SQLite and the PostgreSQL store (SQLite
// reads "$1" as its first parameter): columns id, username (NULL for a service-wide term), source,
// target, source_language, target_language, ignore_case; the service-wide list first, then by
// user, each in the order written. Whole literals, since the PostgreSQL store keeps its prepared
// statements by the address of their text.

namespace aurelo::service::glossary_sql {

#define AURELO_GLOSSARY_SELECT                                                                     \
    "SELECT g.id, u.username, g.source, g.target, g.source_language, g.target_language, "         \
    "g.ignore_case FROM glossary_terms g LEFT JOIN users u ON u.id = g.user_id "
#define AURELO_GLOSSARY_ORDER " ORDER BY g.user_id IS NOT NULL, u.username, g.id"

inline constexpr const char* kAllTerms = AURELO_GLOSSARY_SELECT AURELO_GLOSSARY_ORDER;
inline constexpr const char* kAccountTerms =
    AURELO_GLOSSARY_SELECT "WHERE g.user_id IS NULL OR g.user_id = $1" AURELO_GLOSSARY_ORDER;

#undef AURELO_GLOSSARY_SELECT
#undef AURELO_GLOSSARY_ORDER

} // namespace aurelo::service::glossary_sql
