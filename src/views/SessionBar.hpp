#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/scrolledwindow.h>

#include <functional>
#include <optional>
#include <string>

namespace aurelo {

// The bar above the pages: title and version, the toolbar, and the tabs of the accounts of the
// selected platform (one row, 56 high, or all rows when expanded) with the page functions and
// the focus layout's button beside them. The focus layout hides all but the tab row.
class SessionBar : public Gtk::Box {
public:
    SessionBar(ContentViewModel& model, LogoCache& logos, std::function<void()> restart,
               std::function<void()> addCurrentPlatformSession);
    ~SessionBar() override;

    static constexpr int kCollapsedHeight = 56;
    static constexpr int kToolbarSpacing = 6;

    // Puts a control of another panel into the toolbar, after "刷新服务器".
    void addToolbarItem(Gtk::Widget& item);

private:
    void rebuildTabs();
    void refreshBadges();
    // Tabs are rebuilt after the current event: a click on a tab changes the selection, and the
    // tab must not be destroyed inside its own handler.
    void scheduleRebuild();
    void refreshToolbar();
    void refreshLayout();
    Gtk::Button& toolbarButton(const char* symbol, const char* title);

    ContentViewModel& m_model;
    LogoCache& m_logos;
    Gtk::Widget* m_header = nullptr;
    Gtk::Box m_toolbar{Gtk::Orientation::HORIZONTAL, kToolbarSpacing};
    Gtk::Button* m_doNotDisturb = nullptr;
    Gtk::Button* m_refresh = nullptr;
    Gtk::Button* m_rows = nullptr;
    Gtk::ScrolledWindow m_tabScroller;
    Gtk::Box m_tabs{Gtk::Orientation::HORIZONTAL};
    std::vector<sigc::connection> m_connections;
    sigc::connection m_pendingRebuild;
};

} // namespace aurelo
