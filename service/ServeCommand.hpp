#pragma once

#include <string>
#include <vector>

namespace aurelo::service {

// `aurelo-service serve --listen ADDR:PORT --data DIR [--tls-cert F --tls-key F] [tuning…]`:
// runs the service until SIGINT or SIGTERM, then stops gracefully. Returns the exit code.
int runServeCommand(const std::vector<std::string>& arguments);

} // namespace aurelo::service
