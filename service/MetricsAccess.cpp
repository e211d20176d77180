// The networks allowed to read /metrics.
#include "service/MetricsAccess.hpp"

#include "platform/Text.hpp"

namespace aurelo::service {

std::expected<MetricsAccess, std::string> MetricsAccess::parse(const std::string& list) {
    MetricsAccess access;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = text::trimmed(list.substr(start, end - start));
        start = end + 1;
        if (entry.empty())
            continue;
        GErrorHolder error;
        auto mask = adoptGRef(g_inet_address_mask_new_from_string(entry.c_str(), error.out()));
        if (!mask)
            return std::unexpected("--metrics-allow 中的地址无效：" + entry +
                                   "（例如 127.0.0.1 或 10.0.0.0/8）");
        access.m_masks.push_back(std::move(mask));
    }
    return access;
}

bool MetricsAccess::allows(const std::string& address) const {
    auto inet = adoptGRef(g_inet_address_new_from_string(address.c_str()));
    if (!inet)
        return false;
    for (const auto& mask : m_masks)
        if (g_inet_address_mask_matches(mask.get(), inet.get()))
            return true;
    return false;
}

} // namespace aurelo::service
