#pragma once

#include "viewmodels/FormModel.hpp"

#include <gtkmm/entry.h>
#include <gtkmm/window.h>

namespace aurelo {

// A modal sheet over one form. It is shown while the form's "showing" flag is set; closing it
// any way clears that flag. Controls write to the form as the user works them, and the sheet
// redraws itself from the form whenever the form changes.
class FormSheet : public Gtk::Window {
public:
    ~FormSheet() override;

    // Shows or hides the sheet as the model says.
    void syncVisibility();

    // Replaces the entry's text only when it differs, so the caret stays where the user left it.
    static void showText(Gtk::Editable& entry, const std::string& text);

protected:
    FormSheet(FormModel& form, Gtk::Window* parent, const Glib::ustring& title);

    // Starts following the form and draws its current state. The sheet's constructor calls it
    // last, once every control exists; `firstControl` takes the focus whenever the sheet opens.
    void followForm(Gtk::Widget& firstControl);
    // Clears the sheet's showing flag, which hides it.
    void dismiss() { m_sheetForm.setShowing(false); }
    // The entry's text goes to the form as the user types, but not while the sheet redraws.
    template <typename Form, typename Owner>
    void bindEntry(Gtk::Editable& entry, Form& form, void (Owner::*setter)(std::string)) {
        entry.signal_changed().connect([this, &entry, &form, setter] {
            if (!m_syncing)
                (form.*setter)(entry.get_text());
        });
    }
    // Draws the form's current state into the controls; runs with `m_syncing` set.
    virtual void redraw() = 0;
    void refresh();

    // Set while the controls are being redrawn, so their change signals do not echo back.
    bool m_syncing = false;

private:
    FormModel& m_sheetForm;
    Gtk::Widget* m_firstControl = nullptr;
    sigc::connection m_formConnection;
};

} // namespace aurelo
