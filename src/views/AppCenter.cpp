#include "views/AppCenter.hpp"

#include "views/PlatformIcon.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/flowbox.h>
#include <gtkmm/label.h>

namespace aurelo {

AppCenter::AppCenter(LogoCache& logos, std::function<void(const PlatformEntry&)> addPlatform) {
    set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    page->set_margin(28);
    auto* title = Gtk::make_managed<Gtk::Label>("应用中心");
    title->add_css_class("aurelo-title");
    title->set_halign(Gtk::Align::START);
    auto* subtitle = Gtk::make_managed<Gtk::Label>("选择聊天平台并创建独立客服账号");
    subtitle->add_css_class("aurelo-subtitle");
    subtitle->set_halign(Gtk::Align::START);
    page->append(*title);
    page->append(*subtitle);

    auto* grid = Gtk::make_managed<Gtk::FlowBox>();
    grid->set_selection_mode(Gtk::SelectionMode::NONE);
    grid->set_min_children_per_line(3);
    grid->set_max_children_per_line(8);
    grid->set_column_spacing(14);
    grid->set_row_spacing(14);
    grid->set_margin_top(16);
    for (const auto& entry : platformEntries()) {
        auto* tile = Gtk::make_managed<Gtk::Button>();
        tile->add_css_class("aurelo-app-center-tile");
        tile->set_size_request(150, 120);
        auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
        box->set_valign(Gtk::Align::CENTER);
        box->append(*Gtk::make_managed<PlatformIcon>(logos, entry.logoURL, entry.icon, 40));
        box->append(*Gtk::make_managed<Gtk::Label>(entry.name));
        tile->set_child(*box);
        setAccessibleLabel(*tile, Glib::ustring(entry.name));
        tile->set_sensitive(entry.available);
        tile->signal_clicked().connect([addPlatform, entry] { addPlatform(entry); });
        grid->append(*tile);
    }
    passFocusThroughChildren(*grid);
    page->append(*grid);
    set_child(*page);
}

} // namespace aurelo
