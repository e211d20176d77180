#pragma once

// What every picker and line that names a translation engine calls it: the label the managed
// service gives the engine, and the built-in display name only where the service gave none.

#include "models/AccountStore.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

struct EngineChoice {
    std::string provider; // the raw value an account stores
    std::string label;

    friend bool operator==(const EngineChoice&, const EngineChoice&) = default;
};

class EngineNames {
public:
    // The name of the engine `provider` (a raw value): the service's label for it, else the
    // built-in display name; nothing for a value no engine has.
    static std::optional<std::string> label(const std::vector<RemoteEngine>& engines,
                                            std::string_view provider);
    // The engines an account may choose: the service's, in its order, each known engine once;
    // while the service has listed none, every built-in engine. `current`, the account's own
    // engine, is added at the end when it is not among them, so that the picker still shows
    // what the account uses.
    static std::vector<EngineChoice> choices(const std::vector<RemoteEngine>& engines,
                                             std::string_view current);
};

} // namespace aurelo
