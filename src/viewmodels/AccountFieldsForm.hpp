#pragma once

// What the two forms that set up an account share: the account's four languages, its engine and
// its proxy, the rules both apply to a typed or pasted proxy host and port, and the store they
// write to.

#include "models/AccountStore.hpp"
#include "models/ProxyPasswords.hpp"
#include "models/SessionStore.hpp"
#include "platform/Cancellable.hpp"
#include "viewmodels/EngineNames.hpp"
#include "viewmodels/FormModel.hpp"
#include "web/ProxyCheck.hpp"
#include "web/ProxyLine.hpp"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

class AccountFieldsForm : public FormModel {
public:
    struct ProxyTypeChoice {
        std::string_view title;
        std::string_view value; // what the session stores
    };
    static constexpr std::array<ProxyTypeChoice, 2> kProxyTypes{
        {{"HTTP CONNECT", "http"}, {"SOCKS5", "socks5"}}};
    // Shown beside the proxy fields of both sheets. An account's proxy carries only its own web
    // pages; translations and voice transcriptions go from the application to the managed
    // service, as do login and update checks, so a user who must hide their address from the
    // platform should not assume those requests are hidden behind the proxy too.
    static constexpr std::string_view kProxyScopeNote =
        "代理只用于此账号的网页。翻译和语音请求由应用直接发往 Aurelo 翻译服务，"
        "登录和更新检查也一样，都不经过此代理。";

    const std::string& inputLanguage() const { return m_inputLanguage; }
    const std::string& outgoingLanguage() const { return m_outgoingLanguage; }
    const std::string& incomingLanguage() const { return m_incomingLanguage; }
    const std::string& ownMessageLanguage() const { return m_ownMessageLanguage; }
    const std::string& provider() const { return m_provider; }
    const std::string& proxyType() const { return m_proxyType; }
    const std::string& proxyHost() const { return m_proxyHost; }
    const std::string& proxyPort() const { return m_proxyPort; }
    // "代理用户名" and "代理密码": the login the proxy asks for. The name is stored with the
    // account, the password in the keychain.
    const std::string& proxyUsername() const { return m_proxyUsername; }
    const std::string& proxyPassword() const { return m_proxyPassword; }

    void setInputLanguage(std::string value);
    void setOutgoingLanguage(std::string value);
    void setIncomingLanguage(std::string value);
    void setOwnMessageLanguage(std::string value);
    void setProvider(std::string value);
    void setProxyType(std::string value);
    // What the user did to the host field. A change that puts in more than one character at
    // once (a paste, a drop, an input method's commit) and makes a whole proxy line, with a
    // port, fills the fields that line names: host and port, user name and password when it
    // has a login, the type when it is a URL. Typing a line key by key leaves it as typed: it
    // would otherwise be split at its first digit after a colon, under the user's caret.
    void setProxyHost(std::string value);
    void setProxyPort(std::string value);
    void setProxyUsername(std::string value);
    void setProxyPassword(std::string value);

    // "测试代理": connects through the proxy as entered (not yet saved) to the account's
    // platform address; `proxyCheckLine` then says "代理可用 · 延迟 N ms" or why not.
    void checkProxy();
    bool checkingProxy() const { return m_proxyCheck.running(); }
    const std::string& proxyCheckLine() const { return m_proxyCheckLine; }
    static constexpr std::string_view kProxyCheckRunning = "正在测试代理…";
    static constexpr std::string_view kProxyCheckIncomplete =
        "请先填写代理主机和 1–65535 之间的端口";

    // The line under the host field: empty for no host or a host, otherwise why it is none
    // (kInvalidProxyHost, or the reason a pasted URL's proxy type cannot be used). Neither sheet
    // saves a proxy while it shows.
    std::string proxyHostError() const;

    // Why the last save did not go through; empty once it did or the sheet opens again.
    const std::string& error() const { return m_error; }

    // Where proxy passwords are kept; without it (tests of other fields) a password is dropped.
    void setProxyPasswords(ProxyPasswords* passwords) { m_proxyPasswords = passwords; }
    // Where the service's engine list is read; without it the built-in engines are offered.
    void setEngineList(const AccountStore* account) { m_engineList = account; }
    // The engine picker's choices, named as the service names them (see EngineNames).
    std::vector<EngineChoice> providerChoices() const;
    // The service listed its engines again: the sheet redraws its picker.
    void engineListChanged() { signalChanged().emit(Field::Provider); }

    // A decimal integer as typed: an optional "+" or "-" and ASCII digits, nothing else (no
    // blanks); nullopt when it is not one or does not fit.
    static std::optional<long long> parseDecimalInteger(std::string_view text);
    // The proxy port rule of both sheets: a decimal integer in 1…65535.
    static bool isValidProxyPort(std::string_view text);

protected:
    // What the window provides: the global values an account falls back to, and what follows
    // a save.
    AccountFieldsForm(SessionStore& store, std::function<SessionDefaults()> sessionDefaults,
                      std::function<void()> saved);

    SessionDefaults sessionDefaults() const { return m_sessionDefaults(); }
    // The proxy fields as a sheet opens on them, the host as stored even when it reads as a
    // line (an account saved before hosts were checked): the user sees what the account has.
    void loadProxyFields(std::string type, std::string host, std::string port, std::string username,
                         std::string password);
    const ChatSession* selectedSession() const;
    // The trimmed port field as a stored port: nothing when it is not an integer that fits.
    std::optional<int> storedProxyPort() const;
    void announceSaved() const;
    // A sheet that opens starts without the last check's line, and without a check running.
    void resetProxyCheck();
    // The address "测试代理" connects to: the account's platform.
    virtual std::string proxyCheckAddress() const = 0;
    // The trimmed user name as stored: absent when empty.
    std::optional<std::string> storedProxyUsername() const;
    void setError(std::string error);
    // Stores the password field for a session, then runs `stored`; an empty field, no user name
    // or `keep` false (the account has no proxy) removes it. A locked keyring is offered for
    // unlocking once for this save. A keychain that refuses makes the save's error and `stored`
    // never runs: the save stops, so the password the user typed is not lost.
    void storeProxyPassword(const std::string& id, bool keep, std::function<void()> stored);
    // The stored password of a session, for a sheet that opens on it.
    std::string storedProxyPassword(const std::string& id) const;

    SessionStore& m_store;

private:
    void fillFromProxyLine(const ProxyLine& line);
    void storeProxyPassword(const std::string& id, bool keep, bool mayAskToUnlock,
                            std::function<void()> stored);

    std::function<SessionDefaults()> m_sessionDefaults;
    std::function<void()> m_saved;
    std::string m_inputLanguage = "auto";
    std::string m_outgoingLanguage = "en";
    std::string m_incomingLanguage = "zh-CN";
    std::string m_ownMessageLanguage = "zh-CN";
    std::string m_provider = "openai";
    std::string m_proxyType = "http";
    std::string m_proxyHost;
    std::string m_proxyPort;
    std::string m_proxyUsername;
    std::string m_proxyPassword;
    std::string m_error;
    ProxyPasswords* m_proxyPasswords = nullptr;
    const AccountStore* m_engineList = nullptr;
    std::string m_proxyCheckLine;
    ProxyCheck m_proxyCheck;
    // Checked first by a proxy check's report and an unlock prompt's answer: a form that is
    // gone is not written to.
    Cancellable m_cancellable;
};

} // namespace aurelo
