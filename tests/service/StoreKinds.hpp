#pragma once

// What the tests that run on both stores share: the two kinds, their names in test names, and one
// private PostgreSQL cluster per test program.

#include "PostgresCluster.hpp"

#include "service/ServiceDatabase.hpp"

#include <gtest/gtest.h>

#include <string>

namespace aurelo::service::test {

inline PostgresCluster& sharedCluster() {
    static PostgresCluster cluster;
    return cluster;
}

inline const auto kBothStores =
    ::testing::Values(DatabaseLocation::Kind::sqlite, DatabaseLocation::Kind::postgresql);

inline std::string storeName(const ::testing::TestParamInfo<DatabaseLocation::Kind>& info) {
    return info.param == DatabaseLocation::Kind::sqlite ? "SQLite" : "PostgreSQL";
}

} // namespace aurelo::service::test
