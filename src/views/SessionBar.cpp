#include "views/SessionBar.hpp"

#include "platform/BuildConfig.hpp"
#include "views/AccountTabFlowLayout.hpp"
#include "views/FocusLayoutButton.hpp"
#include "views/PageFunctionBar.hpp"
#include "views/SessionTab.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <glibmm/main.h>

namespace aurelo {

SessionBar::SessionBar(ContentViewModel& model, LogoCache& logos, std::function<void()> restart,
                       std::function<void()> addCurrentPlatformSession)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8), m_model(model), m_logos(logos) {
    add_css_class("aurelo-session-bar");

    // Header: logo, title with the PRO badge, version line, toolbar.
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* logo = Gtk::make_managed<Gtk::Image>();
    logo->set_from_icon_name(build::kApplicationId);
    logo->set_pixel_size(40);
    header->append(*logo);
    auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* titleRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* title = Gtk::make_managed<Gtk::Label>("Aurelo翻译器");
    title->add_css_class("aurelo-title");
    auto* pro = Gtk::make_managed<Gtk::Label>("PRO");
    pro->add_css_class("aurelo-pro");
    pro->set_valign(Gtk::Align::CENTER);
    titleRow->append(*title);
    titleRow->append(*pro);
    auto* subtitle =
        Gtk::make_managed<Gtk::Label>("v" + m_model.appVersion() + " · 全球客服翻译工作台");
    subtitle->add_css_class("aurelo-subtitle");
    subtitle->set_halign(Gtk::Align::START);
    titles->append(*titleRow);
    titles->append(*subtitle);
    header->append(*titles);

    m_toolbar.add_css_class("aurelo-toolbar");
    // On a narrow window the buttons wrap under each other instead of pushing the window wider
    // than the screen.
    m_toolbar.set_layout_manager(AccountTabFlowLayout::create(kToolbarSpacing));
    m_toolbar.set_hexpand(true);
    m_toolbar.set_halign(Gtk::Align::END);
    m_toolbar.set_valign(Gtk::Align::CENTER);
    m_doNotDisturb = &toolbarButton("bell.slash", "勿扰");
    m_doNotDisturb->signal_clicked().connect([this] { m_model.toggleDoNotDisturb(); });
    toolbarButton("lock.fill", "锁屏").signal_clicked().connect([this] {
        m_model.requestApplicationLock();
    });
    toolbarButton("arrow.clockwise.circle.fill", "重启软件")
        .signal_clicked()
        .connect(std::move(restart));
    m_refresh = &toolbarButton("server.rack", "刷新服务器");
    m_refresh->signal_clicked().connect([this] { m_model.refreshServices(); });
    m_rows = &toolbarButton("chevron.down", "展开");
    m_rows->signal_clicked().connect([this] { m_model.toggleSessionRows(); });
    auto& quick = toolbarButton("gearshape.fill", "");
    setAccessibleLabel(quick, Glib::ustring("快捷翻译设置"));
    quick.set_tooltip_text("快捷翻译设置");
    quick.signal_clicked().connect([this] { m_model.toggleQuickSettings(); });
    header->append(m_toolbar);
    append(*header);
    m_header = header;

    // Tabs, wrapped by the flow layout, with the page functions, the "+" and the focus layout's
    // button beside them: the one row the focus layout keeps.
    auto* tabRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_tabs.set_layout_manager(AccountTabFlowLayout::create(7));
    m_tabScroller.set_child(m_tabs);
    m_tabScroller.set_hexpand(true);
    m_tabScroller.set_propagate_natural_height(true);
    tabRow->append(m_tabScroller);
    auto* pageFunctions = Gtk::make_managed<PageFunctionBar>(model);
    pageFunctions->set_valign(Gtk::Align::START);
    pageFunctions->set_margin_top(2);
    tabRow->append(*pageFunctions);
    auto* add = Gtk::make_managed<Gtk::Button>();
    add->set_icon_name("list-add-symbolic");
    add->set_tooltip_text("新增当前平台账号");
    setAccessibleLabel(*add, Glib::ustring("新增当前平台账号"));
    add->set_valign(Gtk::Align::START);
    add->signal_clicked().connect(std::move(addCurrentPlatformSession));
    tabRow->append(*add);
    tabRow->append(*Gtk::make_managed<FocusLayoutButton>(model.preferences()));
    append(*tabRow);

    // Unread counts change every few seconds: the badges follow in place, so that neither the
    // keyboard focus on a tab nor an open tab menu is lost to them.
    m_connections.push_back(m_model.store().signalChanged().connect([this](SessionStore::Field f) {
        if (f == SessionStore::Field::UnreadCounts)
            refreshBadges();
        else
            scheduleRebuild();
    }));
    // A tab says when its account sleeps.
    m_connections.push_back(m_model.hibernation().signalChanged().connect(
        [this](const std::string&) { scheduleRebuild(); }));
    // And how its page is doing.
    m_connections.push_back(m_model.health().signalChanged().connect(
        [this](const std::string&) { scheduleRebuild(); }));
    // And when its page was reloaded or put to sleep for using too much memory.
    m_connections.push_back(m_model.memory().signalChanged().connect(
        [this](const std::string&) { scheduleRebuild(); }));
    m_connections.push_back(m_model.signalChanged().connect([this](ContentViewModel::Field field) {
        using F = ContentViewModel::Field;
        if (field == F::ShowAllSessionRows || field == F::RefreshingServices)
            refreshToolbar();
    }));
    m_connections.push_back(m_model.preferences().signalChanged().connect(
        [this](MainWindowPreferences::Field field) {
            if (field == MainWindowPreferences::Field::DoNotDisturb)
                refreshToolbar();
            if (field == MainWindowPreferences::Field::PageZoom)
                scheduleRebuild(); // the zoom labels of the context menus
            if (field == MainWindowPreferences::Field::FocusLayout)
                refreshLayout();
        }));
    // "定时勿扰" begins and ends by the clock: the button looks again every half minute.
    m_connections.push_back(m_model.settings().signalChanged().connect([this](SettingsStore::Field f) {
        if (f == SettingsStore::Field::QuietHours)
            refreshToolbar();
    }));
    m_connections.push_back(Glib::signal_timeout().connect_seconds(
        [this] {
            refreshToolbar();
            return true;
        },
        30));
    refreshLayout();
    rebuildTabs();
    refreshToolbar();
}

SessionBar::~SessionBar() {
    for (auto& connection : m_connections)
        connection.disconnect();
    m_pendingRebuild.disconnect();
}

void SessionBar::scheduleRebuild() {
    if (m_pendingRebuild.connected())
        return;
    m_pendingRebuild = Glib::signal_idle().connect([this] {
        rebuildTabs();
        return false;
    });
}

Gtk::Button& SessionBar::toolbarButton(const char* symbol, const char* title) {
    auto* button = Gtk::make_managed<Gtk::Button>();
    setIconButtonContent(*button, symbol, title);
    m_toolbar.append(*button);
    return *button;
}

void SessionBar::refreshToolbar() {
    using State = ContentViewModel::DoNotDisturbState;
    const State state = m_model.doNotDisturbState();
    const bool quiet = state != State::Off;
    setIconButtonContent(*m_doNotDisturb, quiet ? "bell.slash.fill" : "bell.slash",
                         state == State::On          ? "勿扰已开启"
                         : state == State::Scheduled ? "定时勿扰中"
                                                     : "勿扰");
    if (quiet)
        m_doNotDisturb->add_css_class("active");
    else
        m_doNotDisturb->remove_css_class("active");
    const bool refreshing = m_model.refreshingServices();
    setIconButtonContent(*m_refresh, "server.rack", refreshing ? "刷新中" : "刷新服务器");
    m_refresh->set_sensitive(!refreshing);
    const bool expanded = m_model.showAllSessionRows();
    setIconButtonContent(*m_rows, expanded ? "chevron.up" : "chevron.down", expanded ? "收起" : "展开");
    // Collapsed: exactly one row's height, the rest clipped.
    m_tabScroller.set_policy(Gtk::PolicyType::NEVER,
                             expanded ? Gtk::PolicyType::NEVER : Gtk::PolicyType::EXTERNAL);
    m_tabScroller.set_min_content_height(expanded ? -1 : kCollapsedHeight);
    m_tabScroller.set_max_content_height(expanded ? -1 : kCollapsedHeight);
}

void SessionBar::refreshLayout() {
    const bool header = m_model.preferences().layout().header;
    m_header->set_visible(header);
    // Without the header the bar is the tab row alone, with less room above and below it.
    if (header)
        remove_css_class("aurelo-tab-row-only");
    else
        add_css_class("aurelo-tab-row-only");
}

void SessionBar::refreshBadges() {
    for (auto* child = m_tabs.get_first_child(); child; child = child->get_next_sibling())
        if (auto* tab = dynamic_cast<SessionTab*>(child))
            tab->refreshBadge();
}

void SessionBar::rebuildTabs() {
    // A tab chosen with the keyboard is rebuilt as selected; the focus stays on it so that the
    // keyboard user is not thrown back to the start of the window.
    std::optional<std::string> focused;
    while (auto* child = m_tabs.get_first_child()) {
        if (auto* tab = dynamic_cast<SessionTab*>(child); tab && tab->holdsFocus())
            focused = tab->sessionID();
        m_tabs.remove(*child);
    }
    const auto& selected = m_model.store().selectedID();
    for (const auto& session : m_model.store().visibleSessions()) {
        auto* tab =
            Gtk::make_managed<SessionTab>(m_model, m_logos, session, selected == session.id);
        m_tabs.append(*tab);
        if (focused == session.id)
            tab->button().grab_focus();
    }
}

void SessionBar::addToolbarItem(Gtk::Widget& item) {
    m_toolbar.insert_child_after(item, *m_refresh);
}

} // namespace aurelo
