#include "views/FormSheet.hpp"

#include "views/WidgetHelpers.hpp"

namespace aurelo {

FormSheet::FormSheet(SessionFormModel& form, Gtk::Window* parent, const Glib::ustring& title,
                     ShowingFlag showing)
    : m_form(form), m_showing(showing) {
    configureSheet(*this, parent, title);
    // Closing by Escape or the window's own close button drops the form like "取消".
    signal_hide().connect([this] { dismiss(); });
}

FormSheet::~FormSheet() {
    m_formConnection.disconnect();
}

void FormSheet::followForm(Gtk::Widget& firstControl) {
    m_firstControl = &firstControl;
    m_formConnection = m_form.signalChanged().connect([this](SessionFormModel::Field field) {
        if (field == m_showing.field)
            syncVisibility();
        else
            refresh();
    });
    refresh();
}

void FormSheet::syncVisibility() {
    if ((m_form.*m_showing.get)()) {
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

void FormSheet::bindEntry(Gtk::Entry& entry, void (SessionFormModel::*setter)(std::string)) {
    entry.signal_changed().connect([this, &entry, setter] {
        if (!m_syncing)
            (m_form.*setter)(entry.get_text());
    });
}

void FormSheet::showText(Gtk::Entry& entry, const std::string& text) {
    if (entry.get_text() != Glib::ustring(text))
        entry.set_text(text);
}

} // namespace aurelo
