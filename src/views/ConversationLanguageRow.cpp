// Binds the conversation language line and its override picker to their model.
#include "views/ConversationLanguageRow.hpp"

#include "views/WidgetHelpers.hpp"

namespace aurelo {

namespace {

std::vector<ChoicePicker::Choice> overrideChoices() {
    std::vector<ChoicePicker::Choice> choices;
    for (auto& [value, title] : ConversationLanguageModel::overrideChoices())
        choices.push_back({value, Glib::ustring(title)});
    return choices;
}

} // namespace

ConversationLanguageRow::ConversationLanguageRow(ConversationLanguageModel& model)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8), m_model(model),
      m_override(overrideChoices(),
                 Glib::ustring(std::string(ConversationLanguageModel::kOverrideName))) {
    add_css_class("aurelo-conversation-language");
    append(*symbolImage("person.2.fill"));
    m_text.add_css_class("aurelo-subtitle");
    m_text.set_xalign(0);
    m_text.set_ellipsize(Pango::EllipsizeMode::END);
    append(m_text);
    m_override.set_valign(Gtk::Align::CENTER);
    append(m_override);
    m_override.signalChosen().connect([this](const std::string& value) {
        if (!m_refreshing)
            m_model.setOverride(value);
    });
    m_connections.push_back(m_model.signalChanged().connect([this] { refresh(); }));
    refresh();
}

ConversationLanguageRow::~ConversationLanguageRow() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void ConversationLanguageRow::refresh() {
    m_refreshing = true;
    set_visible(m_model.rowShown());
    m_text.set_text(m_model.rowText());
    m_override.set_visible(m_model.overrideAvailable());
    m_override.setValue(m_model.overrideValue());
    m_refreshing = false;
}

} // namespace aurelo
