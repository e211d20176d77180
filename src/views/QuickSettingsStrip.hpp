#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/ChoicePicker.hpp"

#include <gtkmm/box.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/switch.h>

namespace aurelo {

// The strip under the tab bar that edits the selected account's translation settings, and the
// page functions of the selected account.
class QuickSettingsStrip : public Gtk::Box {
public:
    static constexpr int kGroupSpacing = 14;

    explicit QuickSettingsStrip(ContentViewModel& model);
    ~QuickSettingsStrip() override;

private:
    void refresh();
    void rebuildEngineMenu();
    // Runs `action` with the selected session's id, when there is one.
    void withSelection(const std::function<void(const ChatSession&)>& action);

    ContentViewModel& m_model;
    QuickSettingsModel& m_quick;
    Gtk::Label m_summary;
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
