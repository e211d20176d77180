#pragma once

#include <string>
#include <string_view>

namespace aurelo {

// The desktop icon (a symbolic name of the freedesktop icon theme, which every GTK desktop
// ships) that stands for one of the symbol names the catalogue and the window use, so that no
// control ever shows a blank square.
std::string symbolIconName(std::string_view symbol);

} // namespace aurelo
