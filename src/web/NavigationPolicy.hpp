#pragma once

#include <string_view>

namespace aurelo {

// Whether the view may navigate to `uri`: only "https", "http", "blob" and "data", compared
// without regard to case. Anything else (mail, telephone, application schemes, a URI without a
// scheme) is cancelled silently, so nothing is handed to another program.
bool isNavigableURI(std::string_view uri);

} // namespace aurelo
