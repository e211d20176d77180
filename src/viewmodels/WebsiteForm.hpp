#pragma once

// "添加自定义网站": a name and an address, checked and normalised before the account is created.

#include "models/SessionStore.hpp"
#include "viewmodels/FormModel.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

class WebsiteForm : public FormModel {
public:
    static constexpr std::string_view kNameMissing = "请输入网站名称。";
    static constexpr std::string_view kAddressInvalid = "请输入正确的网站地址。";

    // `saved` runs after an account was added (the window shows it, with the panels closed).
    explicit WebsiteForm(SessionStore& store, std::function<void()> saved = {});

    const std::string& name() const { return m_name; }
    const std::string& address() const { return m_address; }
    const std::string& error() const { return m_error; }

    void setName(std::string value);
    void setAddress(std::string value);

    // Opens the dialog with empty fields and no error.
    void open();
    // "添加": creates the account and closes the dialog, or says what is wrong.
    void save();

    // The address as typed: trimmed, "https://" in front when it names no scheme ("http://" for
    // a loopback, private or link-local address, localhost and .local names); the
    // normalised address when it parses as an http or https address with a host.
    static std::optional<std::string> normalizedAddress(std::string_view typed);
    // What the line under the address says while it names no scheme: which one it will open
    // with, "将以 http://127.0.0.1:8099/wa.html 打开". Empty otherwise.
    static std::string schemeNote(std::string_view typed);
    std::string addressNote() const { return schemeNote(m_address); }

private:
    SessionStore& m_store;
    std::function<void()> m_saved;
    std::string m_name;
    std::string m_address;
    std::string m_error;
};

} // namespace aurelo
