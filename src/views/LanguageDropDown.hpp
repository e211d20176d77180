#pragma once

#include "views/TranslationLook.hpp"

#include <gtkmm/dropdown.h>
#include <sigc++/sigc++.h>

#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// A drop-down of chat languages by their titles, offering the languages of one picker kind.
// setCode() shows a code without reporting it; signalChosen() reports only the user's choices.
class LanguageDropDown : public Gtk::DropDown {
public:
    LanguageDropDown(LanguagePicker picker, const Glib::ustring& accessibleLabel);

    // Shows the language of `code`; nothing is selected for a code the list does not offer.
    void setCode(std::string_view code);
    std::string code() const;

    sigc::signal<void(const std::string&)>& signalChosen() { return m_chosen; }

private:
    std::vector<ChatLanguage> m_languages;
    bool m_settingCode = false;
    sigc::signal<void(const std::string&)> m_chosen;
};

} // namespace aurelo
