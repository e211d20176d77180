#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <gtkmm/box.h>

namespace aurelo {

// The dark strip on the left: the app centre, one entry per platform in use, and settings.
class Sidebar : public Gtk::Box {
public:
    static constexpr int kWidth = 94;

    Sidebar(ContentViewModel& model, LogoCache& logos);
    ~Sidebar() override;

private:
    void rebuild();

    ContentViewModel& m_model;
    LogoCache& m_logos;
    Gtk::Box m_platforms{Gtk::Orientation::VERTICAL, 6};
    std::vector<sigc::connection> m_connections;
    sigc::connection m_pending;
};

} // namespace aurelo
