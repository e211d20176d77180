#pragma once

#include "HostedPage.hpp"
#include "support/MainLoopWait.hpp"
#include "web/PageScript.hpp"
#include "web/WebPageCommand.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace aurelo::test {

using namespace std::chrono_literals;

// The one window of the run, created on first use; each test opens its fixture in a new host.
HostedPage& page();

class PageScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        page().translations.clear();
        page().respond = nullptr;
        page().hold(false);
        page().resize(1000, 800);
    }

    static void open(const std::string& fixture,
                     const ChatWebViewInputs& inputs = HostedPage::defaultInputs()) {
        ASSERT_TRUE(page().open(fixture, inputs)) << fixture;
    }

    static std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }
};

} // namespace aurelo::test
