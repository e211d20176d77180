#pragma once

#include "viewmodels/TranslationBoxModel.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/spinner.h>
#include <gtkmm/textview.h>

namespace aurelo {

// The box under the pages: type Chinese, press Return, check the English, put it into the chat.
class TranslationBox : public Gtk::Box {
public:
    explicit TranslationBox(TranslationBoxModel& model);
    ~TranslationBox() override;

    Gtk::TextView& inputField() { return m_input; }
    Gtk::Label& placeholder() { return m_placeholder; }

private:
    void refresh();

    TranslationBoxModel& m_model;
    Gtk::Label m_direction;
    Gtk::DropDown* m_picker = nullptr;
    Gtk::TextView m_input;
    Gtk::Label m_placeholder;
    Gtk::Spinner m_spinner;
    Gtk::Button m_translate{"翻译"};
    Gtk::Box m_result{Gtk::Orientation::VERTICAL, 4};
    Gtk::Label m_output;
    Gtk::Label m_source;
    Gtk::Label m_sourceCaption{"中文原文"};
    Gtk::Label m_error;
    Gtk::Button m_insert;
    Gtk::Label m_note;
    Gtk::Label m_detected;
    bool m_updatingInput = false;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
