#pragma once

// The new-account form: the platform it was opened for, the account's name, its translation
// switches, languages, engine, proxy and translation look, in four sections. Saving creates
// the account with every field at once, so that the first page ever built for it already has
// its proxy.

#include "models/AccountName.hpp"
#include "models/PlatformCatalogue.hpp"
#include "viewmodels/AccountFieldsForm.hpp"

namespace aurelo {

class NewSessionForm : public AccountFieldsForm {
public:
    // The sections of the form, by the text `setupSection` holds.
    enum class SetupSection { Basic, Translation, Proxy, Appearance };
    static constexpr std::array<std::string_view, 4> kSetupSectionTitles{"基础设置", "翻译设置",
                                                                         "网络代理", "外观设置"};

    // The counter under the name field shows the name's length against the AccountName limit;
    // it does not cut, and a longer name is not saved.
    static constexpr int kSuggestedNameLength = static_cast<int>(AccountName::kMaximumLength);
    static constexpr double kMinimumFontSize = 16;

    // What the window provides: the global values a new account starts from, and what follows
    // a save (the new tab made visible with the panels closed).
    NewSessionForm(SessionStore& store, std::function<SessionDefaults()> sessionDefaults,
                   std::function<void()> saved);

    const std::string& name() const { return m_name; }
    const std::string& platformID() const { return m_platformID; }
    bool proxyEnabled() const { return m_proxyEnabled; }
    bool sendTranslation() const { return m_sendTranslation; }
    bool receiveTranslation() const { return m_receiveTranslation; }
    double fontSize() const { return m_fontSize; }
    const std::string& fontColor() const { return m_fontColor; }
    const std::string& setupSection() const { return m_setupSection; }

    void setName(std::string value);
    void setProxyEnabled(bool value);
    void setSendTranslation(bool value);
    void setReceiveTranslation(bool value);
    void setFontSize(double value);
    void setFontColor(std::string value);
    void setSetupSection(std::string value);

    // An app-centre tile of a platform (the custom website has a form of its own).
    void addPlatform(const PlatformEntry& platform);
    // "+" of the tab bar: the form for the platform of the selected account.
    void beginForCurrentPlatform();
    // Fills the form from the global settings and opens it for `platform`, which gives the
    // account its address (none for WhatsApp).
    void prepare(const PlatformEntry& platform, const std::string& suggestedName);
    // The same for a catalogue id; an id the catalogue does not know gets a form whose save
    // creates nothing.
    void prepare(const std::string& platformID, const std::string& suggestedName);
    bool isValid() const;
    // "添加账号": creates the account with the form's every field in one change, selects it and
    // closes the form.
    void save();

    // What the sheet shows.
    std::string title() const;           // "新增 Telegram"
    std::string nameCounterText() const; // "7/30"
    // The line under the name field: why the name cannot be saved, once something is typed.
    std::string nameError() const;
    std::string_view footerHint() const;
    SetupSection shownSetupSection() const;
    // The swatch matching the form colour, or nullopt when the colour is a custom one.
    std::optional<std::size_t> selectedSwatch() const;
    // The size button matching the form's size, or nullopt when none does.
    std::optional<std::size_t> selectedFontSize() const;

protected:
    std::string proxyCheckAddress() const override;

private:
    void open(const std::string& platformID, std::optional<PlatformEntry> platform,
              const std::string& suggestedName);
    // The account the form describes, with a fresh id; nothing when the platform has no usable
    // address.
    std::optional<ChatSession> session() const;

    std::string m_platformID = "whatsapp";
    // The catalogue's entry for the id, or the entry the form was opened with.
    std::optional<PlatformEntry> m_platform;
    std::string m_name;
    bool m_proxyEnabled = false;
    bool m_sendTranslation = true;
    bool m_receiveTranslation = true;
    double m_fontSize = 18;
    std::string m_fontColor = "#D4AF37";
    std::string m_setupSection = "基础设置";
};

} // namespace aurelo
