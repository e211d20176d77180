#include "views/Sidebar.hpp"

#include "views/PlatformIcon.hpp"

#include "views/WidgetHelpers.hpp"

#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>

namespace aurelo {

namespace {

Gtk::Button* sidebarButton(Gtk::Widget& icon, const std::string& title) {
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    box->append(icon);
    auto* label = Gtk::make_managed<Gtk::Label>(title);
    label->add_css_class("sidebar-label");
    label->set_ellipsize(Pango::EllipsizeMode::END);
    label->set_max_width_chars(8);
    box->append(*label);
    button->set_child(*box);
    setAccessibleLabel(*button, Glib::ustring(title));
    return button;
}

} // namespace

Sidebar::Sidebar(ContentViewModel& model, LogoCache& logos)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 10), m_model(model), m_logos(logos) {
    add_css_class("aurelo-sidebar");
    set_size_request(kWidth, -1);
    set_margin_top(0);

    auto* appCenter = sidebarButton(*symbolImage("square.grid.2x2.fill", 24), "应用中心");
    appCenter->set_margin_top(14);
    appCenter->signal_clicked().connect(
        [this] { m_model.setShowAppCenter(!m_model.showAppCenter()); });
    append(*appCenter);

    auto* caption = Gtk::make_managed<Gtk::Label>("启用");
    caption->add_css_class("caption");
    append(*caption);

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_vexpand(true);
    m_platforms.set_margin_start(8);
    m_platforms.set_margin_end(8);
    scroller->set_child(m_platforms);
    append(*scroller);

    auto* settings = sidebarButton(*symbolImage("gearshape.fill", 24), "设置");
    settings->set_margin_bottom(14);
    settings->signal_clicked().connect([this] { m_model.openSettingsPanel(); });
    append(*settings);

    auto schedule = [this] {
        if (m_pending.connected())
            return;
        m_pending = Glib::signal_idle().connect([this] {
            rebuild();
            return false;
        });
    };
    m_connections.push_back(
        m_model.store().signalChanged().connect([schedule](SessionStore::Field field) {
            if (field != SessionStore::Field::UnreadCounts)
                schedule();
        }));
    rebuild();
}

Sidebar::~Sidebar() {
    for (auto& connection : m_connections)
        connection.disconnect();
    m_pending.disconnect();
}

void Sidebar::rebuild() {
    while (auto* child = m_platforms.get_first_child())
        m_platforms.remove(*child);
    const auto current = m_model.store().currentPlatformID();
    for (const auto& platform : m_model.store().enabledPlatforms()) {
        auto* icon = Gtk::make_managed<PlatformIcon>(m_logos, platform.logoURL, platform.icon, 28);
        auto* button = sidebarButton(*icon, platform.name);
        // The label shows eight characters; a site's host is often longer.
        button->set_tooltip_text(platform.name);
        if (current == platform.id)
            button->add_css_class("selected");
        button->signal_clicked().connect([this, platform] { m_model.selectPlatform(platform); });
        m_platforms.append(*button);
    }
}

} // namespace aurelo
