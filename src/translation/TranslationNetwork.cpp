#include "translation/TranslationNetwork.hpp"

namespace aurelo::TranslationNetwork {

HttpSessionConfiguration sessionConfiguration() {
    return HttpSessionConfiguration{
        .ioTimeout = std::chrono::seconds(6),
        .idleTimeout = std::chrono::seconds(6),
        .maxConnectionsPerHost = 8,
        .resourceTimeout = std::chrono::milliseconds(7000),
    };
}

HttpSession& session() {
    static HttpSession shared(sessionConfiguration());
    return shared;
}

} // namespace aurelo::TranslationNetwork
