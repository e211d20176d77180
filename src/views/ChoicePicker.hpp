#pragma once

#include "viewmodels/TranslationLook.hpp"

#include <gtkmm/dropdown.h>

#include <string>
#include <vector>

namespace aurelo {

// A drop-down over a list of (stored value, title) choices, as the account sheets offer
// languages, engines and proxy types. The model holds the stored value; the picker shows its
// title and reports the value the user chose.
class ChoicePicker : public Gtk::DropDown {
public:
    struct Choice {
        std::string value;
        Glib::ustring title;
    };

    ChoicePicker(std::vector<Choice> choices, const Glib::ustring& accessibleName);

    static std::vector<Choice> languages(LanguagePicker picker);
    // An account's "发送翻译" choices: 跟随客户语言 and the outgoing languages.
    static std::vector<Choice> accountOutgoing();
    static std::vector<Choice> proxyTypes();

    // Replaces the choices (the engine list changes with the service's), without reporting.
    void setChoices(std::vector<Choice> choices);

    // Shows the choice with this value (none when it is not offered) without reporting it.
    void setValue(const std::string& value);
    // The chosen value; empty when nothing is chosen.
    std::string value() const;
    // Selects the choice with this value as the user would, reporting it.
    void choose(const std::string& value);

    sigc::signal<void(const std::string&)>& signalChosen() { return m_chosen; }

private:
    std::vector<Choice> m_choices;
    bool m_updating = false;
    sigc::signal<void(const std::string&)> m_chosen;
};

} // namespace aurelo
