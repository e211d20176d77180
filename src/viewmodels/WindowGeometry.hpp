#pragma once

// The main window's sizes. The window must open and stay usable on the most common office
// laptop screen, 1366 × 768, under a desktop panel and a title bar; below its roomy default
// width the bars wrap their controls instead of asking for more room.

namespace aurelo {

struct WindowSize {
    int width = 0;
    int height = 0;

    friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

class WindowGeometry {
public:
    static constexpr WindowSize kDefaultSize{1580, 980};
    // Fits 1366 × 768 less a 32 px panel and a title bar with room to spare, and is still wide
    // enough for the sidebar, the session bar's title and a readable page.
    static constexpr WindowSize kMinimumSize{960, 600};
    // What a desktop takes from a monitor before a window gets it: a top or bottom panel, and
    // the window's own title bar (GNOME's server-side one is 37 px, client-side ones up to 46).
    static constexpr int kPanelAllowance = 32;
    static constexpr int kTitleBarAllowance = 46;
    // The screen every sheet and dialog must fit whole, buttons included.
    static constexpr WindowSize kSmallScreen{1366, 768};
    // The tallest a sheet's content may be: the small screen less the panel and the sheet's own
    // title bar. What does not fit scrolls inside the sheet, above its buttons.
    static constexpr int kSheetMaximumHeight =
        kSmallScreen.height - kPanelAllowance - kTitleBarAllowance;

    // The size the window opens with on a monitor of `monitor` pixels: the default where it
    // fits, else the monitor less the panel and title bar, never below the minimum. A monitor
    // of unknown size (0 × 0) gets the default.
    static WindowSize openingSize(WindowSize monitor);
};

} // namespace aurelo
