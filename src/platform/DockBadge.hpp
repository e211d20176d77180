#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace aurelo {

// Where the unread badge of the application's launcher icon is shown.
class DockBadge {
public:
    virtual ~DockBadge() = default;
    // `label` is the text of the badge, or nullopt for no badge; `count` is the number behind it.
    virtual void show(const std::optional<std::string>& label, std::int64_t count) = 0;
};

} // namespace aurelo
