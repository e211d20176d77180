// The 术语表 card's widgets, bound to its model.
#include "views/SettingsGlossaryList.hpp"

#include "views/WidgetHelpers.hpp"

namespace aurelo {

namespace {

Gtk::Label* cell(const std::string& text, const char* cssClass = nullptr) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->set_xalign(0);
    label->set_wrap(true);
    label->set_selectable(true);
    if (cssClass)
        label->add_css_class(cssClass);
    return label;
}

} // namespace

SettingsGlossaryList::SettingsGlossaryList(SettingsGlossaryModel& model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8), m_model(model) {
    // A plain entry: GTK 4.8's search entry is no GtkEntry, and its placeholder needs 4.10.
    m_filter.set_placeholder_text("筛选术语");
    setAccessibleLabel(m_filter, "筛选术语");
    m_filter.signal_changed().connect([this] { m_model.setFilter(m_filter.get_text()); });
    m_rows.set_column_spacing(16);
    m_rows.set_row_spacing(6);
    m_status.set_xalign(0);
    m_status.set_wrap(true);
    m_status.add_css_class("aurelo-subtitle");
    append(m_filter);
    append(m_rows);
    append(m_status);
    m_connection = m_model.signalChanged().connect([this] { show(); });
    show();
}

SettingsGlossaryList::~SettingsGlossaryList() {
    m_connection.disconnect();
}

void SettingsGlossaryList::show() {
    while (auto* child = m_rows.get_first_child())
        m_rows.remove(*child);
    auto entries = m_model.visibleEntries();
    if (!entries.empty()) {
        int column = 0;
        for (const char* heading : {"原文", "译文", "语言"})
            m_rows.attach(*cell(heading, "dim-label"), column++, 0);
    }
    int row = 1;
    for (const auto& entry : entries) {
        m_rows.attach(*cell(entry.source), 0, row);
        m_rows.attach(*cell(SettingsGlossaryModel::targetText(entry)), 1, row);
        m_rows.attach(*cell(SettingsGlossaryModel::languagesText(entry), "dim-label"), 2, row);
        ++row;
    }
    std::string status = m_model.statusText();
    m_status.set_text(status);
    m_status.set_visible(!status.empty());
}

} // namespace aurelo
