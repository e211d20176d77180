#include "views/SheetLayout.hpp"

#include "views/SymbolIcons.hpp"
#include "views/WidgetHelpers.hpp"

namespace aurelo::SheetLayout {

Gtk::Image* symbolImage(std::string_view symbol, int size) {
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbolIconName(symbol));
    image->set_pixel_size(size);
    return image;
}

Gtk::Box* sectionHeader(std::string_view symbol, const Glib::ustring& title,
                        const Glib::ustring& subtitle) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* icon = symbolImage(symbol, 22);
    icon->add_css_class("aurelo-gold");
    icon->set_valign(Gtk::Align::START);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* heading = Gtk::make_managed<Gtk::Label>(title);
    heading->add_css_class("heading");
    heading->set_xalign(0);
    texts->append(*heading);
    texts->append(*note(subtitle));
    row->append(*icon);
    row->append(*texts);
    return row;
}

Gtk::Box* infoCard(std::string_view symbol, const Glib::ustring& title, const Glib::ustring& text) {
    auto* card = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    card->add_css_class("aurelo-info-card");
    auto* icon = symbolImage(symbol, 18);
    icon->add_css_class("aurelo-gold");
    icon->set_valign(Gtk::Align::START);
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* heading = Gtk::make_managed<Gtk::Label>(title);
    heading->add_css_class("heading");
    heading->set_xalign(0);
    texts->append(*heading);
    if (!text.empty())
        texts->append(*note(text));
    card->append(*icon);
    card->append(*texts);
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

Gtk::Label* note(const Glib::ustring& text) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->add_css_class("aurelo-subtitle");
    label->set_xalign(0);
    label->set_wrap(true);
    label->set_max_width_chars(48);
    return label;
}

} // namespace aurelo::SheetLayout
