#pragma once

#include "viewmodels/TranslationBoxModel.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/spinner.h>
#include <gtkmm/textview.h>

namespace aurelo {

// The box under the pages: type Chinese, press Return, check the English, put it into the chat.
class TranslationBox : public Gtk::Box {
public:
    TranslationBox(TranslationBoxModel& model, SettingsStore& settings);
    ~TranslationBox() override;

private:
    void refresh();

    TranslationBoxModel& m_model;
    SettingsStore& m_settings;
    Gtk::Label m_direction;
    Gtk::TextView m_input;
    Gtk::Spinner m_spinner;
    Gtk::Button m_translate{"翻译"};
    Gtk::Box m_result{Gtk::Orientation::VERTICAL, 4};
    Gtk::Label m_output;
    Gtk::Label m_source;
    Gtk::Label m_sourceCaption{"中文原文"};
    Gtk::Label m_error;
    Gtk::Button m_insert{"确认填入 WhatsApp"};
    Gtk::Label m_note;
    Gtk::Label m_detected;
    bool m_updatingInput = false;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
