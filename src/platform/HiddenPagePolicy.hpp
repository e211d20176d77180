#pragma once

// How the pages of the accounts not on show are hidden, chosen from the rendering decision.
//
// A page WebKit counts as visible keeps its last frame in this process and is painted again at
// every change, whether anyone sees it or not. In software rendering each frame is a full-size
// image in the window's process (5.6 MiB for a page that fills the main window), one per account.
// Unmapped, a page is hidden for WebKit: its frame is dropped after a few seconds and it stops
// painting, while its scripts, sockets and timers keep running (timers aligned to a second), so
// it still reports its unread count; shown again, it repaints in software within tens of
// milliseconds. With accelerated compositing, remapping a page rebuilds its compositor and takes
// longer than the 100 ms a switch may take, so there hidden pages stay mapped at opacity 0.

#include "platform/RenderingPolicy.hpp"

#include <string_view>

namespace aurelo {

enum class HiddenPages {
    Transparent, // mapped at opacity 0: WebKit counts the page as visible
    Unmapped,    // not mapped: WebKit counts the page as hidden
};

class HiddenPagePolicy {
public:
    // `override` is the support variable (AURELO_HIDDEN_PAGES): "opacity" or "unmapped" wins
    // over the rendering; anything else, set or not, leaves the choice to the rendering.
    static HiddenPages choose(Rendering rendering, std::string_view override);
};

} // namespace aurelo
