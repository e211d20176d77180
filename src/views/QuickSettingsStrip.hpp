#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/ChoicePicker.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/switch.h>

namespace aurelo {

// The strip under the tab bar: one line that sums up the selected account's translation
// settings, and under it, opened from that line and remembered, the controls that edit them.
class QuickSettingsStrip : public Gtk::Box {
public:
    static constexpr int kGroupSpacing = 14;

    explicit QuickSettingsStrip(ContentViewModel& model);
    ~QuickSettingsStrip() override;

    Gtk::Button& expander() { return m_expander; }
    Gtk::Widget& controls() { return m_controls; }

private:
    void refresh();
    void refreshLayout();
    void rebuildEngineMenu();

    ContentViewModel& m_model;
    QuickSettingsModel& m_quick;
    Gtk::Label m_summary;
    Gtk::Label m_engineSummary;
    Gtk::Box m_summaryLine{Gtk::Orientation::HORIZONTAL, 10};
    Gtk::Button m_expander;
    Gtk::Box m_controls{Gtk::Orientation::VERTICAL, 8};
    Gtk::Label m_recognition;
    Gtk::Switch m_send;
    ChoicePicker m_input{ChoicePicker::languages(LanguagePicker::Input), "原文语言"};
    ChoicePicker m_outgoing{ChoicePicker::accountOutgoing(), "发送翻译为"};
    Gtk::Switch m_group;
    Gtk::Switch m_receive;
    ChoicePicker m_incoming{ChoicePicker::languages(LanguagePicker::Incoming), "接收翻译为"};
    Gtk::MenuButton m_engine;
    Gtk::Box m_engineList{Gtk::Orientation::VERTICAL, 2};
    Gtk::DropDown m_fontSize;
    Gtk::ColorButton m_color;
    bool m_refreshing = false;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
