#include "views/FormSheet.hpp"

#include "views/WidgetHelpers.hpp"

namespace aurelo {

FormSheet::FormSheet(FormModel& form, Gtk::Window* parent, const Glib::ustring& title)
    : m_sheetForm(form) {
    configureSheet(*this, parent, title);
    // Closing by Escape or the window's own close button drops the form like "取消".
    signal_hide().connect([this] { dismiss(); });
}

FormSheet::~FormSheet() {
    m_formConnection.disconnect();
}

void FormSheet::followForm(Gtk::Widget& firstControl) {
    m_firstControl = &firstControl;
    m_formConnection = m_sheetForm.signalChanged().connect([this](FormModel::Field field) {
        if (field == FormModel::Field::Showing)
            syncVisibility();
        else
            refresh();
    });
    refresh();
}

void FormSheet::syncVisibility() {
    if (m_sheetForm.showing()) {
        refresh();
        present();
        if (m_firstControl)
            m_firstControl->grab_focus();
    } else if (get_visible()) {
        hide();
    }
}

void FormSheet::refresh() {
    m_syncing = true;
    redraw();
    m_syncing = false;
}

void FormSheet::showText(Gtk::Editable& entry, const std::string& text) {
    if (entry.get_text() != Glib::ustring(text))
        entry.set_text(text);
}

} // namespace aurelo
