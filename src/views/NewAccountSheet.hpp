#pragma once

#include "viewmodels/NewSessionForm.hpp"
#include "views/FormSheet.hpp"
#include "views/ProxyFields.hpp"
#include "views/SessionPickers.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/stack.h>
#include <gtkmm/switch.h>
#include <gtkmm/togglebutton.h>

#include <array>
#include <memory>

namespace Gtk {
class ColorChooserDialog;
}

namespace aurelo {

// The new-account sheet: header, the four section buttons, the chosen section (basic,
// translation, proxy, appearance) and the footer with its hint and "添加账号".
class NewAccountSheet : public FormSheet {
public:
    NewAccountSheet(NewSessionForm& form, Gtk::Window* parent);
    ~NewAccountSheet() override;

    Gtk::Entry& nameField() { return m_name; }
    Gtk::Label& nameErrorLine() { return m_nameError; }
    Gtk::Button& addButton() { return m_add; }
    Gtk::Button& cancelButton() { return m_cancel; }
    Gtk::Label& footerHint() { return m_hint; }
    Gtk::ToggleButton& sectionButton(NewSessionForm::SetupSection section) {
        return *m_sections[static_cast<std::size_t>(section)];
    }
    Gtk::Switch& proxySwitch() { return m_proxyEnabled; }
    ChoicePicker& proxyTypePicker() { return m_pickers.proxyType; }
    ProxyFields& proxyFields() { return m_proxyFields; }

private:
    Gtk::Widget* buildBasicSection();
    Gtk::Widget* buildTranslationSection();
    Gtk::Widget* buildProxySection();
    Gtk::Widget* buildAppearanceSection();
    void openColorPicker();
    void redraw() override;

    NewSessionForm& m_form;
    Gtk::Label m_title;
    std::array<Gtk::ToggleButton*, 4> m_sections{};
    Gtk::Stack m_stack;

    Gtk::Entry m_name;
    Gtk::Label m_counter;
    Gtk::Label m_nameError;

    Gtk::Switch m_sendTranslation;
    Gtk::Switch m_receiveTranslation;
    SessionPickers m_pickers;

    Gtk::Switch m_proxyEnabled;
    Gtk::Label m_directNote;
    ProxyFields m_proxyFields;

    std::vector<Gtk::ToggleButton*> m_swatches;
    Gtk::ToggleButton* m_customColor = nullptr;
    std::vector<Gtk::ToggleButton*> m_sizes;
    Gtk::Label m_preview;
    std::unique_ptr<Gtk::ColorChooserDialog> m_colorDialog;

    Gtk::Image m_hintIcon;
    Gtk::Label m_hint;
    Gtk::Label m_error;
    Gtk::Button m_cancel{"取消"};
    Gtk::Button m_add;
};

} // namespace aurelo
