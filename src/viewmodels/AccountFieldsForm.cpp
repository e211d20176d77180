#include "viewmodels/AccountFieldsForm.hpp"

#include "platform/Text.hpp"
#include "translation/TranslationService.hpp"

#include <glib.h>

#include <algorithm>
#include <limits>

namespace aurelo {

namespace {

// How many characters one change put into a field's text: the new text less the start and the
// end it shares with the old one.
std::size_t insertedCharacters(std::string_view before, std::string_view after) {
    const auto characters = [](std::string_view text) {
        std::u32string wide;
        if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
            return std::u32string(text.begin(), text.end());
        for (const char* p = text.data(); p < text.data() + text.size(); p = g_utf8_next_char(p))
            wide += static_cast<char32_t>(g_utf8_get_char(p));
        return wide;
    };
    const std::u32string a = characters(before);
    const std::u32string b = characters(after);
    const std::size_t shared = std::min(a.size(), b.size());
    std::size_t start = 0;
    while (start < shared && a[start] == b[start])
        ++start;
    std::size_t end = 0;
    while (end < shared - start && a[a.size() - 1 - end] == b[b.size() - 1 - end])
        ++end;
    return b.size() - start - end;
}

} // namespace

AccountFieldsForm::AccountFieldsForm(SessionStore& store,
                                     std::function<SessionDefaults()> sessionDefaults,
                                     std::function<void()> saved)
    : m_store(store), m_sessionDefaults(std::move(sessionDefaults)), m_saved(std::move(saved)) {}

const ChatSession* AccountFieldsForm::selectedSession() const {
    for (const auto& session : m_store.sessions())
        if (session.id == m_store.selectedID())
            return &session;
    return nullptr;
}

void AccountFieldsForm::announceSaved() const {
    if (m_saved)
        m_saved();
}

void AccountFieldsForm::setInputLanguage(std::string value) {
    assign(m_inputLanguage, std::move(value), Field::InputLanguage);
}
void AccountFieldsForm::setOutgoingLanguage(std::string value) {
    assign(m_outgoingLanguage, std::move(value), Field::OutgoingLanguage);
}
void AccountFieldsForm::setIncomingLanguage(std::string value) {
    assign(m_incomingLanguage, std::move(value), Field::IncomingLanguage);
}
void AccountFieldsForm::setOwnMessageLanguage(std::string value) {
    assign(m_ownMessageLanguage, std::move(value), Field::OwnMessageLanguage);
}
void AccountFieldsForm::setProvider(std::string value) {
    assign(m_provider, std::move(value), Field::Provider);
}
std::vector<EngineChoice> AccountFieldsForm::providerChoices() const {
    static const std::vector<RemoteEngine> none;
    return EngineNames::choices(m_engineList ? m_engineList->availableEngines() : none, m_provider);
}

void AccountFieldsForm::setProxyType(std::string value) {
    assign(m_proxyType, std::move(value), Field::ProxyType);
}
void AccountFieldsForm::setProxyHost(std::string value) {
    if (insertedCharacters(m_proxyHost, value) > 1)
        if (const auto line = ProxyLine::parse(value); line && !line->bareHost())
            return fillFromProxyLine(*line);
    assign(m_proxyHost, std::move(value), Field::ProxyHost);
}
void AccountFieldsForm::setProxyPort(std::string value) {
    assign(m_proxyPort, std::move(value), Field::ProxyPort);
}
void AccountFieldsForm::setProxyUsername(std::string value) {
    assign(m_proxyUsername, std::move(value), Field::ProxyUsername);
}
void AccountFieldsForm::setProxyPassword(std::string value) {
    assign(m_proxyPassword, std::move(value), Field::ProxyPassword);
}

void AccountFieldsForm::fillFromProxyLine(const ProxyLine& line) {
    // The host first: the sheet redraws on every field, and the host entry is the one whose
    // change is still being delivered.
    assign(m_proxyHost, line.host, Field::ProxyHost);
    assign(m_proxyPort, line.port, Field::ProxyPort);
    // A line without a login leaves one typed beside it, as sellers often send it apart.
    if (!line.username.empty()) {
        assign(m_proxyUsername, line.username, Field::ProxyUsername);
        assign(m_proxyPassword, line.password, Field::ProxyPassword);
    }
    if (line.kind)
        setProxyType(*line.kind == ProxyRoute::Kind::Socks5 ? "socks5" : "http");
}

void AccountFieldsForm::loadProxyFields(std::string type, std::string host, std::string port,
                                        std::string username, std::string password) {
    setProxyType(std::move(type));
    assign(m_proxyHost, std::move(host), Field::ProxyHost);
    setProxyPort(std::move(port));
    setProxyUsername(std::move(username));
    setProxyPassword(std::move(password));
}

std::string AccountFieldsForm::proxyHostError() const {
    const std::string host = text::trimmed(m_proxyHost);
    if (host.empty() || proxyURIHost(host))
        return {};
    // A pasted URL that reads but names a proxy type we cannot use says so; any other host
    // that is none gets the one instruction.
    const auto line = ProxyLine::parse(host);
    return line ? std::string(kInvalidProxyHost) : line.error();
}

void AccountFieldsForm::checkProxy() {
    if (std::string reason = proxyHostError(); !reason.empty()) {
        m_proxyCheck.cancel();
        assign(m_proxyCheckLine, std::move(reason), Field::ProxyCheck);
        return;
    }
    const std::string host = text::trimmed(m_proxyHost);
    const std::string port = text::trimmed(m_proxyPort);
    const auto route = isValidProxyPort(port)
                           ? proxyRoute(m_proxyType, host, parseDecimalInteger(port),
                                        storedProxyUsername().value_or(""),
                                        storedProxyUsername() ? m_proxyPassword : "")
                           : SessionProxy(std::nullopt);
    if (!route) {
        m_proxyCheck.cancel();
        assign(m_proxyCheckLine, route.error(), Field::ProxyCheck);
        return;
    }
    if (!*route) {
        m_proxyCheck.cancel();
        assign(m_proxyCheckLine, std::string(kProxyCheckIncomplete), Field::ProxyCheck);
        return;
    }
    m_proxyCheck.start(**route, proxyCheckAddress(),
                       [this, cancellation = m_cancellable.token()](const ProxyCheck::Result& r) {
                           if (!cancellation.isCancelled())
                               assign(m_proxyCheckLine, r.line(), Field::ProxyCheck);
                       });
    // After the start, so that the sheet drawing this line sees the check running.
    assign(m_proxyCheckLine, std::string(kProxyCheckRunning), Field::ProxyCheck);
}

void AccountFieldsForm::resetProxyCheck() {
    m_proxyCheck.cancel();
    assign(m_proxyCheckLine, std::string(), Field::ProxyCheck);
}

std::optional<std::string> AccountFieldsForm::storedProxyUsername() const {
    std::string name = text::trimmed(m_proxyUsername);
    if (name.empty())
        return std::nullopt;
    return name;
}

void AccountFieldsForm::setError(std::string error) {
    assign(m_error, std::move(error), Field::Error);
}

void AccountFieldsForm::storeProxyPassword(const std::string& id, bool keep,
                                           std::function<void()> stored) {
    storeProxyPassword(id, keep, true, std::move(stored));
}

void AccountFieldsForm::storeProxyPassword(const std::string& id, bool keep, bool mayAskToUnlock,
                                           std::function<void()> stored) {
    if (!m_proxyPasswords)
        return stored();
    // The password's change is told once `stored` has written the account too.
    const auto held = m_proxyPasswords->holdChanges();
    // Passwords may begin or end with blanks: kept exactly as typed.
    auto saved =
        m_proxyPasswords->setPassword(id, keep && storedProxyUsername() ? m_proxyPassword : "");
    if (saved)
        return stored();
    if (saved.error().locked && mayAskToUnlock) {
        // The desktop asks the user to unlock the keyring, once for this save; the error is
        // shown only when they cancel (or it stays locked).
        m_proxyPasswords->unlock([this, cancellation = m_cancellable.token(), id, keep,
                                  stored = std::move(stored),
                                  error = saved.error()](bool unlocked) mutable {
            if (cancellation.isCancelled())
                return;
            if (unlocked)
                return storeProxyPassword(id, keep, false, std::move(stored));
            setError("无法保存代理密码：" + error.description());
        });
        return;
    }
    setError("无法保存代理密码：" + saved.error().description());
}

std::string AccountFieldsForm::storedProxyPassword(const std::string& id) const {
    return m_proxyPasswords ? m_proxyPasswords->password(id) : std::string();
}

std::optional<long long> AccountFieldsForm::parseDecimalInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<long long>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool AccountFieldsForm::isValidProxyPort(std::string_view text) {
    const auto port = parseDecimalInteger(text);
    return port && *port >= 1 && *port <= 65535;
}

std::optional<int> AccountFieldsForm::storedProxyPort() const {
    const auto value = parseDecimalInteger(text::trimmed(m_proxyPort));
    if (!value || *value < std::numeric_limits<int>::min() ||
        *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace aurelo
