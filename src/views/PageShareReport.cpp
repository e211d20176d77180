#include "views/PageShareReport.hpp"

#include <glibmm/main.h>

#include <cstdio>
#include <ostream>

namespace aurelo {

PageShareReport::PageShareReport(Gtk::Widget& page, std::ostream& out) {
    // GTK 4 has no signal for a widget's new allocation; a look twice a second is enough for a
    // figure read after the window has settled.
    m_timer = Glib::signal_timeout().connect(
        [this, &page, &out] {
            const std::string line = describe(page);
            if (!line.empty() && line != m_last) {
                m_last = line;
                out << "aurelo-layout: " << line << std::endl;
            }
            return true;
        },
        500);
}

PageShareReport::~PageShareReport() {
    m_timer.disconnect();
}

std::string PageShareReport::describe(Gtk::Widget& page) {
    auto* root = dynamic_cast<Gtk::Widget*>(page.get_root());
    if (!root || !page.get_mapped() || root->get_height() <= 0)
        return {};
    char line[128];
    std::snprintf(line, sizeof line, "page %d × %d of window %d × %d px: %.1f %%", page.get_width(),
                  page.get_height(), root->get_width(), root->get_height(),
                  100.0 * page.get_height() / root->get_height());
    return line;
}

} // namespace aurelo
