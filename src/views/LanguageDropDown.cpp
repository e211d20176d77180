#include "views/LanguageDropDown.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/stringlist.h>

namespace aurelo {

LanguageDropDown::LanguageDropDown(LanguagePicker picker, const Glib::ustring& accessibleLabel)
    : m_languages(pickerLanguages(picker)) {
    std::vector<Glib::ustring> titles;
    for (ChatLanguage language : m_languages)
        titles.emplace_back(std::string(title(language)));
    set_model(Gtk::StringList::create(titles));
    set_enable_search(true);
    setAccessibleLabel(*this, accessibleLabel);
    set_tooltip_text(accessibleLabel);
    property_selected().signal_changed().connect([this] {
        if (m_settingCode)
            return;
        const std::string chosen = code();
        if (!chosen.empty())
            m_chosen.emit(chosen);
    });
}

void LanguageDropDown::setCode(std::string_view languageCode) {
    guint position = GTK_INVALID_LIST_POSITION;
    for (std::size_t i = 0; i < m_languages.size(); ++i)
        if (aurelo::code(m_languages[i]) == languageCode)
            position = guint(i);
    if (get_selected() == position)
        return;
    m_settingCode = true;
    set_selected(position);
    m_settingCode = false;
}

std::string LanguageDropDown::code() const {
    const guint position = get_selected();
    if (position >= m_languages.size())
        return {};
    return std::string(aurelo::code(m_languages[position]));
}

} // namespace aurelo
