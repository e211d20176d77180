#pragma once

#include "views/LogoCache.hpp"

#include <gtkmm/image.h>

#include <optional>
#include <string>

namespace aurelo {

// A platform's logo, or its symbol until the logo has arrived (or when there is none).
class PlatformIcon : public Gtk::Image {
public:
    PlatformIcon(LogoCache& logos, std::optional<std::string> logoURL, const std::string& symbol,
                 int size);
    ~PlatformIcon() override;

private:
    void refresh();

    LogoCache& m_logos;
    std::optional<std::string> m_logoURL;
    sigc::connection m_arrived;
};

} // namespace aurelo
