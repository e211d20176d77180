#pragma once

// The main window's preferences, one user-defaults key each, read at start and written on every
// change. The translation look here is the fallback of sessions without a look of their own.

#include "platform/UserDefaults.hpp"

#include <sigc++/sigc++.h>

#include <string>
#include <string_view>

namespace aurelo {

class MainWindowPreferences {
public:
    enum class Field {
        PageZoom, ShowTranslationBox, ShowQuickTranslationSettings, ReceiveTranslationEnabled,
        GroupTranslationEnabled, TranslationFontSize, TranslationFontColor,
        DidAdoptGoldTranslationColor, DoNotDisturb, QuickSettingsExpanded, FocusLayout,
    };

    // What the main window shows around the pages. The pages take whatever height is left, so
    // every part here is a part of the window's height the pages do not get.
    struct Layout {
        bool header = true;            // title, version and toolbar above the tabs
        bool quickSettings = true;     // the one-line summary of the account's translation
        bool quickControls = false;    // the full controls under that summary
        bool translationBox = true;
        bool operator==(const Layout&) const = default;
    };

    static constexpr std::string_view kPageZoomKey = "aureloTranslator.pageZoom";
    static constexpr std::string_view kShowTranslationBoxKey = "aureloTranslator.showTranslationBox";
    static constexpr std::string_view kShowQuickTranslationSettingsKey =
        "aureloTranslator.showQuickTranslationSettings";
    static constexpr std::string_view kReceiveTranslationEnabledKey =
        "aureloTranslator.receiveTranslationEnabled";
    static constexpr std::string_view kGroupTranslationEnabledKey =
        "aureloTranslator.groupTranslationEnabled";
    static constexpr std::string_view kTranslationFontSizeKey = "aureloTranslator.translationFontSize";
    static constexpr std::string_view kTranslationFontColorKey =
        "aureloTranslator.translationFontColor";
    static constexpr std::string_view kDidAdoptGoldTranslationColorKey =
        "aureloTranslator.didAdoptGoldTranslationColor";
    static constexpr std::string_view kDoNotDisturbKey = "aureloTranslator.doNotDisturb";
    static constexpr std::string_view kQuickSettingsExpandedKey =
        "aureloTranslator.quickSettingsExpanded";
    static constexpr std::string_view kFocusLayoutKey = "aureloTranslator.focusLayout";

    static constexpr std::string_view kGoldColor = "#D4AF37";
    static constexpr std::string_view kOldGreenColor = "#18A058";

    explicit MainWindowPreferences(UserDefaults& defaults);
    MainWindowPreferences(const MainWindowPreferences&) = delete;
    MainWindowPreferences& operator=(const MainWindowPreferences&) = delete;

    double pageZoom() const { return m_pageZoom; }
    bool showTranslationBox() const { return m_showTranslationBox; }
    bool showQuickTranslationSettings() const { return m_showQuickTranslationSettings; }
    bool receiveTranslationEnabled() const { return m_receiveTranslationEnabled; }
    bool groupTranslationEnabled() const { return m_groupTranslationEnabled; }
    double translationFontSize() const { return m_translationFontSize; }
    const std::string& translationFontColor() const { return m_translationFontColor; }
    bool didAdoptGoldTranslationColor() const { return m_didAdoptGoldTranslationColor; }
    bool doNotDisturb() const { return m_doNotDisturb; }
    bool quickSettingsExpanded() const { return m_quickSettingsExpanded; }
    bool focusLayout() const { return m_focusLayout; }

    // The focus layout leaves the pages the tab row alone; its button in that row brings the
    // rest back in one click. Otherwise the account's translation settings are one line whose
    // controls open under it, and the translation box shows as the user chose.
    Layout layout() const;

    void setPageZoom(double zoom);
    void setShowTranslationBox(bool value);
    void setShowQuickTranslationSettings(bool value);
    void setReceiveTranslationEnabled(bool value);
    void setGroupTranslationEnabled(bool value);
    void setTranslationFontSize(double size);
    void setTranslationFontColor(std::string color);
    void setDoNotDisturb(bool value);
    void setQuickSettingsExpanded(bool value);
    void setFocusLayout(bool value);

    // Once per installation: the old green translation colour becomes gold; any other colour
    // the user chose stays.
    void adoptGoldTranslationColor();

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void write(Field field, std::string_view key, UserDefaults::Json value);

    UserDefaults& m_defaults;
    double m_pageZoom;
    bool m_showTranslationBox;
    bool m_showQuickTranslationSettings;
    bool m_receiveTranslationEnabled;
    bool m_groupTranslationEnabled;
    double m_translationFontSize;
    std::string m_translationFontColor;
    bool m_didAdoptGoldTranslationColor;
    bool m_doNotDisturb;
    bool m_quickSettingsExpanded;
    bool m_focusLayout;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
