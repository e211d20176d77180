#include "views/WidgetHelpers.hpp"

#include "viewmodels/SymbolIcons.hpp"
#include "viewmodels/WindowGeometry.hpp"

#include <gtkmm/shortcut.h>
#include <gtkmm/shortcutaction.h>
#include <gtkmm/shortcutcontroller.h>
#include <gtkmm/shortcuttrigger.h>

namespace aurelo {

namespace {

// A row of buttons with its margins and the spacing above it, with room for a larger font.
constexpr int kButtonRowHeight = 100;

void activateCallback(GtkPasswordEntry*, gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
}

void deleteHandlerCallback(gpointer data, GClosure*) {
    delete static_cast<std::function<void()>*>(data);
}

} // namespace

void setAccessibleLabel(Gtk::Widget& widget, const Glib::ustring& label) {
    Glib::Value<Glib::ustring> value;
    value.init(value.value_type());
    value.set(label);
    widget.update_property(Gtk::Accessible::Property::LABEL, value);
}

Gtk::Image* symbolImage(std::string_view symbol, int pixelSize) {
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbolIconName(symbol));
    if (pixelSize > 0)
        image->set_pixel_size(pixelSize);
    return image;
}

void setIconButtonContent(Gtk::Button& button, std::string_view symbol,
                          const Glib::ustring& title) {
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    content->append(*symbolImage(symbol));
    if (!title.empty())
        content->append(*Gtk::make_managed<Gtk::Label>(title));
    button.set_child(*content);
    setAccessibleLabel(button, title);
}

Gtk::Button* iconButton(std::string_view symbol, const Glib::ustring& title) {
    auto* button = Gtk::make_managed<Gtk::Button>();
    setIconButtonContent(*button, symbol, title);
    return button;
}

Gtk::Button* iconOnlyButton(std::string_view symbol, const Glib::ustring& title) {
    auto* button = iconButton(symbol, "");
    setAccessibleLabel(*button, title);
    button->set_tooltip_text(title);
    button->add_css_class("flat");
    return button;
}

Gtk::Label* note(const Glib::ustring& text, const char* cssClass) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->add_css_class(cssClass);
    label->set_xalign(0);
    label->set_wrap(true);
    label->set_max_width_chars(48);
    return label;
}

void showStatusLine(Gtk::Label& label, const std::string& text, bool isError) {
    label.set_text(text);
    label.set_visible(!text.empty());
    if (isError) {
        label.remove_css_class("aurelo-success");
        label.add_css_class("aurelo-error");
    } else {
        label.remove_css_class("aurelo-error");
        label.add_css_class("aurelo-success");
    }
}

void passFocusThroughChildren(Gtk::FlowBox& flow) {
    // GtkFlowBoxChild hands the focus to its child at once when it is not focusable itself.
    for (auto* child = flow.get_first_child(); child; child = child->get_next_sibling())
        child->set_focusable(false);
}

void onPasswordActivate(Gtk::PasswordEntry& entry, std::function<void()> handler) {
    g_signal_connect_data(entry.gobj(), "activate", G_CALLBACK(activateCallback),
                          new std::function<void()>(std::move(handler)), deleteHandlerCallback,
                          GConnectFlags(0));
}

void configureSheet(Gtk::Window& sheet, Gtk::Window* parent, const Glib::ustring& title) {
    sheet.set_title(title);
    sheet.set_modal(true);
    sheet.set_resizable(false);
    sheet.set_hide_on_close(true);
    if (parent)
        sheet.set_transient_for(*parent);
    auto escape = Gtk::ShortcutController::create();
    escape->set_scope(Gtk::ShortcutScope::MANAGED);
    escape->add_shortcut(Gtk::Shortcut::create(
        Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
        Gtk::CallbackAction::create([&sheet](Gtk::Widget&, const Glib::VariantBase&) {
            sheet.close();
            return true;
        })));
    sheet.add_controller(escape);
}

Gtk::ScrolledWindow* sheetScroller(Gtk::Widget& content, int fixedHeight) {
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_propagate_natural_width(true);
    scroller->set_propagate_natural_height(true);
    scroller->set_max_content_height(WindowGeometry::kSheetMaximumHeight - fixedHeight);
    scroller->set_vexpand(true);
    scroller->set_child(content);
    return scroller;
}

std::unique_ptr<Gtk::Window> makeSheet(Gtk::Window* parent, const Glib::ustring& title,
                                       Gtk::Box*& body, Gtk::Box*& buttons) {
    auto sheet = std::make_unique<Gtk::Window>();
    configureSheet(*sheet, parent, title);
    body = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    body->set_margin(22);
    body->set_size_request(380, -1);
    buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 16);
    column->append(*sheetScroller(*body, kButtonRowHeight));
    column->append(*buttons);
    buttons->set_margin(16);
    sheet->set_child(*column);
    return sheet;
}

} // namespace aurelo
