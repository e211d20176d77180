#include "PageScriptTest.hpp"

#include <memory>

namespace aurelo::test {

namespace {

std::unique_ptr<HostedPage>& sharedPage() {
    static std::unique_ptr<HostedPage> page;
    return page;
}

// Closes the window and its host once every test has run, while GTK and WebKit are still up.
class HostedPageEnvironment : public ::testing::Environment {
public:
    void TearDown() override { sharedPage().reset(); }
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new HostedPageEnvironment);

} // namespace

HostedPage& page() {
    auto& shared = sharedPage();
    if (!shared)
        shared = std::make_unique<HostedPage>(1000, 800);
    return *shared;
}

} // namespace aurelo::test
