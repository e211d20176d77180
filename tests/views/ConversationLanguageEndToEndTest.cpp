// 跟随客户语言 end to end in real WebKit: one account, a Spanish and a German customer, on pages
// shaped like WhatsApp's, Telegram's and Messenger's. The window's own page stack and models run
// the page; it loads through a loopback proxy that takes the platform's host to the fixture site,
// so the account is one of that platform. WhatsApp translates the composer as it is sent; the
// others take the translation box's result into their composer.
#include "support/LoopbackProxy.hpp"
#include "support/WebViewTestSupport.hpp"
#include "views/WebViewStack.hpp"

#include "WidgetTestSupport.hpp"

namespace aurelo::test {
namespace {

using nlohmann::json;

// What the fake service makes of each text: the language it detects and its translations.
std::string detectedLanguage(const std::string& text) {
    if (text.find("Hola") != std::string::npos || text.find("¿") != std::string::npos)
        return "es";
    if (text.find("Guten") != std::string::npos || text.find("Können") != std::string::npos)
        return "de";
    return "en";
}

const std::map<std::pair<std::string, std::string>, std::string> kTranslations{
    {{"你好", "es"}, "Hola"},
    {{"你好", "de"}, "Hallo"},
    {{"谢谢", "es"}, "Gracias"},
    {{"谢谢", "de"}, "Danke"},
};

ScriptedAnswer translate(const RecordedRequest& request) {
    const json& body = *request.json;
    const std::string target = body.value("target", "");
    const auto one = [&](const std::string& text) {
        const auto found = kTranslations.find({text, target});
        return json{{"text", found == kTranslations.end() ? target + ":" + text : found->second},
                    {"detectedLanguage", detectedLanguage(text)}};
    };
    if (!body.contains("texts"))
        return ScriptedAnswer::json(200, one(body.value("text", "")));
    json results = json::array();
    for (const auto& text : body["texts"])
        results.push_back(one(text.get<std::string>()));
    return ScriptedAnswer::json(200, {{"results", results}});
}

struct Platform {
    const char* name;
    const char* scenario;
    const char* host;
    bool sendsThroughTheBox; // the platform translates nothing as it is sent
};

class ConversationLanguageEndToEnd : public MainViewTest,
                                     public ::testing::WithParamInterface<Platform> {
protected:
    ConversationLanguageEndToEnd() {
        const ChatSession original = store.sessions().front();
        ChatSession account =
            addSession(std::string(GetParam().name) + " 客服",
                       pages.url(std::string("/conversations.html?scenario=") + GetParam().scenario,
                                 GetParam().host));
        account.proxyType = "http";
        account.proxyHost = "127.0.0.1";
        account.proxyPort = proxy.port();
        account.sendTranslationEnabled = true;
        store.updateSession(account);
        id = account.id;
        store.remove(original);
        store.select(id);
        model.quickSettings().setOutgoingLanguageCode("follow");
        fake.setResponder([this](const RecordedRequest& request) {
            return holding ? ScriptedAnswer::silence() : translate(request);
        });
    }

    std::string page(const std::string& script) {
        ChatWebView* shown = stack->pageFor(id);
        if (!shown || !shown->webView()) {
            ADD_FAILURE() << "the account has no page";
            return "";
        }
        return evaluateScript(shown->webView(), script, nullptr).value_or("");
    }
    // The agent writes Chinese: into the page's composer, or into the translation box.
    void write(const std::string& chinese) {
        if (GetParam().sendsThroughTheBox) {
            model.translationBox().setInput(chinese);
            model.translationBox().performTranslation();
        } else
            page("document.getElementById('composer').focus();"
                 "document.execCommand('insertText', false, " +
                 json(chinese).dump() + ")");
    }
    // And sends it: Enter in the composer; or Enter in the box, its result put into the page's
    // composer and the page's send button.
    void send() {
        if (!GetParam().sendsThroughTheBox) {
            page("document.getElementById('composer').dispatchEvent(new KeyboardEvent("
                 "'keydown', {key: 'Enter', bubbles: true, cancelable: true}))");
            return;
        }
        TranslationBoxModel& box = model.translationBox();
        ASSERT_TRUE(runMainLoopUntil([&] { return !box.translating(); }, 15s));
        box.performTranslation();
        ASSERT_TRUE(runMainLoopUntil([&] { return box.readyToInsert(); }, 15s));
        box.insertOutput();
        ASSERT_TRUE(runMainLoopUntil([&] { return page("editor.text()") != "\"\""; }, 15s));
        page("document.getElementById('send').click()");
    }
    bool rowSays(const std::string& text) {
        return runMainLoopUntil([&] { return model.conversationLanguages().rowText() == text; },
                                15s);
    }
    bool sentAre(const json& expected) {
        return runMainLoopUntil([&] { return page("window.sent") == expected.dump(); }, 15s);
    }
    bool asked(const std::string& text, const std::string& target) {
        return runMainLoopUntil([&] {
            return std::ranges::any_of(fake.requests(), [&](const RecordedRequest& request) {
                return request.json && request.json->value("text", "") == text &&
                       request.json->value("target", "") == target;
            });
        });
    }

    LoopbackServer pages{{.folder = AURELO_PAGESCRIPT_FIXTURES}};
    LoopbackProxy proxy{LoopbackProxy::Kind::Http};
    std::string id;
    bool holding = false;
    WebViewStack* stack = nullptr;
};

TEST_P(ConversationLanguageEndToEnd, EachCustomerReceivesTheirOwnLanguageAndNothingStale) {
    ASSERT_TRUE(keychain.save("token", std::string(KeychainStore::kLoginTokenAccount)));
    stack = Gtk::make_managed<WebViewStack>(model, environment);
    present(*stack, 1000, 700);

    // María writes Spanish: her chat's language is learnt from her messages, and the agent's
    // Chinese reaches her in Spanish.
    ASSERT_TRUE(rowSays("当前会话：西班牙语（自动识别）"));
    write("你好");
    send();
    ASSERT_TRUE(sentAre({"Hola"}));

    // Jonas writes German.
    page("openChat('jonas')");
    ASSERT_TRUE(rowSays("当前会话：德语（自动识别）"));
    write("你好");
    send();
    ASSERT_TRUE(sentAre({"Hola", "Hallo"}));

    // A translation into German is on its way when the agent goes back to María.
    holding = true;
    write("谢谢");
    ASSERT_TRUE(asked("谢谢", "de"));
    page("openChat('maria')");
    ASSERT_TRUE(rowSays("当前会话：西班牙语（自动识别）"));
    holding = false;
    fake.answerHeld([](const RecordedRequest& request) { return translate(request); });
    send();
    ASSERT_TRUE(sentAre({"Hola", "Hallo", "Gracias"}));
    runMainLoopFor(500ms);
    EXPECT_EQ(page("window.sent"), json({"Hola", "Hallo", "Gracias"}).dump())
        << "the German translation was never sent";
    EXPECT_EQ(page("editor.text()"), json("").dump()) << "nor put in";
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, ConversationLanguageEndToEnd,
    ::testing::Values(Platform{"WhatsApp", "whatsapp", "web.whatsapp.com", false},
                      Platform{"Telegram", "telegram", "web.telegram.org", true},
                      Platform{"Messenger", "messenger", "www.messenger.com", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace aurelo::test
