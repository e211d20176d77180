#include "PageScriptTest.hpp"

#include "support/XInput.hpp"

#include <gtk/gtk.h>

namespace aurelo::test {

namespace {

// Records every call the host makes into the page, in order, before the script handles it.
constexpr const char* kAnswerRecorder = R"JS(
(() => {
    const delivered = window.__aureloDelivered = [];
    for (const name of ['aureloSetTranslation', 'aureloSetPageTranslation',
                        'aureloSetComposerTranslation', 'aureloSetComposerWarm',
                        'aureloShowContextTranslation', 'aureloSetVoiceTranslation',
                        'aureloSetTranslationActive', 'aureloTranslatePage', 'aureloRestorePage']) {
        const original = window[name];
        if (typeof original !== 'function') continue;
        window[name] = function (...args) {
            delivered.push([name, ...args]);
            return original.apply(this, args);
        };
    }
})()
)JS";

// The texts of a translation request, and whether they came as a batch.
std::optional<std::pair<nlohmann::json, bool>> translationTexts(const RecordedRequest& request) {
    if (request.path != "/api/translate" || !request.json || !request.json->is_object())
        return std::nullopt;
    const auto& body = *request.json;
    if (body.contains("texts") && body["texts"].is_array())
        return std::pair{body["texts"], true};
    return std::pair{nlohmann::json::array({body.value("text", nlohmann::json())}), false};
}

} // namespace

GtkWidget* PageScriptTest::s_window = nullptr;

void PageScriptTest::SetUpTestSuite() {
    g_setenv("GDK_BACKEND", "x11", FALSE);
    WebViewTest::SetUpTestSuite();
    s_window = gtk_window_new();
    gtk_window_set_decorated(GTK_WINDOW(s_window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(s_window), 1000, 800);
    gtk_window_present(GTK_WINDOW(s_window));
    runMainLoopUntil([] { return gtk_widget_get_mapped(s_window); });
    // Nothing else takes the focus on the virtual display, so focusing once keeps key presses
    // quick, which tests of the composer's timings rely on. The first XTest key after the window
    // appears can be lost while focus settles: it is spent on a modifier no page reacts to.
    focusWindow(s_window);
    xdotool({"key", "shift"});
    runMainLoopFor(200ms);
}

void PageScriptTest::TearDownTestSuite() {
    gtk_window_destroy(GTK_WINDOW(s_window));
    s_window = nullptr;
}

PageScriptTest::PageScriptTest() {
    environment = std::make_unique<WebEnvironment>(
        WebEnvironment{*stores, m_translation, voiceSession, fake.origin(), pageScriptTemplate(),
                       m_root / "downloads", [](const std::filesystem::path&) {}, false});
    fake.setResponder([this](const RecordedRequest& request) {
        return holding ? ScriptedAnswer::silence() : answer(request);
    });
}

void PageScriptTest::TearDown() {
    gtk_window_set_child(GTK_WINDOW(s_window), nullptr);
    WebViewTest::TearDown();
}

ChatWebViewInputs PageScriptTest::defaultInputs() {
    ChatWebViewInputs inputs;
    inputs.translationConfiguration = {TranslationProvider::Google, "token", "", ""};
    inputs.automaticMessageTranslation = inputs.receiveTranslationEnabled = inputs.isActive = true;
    inputs.translationFontSize = 14.0;
    inputs.translationFontColor = "#2563eb";
    inputs.inputLanguage = inputs.incomingLanguage = ChatLanguage::Chinese;
    inputs.outgoingLanguage = inputs.ownMessageLanguage = ChatLanguage::English;
    inputs.reloadToken = "00000000-0000-4000-8000-000000000000";
    return inputs;
}

void PageScriptTest::open(const std::string& fixture, ChatWebViewInputs inputs) {
    if (m_host) {
        gtk_window_set_child(GTK_WINDOW(s_window), nullptr);
        destroy(*m_host);
    }
    fake.clearRequests();
    unread.clear();
    recognised.clear();
    inputs.sessionID = kSessionA;
    inputs.pageURL = m_site.url(fixture);
    inputs.onUnreadCountChanged = [this](int count) { unread.push_back(count); };
    inputs.onMessagesRecognised = [this](bool known) { recognised.push_back(known); };
    m_inputs = std::move(inputs);
    m_host = &WebViewTest::open(m_inputs);
    gtk_window_set_child(GTK_WINDOW(s_window), GTK_WIDGET(m_host->gobj()));
    gtk_widget_grab_focus(GTK_WIDGET(m_host->webView()));
    ASSERT_TRUE(waitForLoad(*m_host, 1, 30s)) << fixture;
    ASSERT_EQ(loads(*m_host).failed, 0) << fixture << ": " << loads(*m_host).lastFailure;
    evaluate(kAnswerRecorder);
}

ScriptedAnswer PageScriptTest::answer(const RecordedRequest& request) const {
    if (respond)
        if (auto scripted = respond(request))
            return *scripted;
    if (request.path == "/api/transcribe")
        return ScriptedAnswer::json(200, {{"transcript", "transcript"}, {"translation", "译文"}});
    const auto texts = translationTexts(request);
    if (!texts)
        return ScriptedAnswer::json(404, {{"error", "no such path"}});
    const std::string target = request.json->value("target", std::string());
    nlohmann::json results = nlohmann::json::array();
    for (const auto& text : texts->first) {
        const std::string source = text.is_string() ? text.get<std::string>() : std::string();
        const auto found = translations.find(source);
        results.push_back(
            {{"text", found != translations.end() ? found->second : target + ":" + source},
             {"detectedLanguage", "en"}});
    }
    return ScriptedAnswer::json(200,
                                texts->second ? nlohmann::json{{"results", results}} : results[0]);
}

std::size_t PageScriptTest::release(const Responder& answer) {
    return fake.answerHeld(
        answer ? answer : [this](const RecordedRequest& request) -> std::optional<ScriptedAnswer> {
            return this->answer(request);
        });
}

std::vector<ServiceText> PageScriptTest::serviceTexts() const {
    std::vector<ServiceText> asked;
    for (const auto& request : fake.requests())
        if (const auto texts = translationTexts(request))
            for (const auto& text : texts->first)
                if (text.is_string())
                    asked.push_back({text.get<std::string>(),
                                     request.json->value("target", std::string()), texts->second});
    return asked;
}

nlohmann::json PageScriptTest::evaluateIn(const char* world, const std::string& script) {
    std::string error;
    const auto json = evaluateScript(m_host->webView(), script, world, &error);
    if (!json)
        return {{"error", error}};
    return *json == "undefined" ? nlohmann::json() : nlohmann::json::parse(*json, nullptr, false);
}

void PageScriptTest::resize(int width, int height) {
    gtk_window_set_default_size(GTK_WINDOW(s_window), width, height);
}

void PageScriptTest::clickAt(double x, double y, int button) {
    pointerAt(s_window, x, y, "click", button);
}

bool PageScriptTest::clickElement(const std::string& selector, int button) {
    const auto centre =
        evaluateInPage("(() => { const e = document.querySelector(" + quoted(selector) +
                       "); if (!e) return null; const r = e.getBoundingClientRect();"
                       " return [r.left + r.width / 2, r.top + r.height / 2]; })()");
    if (!centre.is_array() || centre.size() != 2)
        return false;
    clickAt(centre[0].get<double>(), centre[1].get<double>(), button);
    return true;
}

} // namespace aurelo::test
