#pragma once

// Who may read /metrics: the addresses and networks of `--metrics-allow` ("127.0.0.1",
// "10.0.0.0/8,::1"). Nobody without the option: the page is then answered as an unknown one.

#include "platform/GRef.hpp"

#include <gio/gio.h>

#include <expected>
#include <string>
#include <vector>

namespace aurelo::service {

class MetricsAccess {
public:
    // A comma-separated list of addresses and CIDR networks; an error naming the first entry
    // that is neither.
    static std::expected<MetricsAccess, std::string> parse(const std::string& list);

    bool enabled() const { return !m_masks.empty(); }
    bool allows(const std::string& address) const;

private:
    std::vector<GRef<GInetAddressMask>> m_masks;
};

} // namespace aurelo::service
