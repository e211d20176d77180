#include "views/PlatformIcon.hpp"

#include "viewmodels/SymbolIcons.hpp"

namespace aurelo {

PlatformIcon::PlatformIcon(LogoCache& logos, std::optional<std::string> logoURL,
                           const std::string& symbol, int size)
    : m_logos(logos), m_logoURL(std::move(logoURL)) {
    set_pixel_size(size);
    set_from_icon_name(symbolIconName(symbol));
    if (m_logoURL)
        m_arrived = m_logos.signalLogoArrived().connect([this](const std::string& url) {
            if (url == m_logoURL)
                refresh();
        });
    refresh();
}

PlatformIcon::~PlatformIcon() { m_arrived.disconnect(); }

void PlatformIcon::refresh() {
    if (!m_logoURL)
        return;
    if (auto texture = m_logos.logo(*m_logoURL))
        set(texture);
}

} // namespace aurelo
