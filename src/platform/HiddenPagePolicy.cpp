#include "platform/HiddenPagePolicy.hpp"

namespace aurelo {

HiddenPages HiddenPagePolicy::choose(Rendering rendering, std::string_view override) {
    if (override == "opacity")
        return HiddenPages::Transparent;
    if (override == "unmapped")
        return HiddenPages::Unmapped;
    return rendering == Rendering::Software ? HiddenPages::Unmapped : HiddenPages::Transparent;
}

} // namespace aurelo
