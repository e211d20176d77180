#pragma once

#include "PageScriptHarness.hpp"
#include "support/MainLoopWait.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace aurelo::test {

using namespace std::chrono_literals;

// One web view serves every test: each test loads its fixture afresh, which gives it a new
// document and a new injection of the script.
class PageScriptTest : public ::testing::Test {
protected:
    static PageScriptHarness& page() {
        static auto* harness = new PageScriptHarness(1000, 800);
        return *harness;
    }

    void SetUp() override { page().resize(1000, 800); }

    static void open(const std::string& fixture, const PageScriptSettings& settings = {}) {
        ASSERT_TRUE(page().load(fixture, settings)) << fixture;
    }

    static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }
};

} // namespace aurelo::test
