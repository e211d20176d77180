#include "PageScriptTest.hpp"

namespace aurelo::test {
namespace {

class MessageTranslationTest : public PageScriptTest {};

TEST_F(MessageTranslationTest, Smoke) {
    open("chat.html?scenario=kinds");
    ASSERT_TRUE(page().waitForMessages("message", 4));
    for (auto& m : page().messages()) std::cerr << m.dump() << "\n";
}

} // namespace
} // namespace aurelo::test
