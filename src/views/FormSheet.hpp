#pragma once

#include "viewmodels/SessionFormModel.hpp"

#include <gtkmm/entry.h>
#include <gtkmm/window.h>

namespace aurelo {

// A modal sheet over one part of the session form. It is shown while one of the form's
// "showing" flags is set; closing it any way clears that flag. Controls write to the form as the
// user works them, and the sheet redraws itself from the form whenever the form changes.
class FormSheet : public Gtk::Window {
public:
    // The form's flag for this sheet: the change that announces it, its getter and its setter.
    struct ShowingFlag {
        SessionFormModel::Field field;
        bool (SessionFormModel::*get)() const;
        void (SessionFormModel::*set)(bool);
    };

    ~FormSheet() override;

    // Shows or hides the sheet as the model says.
    void syncVisibility();

protected:
    FormSheet(SessionFormModel& form, Gtk::Window* parent, const Glib::ustring& title,
              ShowingFlag showing);

    // Starts following the form and draws its current state. The sheet's constructor calls it
    // last, once every control exists; `firstControl` takes the focus whenever the sheet opens.
    void followForm(Gtk::Widget& firstControl);
    // Clears the sheet's showing flag, which hides it.
    void dismiss() { (m_form.*m_showing.set)(false); }
    // The entry's text goes to the form as the user types, but not while the sheet redraws.
    void bindEntry(Gtk::Entry& entry, void (SessionFormModel::*setter)(std::string));
    // Replaces the entry's text only when it differs, so the caret stays where the user left it.
    static void showText(Gtk::Entry& entry, const std::string& text);

    // Draws the form's current state into the controls; runs with `m_syncing` set.
    virtual void redraw() = 0;
    void refresh();

    SessionFormModel& m_form;
    // Set while the controls are being redrawn, so their change signals do not echo back.
    bool m_syncing = false;

private:
    ShowingFlag m_showing;
    Gtk::Widget* m_firstControl = nullptr;
    sigc::connection m_formConnection;
};

} // namespace aurelo
