#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/scrolledwindow.h>

#include <functional>

namespace aurelo {

// The bar above the pages: title and version, the toolbar, and the tabs of the accounts of the
// selected platform (one row, 56 high, or all rows when expanded).
class SessionBar : public Gtk::Box {
public:
    SessionBar(ContentViewModel& model, LogoCache& logos, std::function<void()> restart,
               std::function<void()> addCurrentPlatformSession);
    ~SessionBar() override;

    static constexpr int kCollapsedHeight = 56;

private:
    void rebuildTabs();
    // Tabs are rebuilt after the current event: a click on a tab changes the selection, and the
    // tab must not be destroyed inside its own handler.
    void scheduleRebuild();
    void refreshToolbar();
    Gtk::Button& toolbarButton(const char* symbol, const char* title);

    ContentViewModel& m_model;
    LogoCache& m_logos;
    Gtk::Box m_toolbar{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button* m_doNotDisturb = nullptr;
    Gtk::Button* m_refresh = nullptr;
    Gtk::Button* m_rows = nullptr;
    Gtk::ScrolledWindow m_tabScroller;
    Gtk::Box m_tabs{Gtk::Orientation::HORIZONTAL};
    std::vector<sigc::connection> m_connections;
    sigc::connection m_pendingRebuild;
};

} // namespace aurelo
