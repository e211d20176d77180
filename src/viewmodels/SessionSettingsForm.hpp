#pragma once

// "账号独立设置": the selected account's languages, engine and proxy. It opens with the
// account's effective values, so that saving without edits leaves the account as it was.

#include "viewmodels/AccountFieldsForm.hpp"

namespace aurelo {

class SessionSettingsForm : public AccountFieldsForm {
public:
    static constexpr std::string_view kPortInvalid =
        "代理端口必须在 1–65535 之间；不使用代理时请清空代理主机。";

    // What the window provides: the global values an account falls back to, and what follows
    // a save (every page reloaded).
    SessionSettingsForm(SessionStore& store, std::function<SessionDefaults()> sessionDefaults,
                        std::function<void()> saved);

    const std::string& error() const { return m_error; }

    // Opens the sheet for the selected account; nothing without a selection.
    void begin();
    // "保存并重新载入": writes the languages, engine and proxy into the selected account.
    void save();

private:
    std::string m_error;
};

} // namespace aurelo
