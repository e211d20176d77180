#pragma once

// "测试代理": connects through a proxy, as entered and not yet saved, to an account's platform
// address and reports the delay or why it failed. The connection goes only through that proxy —
// there is no direct route to fall back on — and stops at the TCP connection: the platform sees
// a connection, not a request. The route is reached as the account's pages reach it: an HTTP
// proxy through a relay of its own, which logs in to the proxy.

#include "web/ProxyRoute.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace aurelo {

class ProxyCheck {
public:
    struct Result {
        bool reachable = false;
        std::chrono::milliseconds latency{0};
        // Why not, in Chinese; empty when reachable.
        std::string reason;

        // "代理可用 · 延迟 N ms", or the reason.
        std::string line() const;
        friend bool operator==(const Result&, const Result&) = default;
    };
    using Done = std::function<void(const Result&)>;

    static constexpr std::chrono::milliseconds kDeadline{10000};
    static constexpr std::string_view kUnreachable = kProxyUnreachable;
    static constexpr std::string_view kLoginRefused = kProxyLoginRefused;
    static constexpr std::string_view kDestinationRefused = kProxyRefusedDestination;
    static constexpr std::string_view kTimedOut = "代理测试超时";

    ProxyCheck() = default;
    ProxyCheck(const ProxyCheck&) = delete;
    ProxyCheck& operator=(const ProxyCheck&) = delete;
    // A check still running is abandoned: its `done` never runs.
    ~ProxyCheck();

    // Starts a check of `route` towards `destinationURL` (its host and port; 443 for https, 80
    // for http when none is given). A check already running is abandoned. `done` runs once on
    // the main loop, within `deadline`.
    void start(const ProxyRoute& route, const std::string& destinationURL, Done done,
               std::chrono::milliseconds deadline = kDeadline);
    bool running() const;
    void cancel();

private:
    struct Attempt;
    std::shared_ptr<Attempt> m_attempt;
};

} // namespace aurelo
