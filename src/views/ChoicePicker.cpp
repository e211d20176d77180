#include "views/ChoicePicker.hpp"

#include "viewmodels/OutgoingLanguageChoice.hpp"

#include "viewmodels/AccountFieldsForm.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/stringlist.h>

#include <algorithm>

namespace aurelo {

ChoicePicker::ChoicePicker(std::vector<Choice> choices, const Glib::ustring& accessibleName) {
    setChoices(std::move(choices));
    setAccessibleLabel(*this, accessibleName);
    set_tooltip_text(accessibleName);
    property_selected().signal_changed().connect([this] {
        if (!m_updating && get_selected() < m_choices.size())
            m_chosen.emit(m_choices[get_selected()].value);
    });
}

std::vector<ChoicePicker::Choice> ChoicePicker::languages(LanguagePicker picker) {
    std::vector<Choice> choices;
    for (ChatLanguage language : pickerLanguages(picker))
        choices.push_back(
            {std::string(code(language)), Glib::ustring(std::string(title(language)))});
    return choices;
}

std::vector<ChoicePicker::Choice> ChoicePicker::accountOutgoing() {
    std::vector<Choice> choices;
    for (auto& [value, title] : OutgoingLanguageChoice::choices())
        choices.push_back({value, Glib::ustring(title)});
    return choices;
}

void ChoicePicker::setChoices(std::vector<Choice> choices) {
    const auto same = [](const Choice& a, const Choice& b) {
        return a.value == b.value && a.title == b.title;
    };
    if (get_model() && std::ranges::equal(choices, m_choices, same))
        return;
    const std::string shown = value();
    m_choices = std::move(choices);
    std::vector<Glib::ustring> titles;
    for (const auto& choice : m_choices)
        titles.push_back(choice.title);
    m_updating = true;
    set_model(Gtk::StringList::create(titles));
    m_updating = false;
    if (!shown.empty())
        setValue(shown);
}

std::vector<ChoicePicker::Choice> ChoicePicker::proxyTypes() {
    std::vector<Choice> choices;
    for (const auto& type : AccountFieldsForm::kProxyTypes)
        choices.push_back({std::string(type.value), Glib::ustring(std::string(type.title))});
    return choices;
}

void ChoicePicker::setValue(const std::string& value) {
    guint position = GTK_INVALID_LIST_POSITION;
    for (std::size_t i = 0; i < m_choices.size(); ++i)
        if (m_choices[i].value == value)
            position = guint(i);
    if (get_selected() == position)
        return;
    m_updating = true;
    set_selected(position);
    m_updating = false;
}

std::string ChoicePicker::value() const {
    return get_selected() < m_choices.size() ? m_choices[get_selected()].value : std::string();
}

void ChoicePicker::choose(const std::string& value) {
    for (std::size_t i = 0; i < m_choices.size(); ++i)
        if (m_choices[i].value == value)
            set_selected(guint(i));
}

} // namespace aurelo
