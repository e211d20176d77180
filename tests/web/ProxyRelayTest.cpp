// The relay in front of an HTTP proxy, driven by raw bytes from a client thread: what it lets
// through to the proxy and with which login, what it refuses, what it reports, and whom it serves.

#include "support/LoopbackServer.hpp"
#include "support/MainLoopWait.hpp"

#include "web/ProxyRelay.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

namespace aurelo::test {
namespace {

using namespace std::chrono_literals;

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    // A relay that keeps the connection open fails the test instead of hanging it.
    const timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` and reads until the relay closes; the main loop runs the relay meanwhile.
std::string exchange(std::uint16_t port, std::string request) {
    auto answer = std::async(std::launch::async, [port, request = std::move(request)] {
        const int fd = connectTo(port);
        std::string received;
        if (fd < 0)
            return received;
        (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            received.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        return received;
    });
    runMainLoopUntil([&] { return answer.wait_for(0ms) == std::future_status::ready; }, 15s);
    return answer.get();
}

std::unique_ptr<ProxyRelay> relayTo(const LoopbackServer& proxy, std::string username = "",
                                    std::string password = "") {
    auto route = proxyRoute("http", "127.0.0.1", proxy.port(), username, password);
    auto relay = ProxyRelay::start(**route);
    EXPECT_TRUE(relay.has_value());
    return std::move(*relay);
}

TEST(ProxyRelayTest, APlainRequestReachesTheProxyWithOurLoginOnlyAsUtf8) {
    // A SoupServer takes absolute-form requests as a proxy would, and records their headers.
    LoopbackServer proxy;
    proxy.route("/page", ScriptedAnswer::text(200, "hello", "text/plain"));
    auto relay = relayTo(proxy, "агент", "пароль密码");

    const std::string answer =
        exchange(relay->port(), "GET http://chat.invalid/page HTTP/1.1\r\nHost: chat.invalid\r\n"
                                "Proxy-Authorization: Basic c3B5OnNweQ==\r\n"
                                "Connection: keep-alive\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
    EXPECT_TRUE(answer.ends_with("hello"));
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << "one request per connection";
    ASSERT_EQ(proxy.requests().size(), 1u);
    // Base64 of the UTF-8 bytes of "агент:пароль密码"; the browser's own header never passes.
    EXPECT_EQ(proxy.requests()[0].header("proxy-authorization"),
              "Basic 0LDQs9C10L3RgjrQv9Cw0YDQvtC70Yzlr4bnoIE=");
    EXPECT_FALSE(relay->failureFor("http://chat.invalid/page"));
}

TEST(ProxyRelayTest, OnlyTheProxysOwnRefusalIsReportedForItsDestination) {
    const struct {
        ScriptedAnswer answer;
        std::optional<std::string> failure;
    } cases[] = {
        {{.status = 407, .body = "", .headers = {{"Proxy-Authenticate", "Basic realm=\"p\""}}},
         std::string(kProxyLoginRefused)},
        // A site's own 407 passed on by a proxy that let us in asks for no proxy login.
        {{.status = 407, .body = ""}, std::nullopt},
        {{.status = 502, .body = ""}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.status);
        LoopbackServer proxy;
        proxy.route("/", c.answer);
        auto relay = relayTo(proxy, "agent", "secret");
        const std::string answer = exchange(
            relay->port(), "GET http://site.invalid:8080/ HTTP/1.1\r\nHost: site.invalid\r\n\r\n");
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 " + std::to_string(c.answer.status))) << answer;
        EXPECT_EQ(answer.find("Proxy-Authenticate"), std::string::npos);
        EXPECT_EQ(relay->failureFor("http://site.invalid:8080/other"), c.failure);
        EXPECT_FALSE(relay->failureFor("http://site.invalid/"));
    }

    // Nothing listens: a tunnel the proxy never opened is the proxy's failure.
    std::uint16_t closed = 0;
    {
        LoopbackServer gone;
        closed = gone.port();
    }
    auto relay = ProxyRelay::start(**proxyRoute("http", "127.0.0.1", closed));
    const std::string answer =
        exchange((*relay)->port(), "CONNECT chat.invalid:443 HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 502")) << answer;
    EXPECT_EQ((*relay)->failureFor("https://chat.invalid/"), std::string(kProxyUnreachable));
}

TEST(ProxyRelayTest, RequestsItIsNotAProxyForAreRefusedBeforeTheProxyHearsOfThem) {
    LoopbackServer proxy;
    auto relay = relayTo(proxy, "agent", "secret");
    const std::pair<std::string, std::string> cases[] = {
        {"GET /relative HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 400"},
        {"CONNECT chat.invalid HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {"GET ftp://chat.invalid/ HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {"GET http://user:pw@chat.invalid/ HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {"GET http://chat.invalid/ HTTP/1.1\r\nNo colon here\r\n\r\n", "HTTP/1.1 400"},
        {"GET http://chat.invalid/ SPDY/3\r\n\r\n", "HTTP/1.1 400"},
        {"GET http://chat.invalid/ HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431"},
        {"half a head", ""},
    };
    for (const auto& [request, status] : cases) {
        SCOPED_TRACE(request.substr(0, 60));
        const std::string answer = exchange(relay->port(), request);
        EXPECT_EQ(answer.substr(0, status.size()), status) << answer;
    }
    EXPECT_TRUE(proxy.requests().empty());
}

TEST(ProxyRelayTest, AnotherUserOfTheMachineGetsNothing) {
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    LoopbackServer proxy;
    auto relay = relayTo(proxy, "agent", "secret");
    const pid_t child = fork();
    if (child == 0) {
        // nobody: no answer at all, the connection simply ends (reset, with our bytes unread).
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        const int fd = connectTo(relay->port());
        const std::string request = "GET http://chat.invalid/ HTTP/1.1\r\n\r\n";
        (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char byte;
        _exit(fd >= 0 && ::recv(fd, &byte, 1, 0) <= 0 ? 0 : 1);
    }
    int status = -1;
    runMainLoopUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(proxy.requests().empty());
}

TEST(ProxyRelayTest, ThePeerIsFoundInTheKernelsSocketTable) {
    // Rows of /proc/net/tcp: the relay's listener, the browser's end (uid 1000) and ours.
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 0100007F:A000 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 1\n"
        "   1: 0100007F:B000 0100007F:A000 01 00000000:00000000 00:00000000 00000000  1000 0 2\n"
        "   2: 0100007F:A000 0100007F:B000 01 00000000:00000000 00:00000000 00000000  1000 0 3\n"
        "   3: 0100007F:C000 0100007F:A000 01 00000000:00000000 00:00000000 00000000     7 0 4\n"
        "   4: 0200007F:D000 0100007F:A000 01 00000000:00000000 00:00000000 00000000     0 0 5\n"
        "garbage\n";
    const std::tuple<std::uint16_t, std::optional<uid_t>> cases[] = {
        {0xB000, 1000}, {0xC000, 7}, {0xD000, std::nullopt}, {0xE000, std::nullopt}};
    for (const auto& [peer, owner] : cases)
        EXPECT_EQ(loopbackPeerOwner(table, peer, 0xA000), owner) << peer;
}

} // namespace
} // namespace aurelo::test
