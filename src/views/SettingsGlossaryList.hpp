#pragma once

// The body of the settings page's 术语表 card: a filter field, one row per term (source, target,
// languages) and the model's status line. It only binds to SettingsGlossaryModel.

#include "viewmodels/SettingsGlossaryModel.hpp"

#include <gtkmm/box.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>
#include <gtkmm/entry.h>

namespace aurelo {

class SettingsGlossaryList : public Gtk::Box {
public:
    explicit SettingsGlossaryList(SettingsGlossaryModel& model);
    ~SettingsGlossaryList() override;

    // For the widget tests.
    Gtk::Entry& filterField() { return m_filter; }
    Gtk::Grid& rows() { return m_rows; }
    Gtk::Label& statusLine() { return m_status; }

private:
    void show();

    SettingsGlossaryModel& m_model;
    Gtk::Entry m_filter;
    Gtk::Grid m_rows;
    Gtk::Label m_status;
    sigc::connection m_connection;
};

} // namespace aurelo
