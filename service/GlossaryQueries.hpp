#pragma once

// The glossary's reading query, the same SQL for the SQLite and the PostgreSQL store: columns id,
// username (NULL for a service-wide term), source, target, source_language, target_language,
// ignore_case; the service-wide list first, then by user, each in the order written.

namespace aurelo::service::glossary_sql {

inline constexpr const char* kColumns =
    "SELECT g.id, u.username, g.source, g.target, g.source_language, g.target_language, "
    "g.ignore_case FROM glossary_terms g LEFT JOIN users u ON u.id = g.user_id ";
inline constexpr const char* kOrder = " ORDER BY g.user_id IS NOT NULL, u.username, g.id";

} // namespace aurelo::service::glossary_sql
