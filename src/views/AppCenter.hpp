#pragma once

#include "viewmodels/ContentViewModel.hpp"
#include "views/LogoCache.hpp"

#include <gtkmm/scrolledwindow.h>

#include <functional>

namespace aurelo {

// The catalogue of chat platforms; a tile starts a new account of its platform.
class AppCenter : public Gtk::ScrolledWindow {
public:
    AppCenter(LogoCache& logos, std::function<void(const PlatformEntry&)> addPlatform);
};

} // namespace aurelo
