#pragma once

// Prints the pages' share of the window's height, from the widgets' allocations, each time it
// changes: the figure the screenshot script shows beside each screenshot.

#include <gtkmm/widget.h>

#include <iosfwd>
#include <string>

namespace aurelo {

class PageShareReport {
public:
    // `out` must outlive the report.
    PageShareReport(Gtk::Widget& page, std::ostream& out);
    ~PageShareReport();
    PageShareReport(const PageShareReport&) = delete;
    PageShareReport& operator=(const PageShareReport&) = delete;

    // "page 1272 × 440 of window 1366 × 690 px: 63.8 %"; empty while either is not allocated.
    static std::string describe(Gtk::Widget& page);

private:
    std::string m_last;
    sigc::connection m_timer;
};

} // namespace aurelo
