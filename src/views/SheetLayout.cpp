#include "views/SheetLayout.hpp"

#include "views/WidgetHelpers.hpp"

namespace aurelo::SheetLayout {

namespace {

// A gold icon at the top of `row` and, beside it, a column headed by `title`; returns the column.
Gtk::Box* iconAndTitle(Gtk::Box& row, std::string_view symbol, int size,
                       const Glib::ustring& title) {
    auto* icon = symbolImage(symbol, size);
    icon->add_css_class("aurelo-gold");
    icon->set_valign(Gtk::Align::START);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* heading = Gtk::make_managed<Gtk::Label>(title);
    heading->add_css_class("heading");
    heading->set_xalign(0);
    texts->append(*heading);
    row.append(*icon);
    row.append(*texts);
    return texts;
}

} // namespace

Gtk::Box* sectionHeader(std::string_view symbol, const Glib::ustring& title,
                        const Glib::ustring& subtitle) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    iconAndTitle(*row, symbol, 22, title)->append(*note(subtitle));
    return row;
}

Gtk::Box* infoCard(std::string_view symbol, const Glib::ustring& title, const Glib::ustring& text) {
    auto* card = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    card->add_css_class("aurelo-info-card");
    auto* texts = iconAndTitle(*card, symbol, 18, title);
    if (!text.empty())
        texts->append(*note(text));
    return card;
}

Gtk::Box* labeled(const Glib::ustring& caption, Gtk::Widget& control) {
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    auto* label = Gtk::make_managed<Gtk::Label>(caption);
    label->set_xalign(0);
    label->add_css_class("aurelo-field-caption");
    column->append(*label);
    column->append(control);
    setAccessibleLabel(control, caption);
    return column;
}

Gtk::Label& errorLine(Gtk::Label& label) {
    label.add_css_class("aurelo-error");
    label.set_xalign(0);
    label.set_wrap(true);
    return label;
}

Gtk::Label& noteLine(Gtk::Label& label) {
    label.add_css_class("aurelo-note");
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_visible(false);
    return label;
}

Gtk::Box* websiteAddress(Gtk::Entry& entry, Gtk::Label& schemeNote) {
    entry.set_placeholder_text(Glib::ustring("网站地址，例如：") + kExampleAddress);
    setAccessibleLabel(entry, "网站地址");
    entry.set_input_purpose(Gtk::InputPurpose::URL);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    box->append(entry);
    box->append(noteLine(schemeNote));
    return box;
}

void showError(Gtk::Label& label, const std::string& error) {
    label.set_text(error);
    label.set_visible(!error.empty());
}

void showFieldError(Gtk::Label& label, Gtk::Widget& field, const std::string& error) {
    // The sheet redraws on every keystroke; an unchanged line is not announced again.
    if (label.get_text().raw() == error && label.get_visible() == !error.empty())
        return;
    showError(label, error);
    if (error.empty()) {
        field.reset_property(Gtk::Accessible::Property::DESCRIPTION);
        return;
    }
    Glib::Value<Glib::ustring> value;
    value.init(value.value_type());
    value.set(error);
    field.update_property(Gtk::Accessible::Property::DESCRIPTION, value);
}

Gtk::Box* buttonRow(Gtk::Button& cancel, Gtk::Button& primary) {
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    buttons->set_margin_top(8);
    primary.add_css_class("aurelo-primary");
    buttons->append(cancel);
    buttons->append(primary);
    return buttons;
}

} // namespace aurelo::SheetLayout
