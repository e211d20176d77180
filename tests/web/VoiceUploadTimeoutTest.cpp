// Voice uploads against a loopback server that takes its time: a slow link that keeps moving
// completes however long the note takes, and only a link that goes silent times out.

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "web/TranslationBridge.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace aurelo {
namespace {

using namespace std::chrono_literals;

// A plain HTTP/1.1 server on 127.0.0.1 for exactly one request, on its own thread so that its
// pauses are real pauses on the wire. It reads the request in small bites with a pause between
// them, then answers with chunked pieces, `gap` apart; `stallAfterHeaders` sends the headers and
// then nothing more until the client gives up.
class DrippingServer {
public:
    struct Script {
        std::string body;
        int pieces = 1;
        std::chrono::milliseconds gap{0};
        bool stallAfterHeaders = false;
    };

    explicit DrippingServer(Script script) : m_script(std::move(script)) {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listener, 1) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_origin = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        m_thread = std::thread([this] { serve(); });
    }
    ~DrippingServer() {
        m_stop = true;
        m_thread.join();
        close(m_listener);
    }

    const std::string& origin() const { return m_origin; }
    std::size_t bodyBytesRead() const { return m_bodyBytesRead; }

private:
    bool waitReadable(int fd, std::chrono::milliseconds timeout) {
        for (auto left = timeout; left > 0ms && !m_stop; left -= 50ms) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0)
                return true;
        }
        return false;
    }
    void pause(std::chrono::milliseconds duration) {
        for (auto left = duration; left > 0ms && !m_stop; left -= 20ms)
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20ms)));
    }
    bool writeAll(int fd, const std::string& text) {
        for (std::size_t sent = 0; sent < text.size();) {
            const auto n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    void serve() {
        if (!waitReadable(m_listener, 10s))
            return;
        const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return;
        // The request: headers, then Content-Length bytes, read 16 KiB at a time with a pause
        // between reads, as a slow uplink would deliver them.
        std::string request;
        std::size_t expected = std::string::npos;
        char buffer[16384];
        while (!m_stop) {
            const auto end = request.find("\r\n\r\n");
            if (end != std::string::npos && expected == std::string::npos) {
                const auto field = request.find("Content-Length: ");
                expected =
                    end + 4 +
                    (field == std::string::npos ? 0 : std::stoul(request.substr(field + 16)));
            }
            if (request.size() >= expected)
                break;
            if (!waitReadable(connection, 10s))
                break;
            const auto n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
            if (expected != std::string::npos)
                pause(5ms);
        }
        if (const auto end = request.find("\r\n\r\n"); end != std::string::npos)
            m_bodyBytesRead = request.size() - (end + 4);
        if (writeAll(connection, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                 "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")) {
            if (m_script.stallAfterHeaders) {
                // Silent until the client closes the connection.
                waitReadable(connection, 10s);
            } else {
                const auto& body = m_script.body;
                const std::size_t piece = (body.size() + m_script.pieces - 1) / m_script.pieces;
                for (std::size_t at = 0; at < body.size() && !m_stop; at += piece) {
                    const auto part = body.substr(at, piece);
                    char size[16];
                    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
                    if (!writeAll(connection, size + part + "\r\n"))
                        break;
                    pause(m_script.gap);
                }
                writeAll(connection, "0\r\n\r\n");
            }
        }
        close(connection);
    }

    Script m_script;
    int m_listener = -1;
    std::string m_origin;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_bodyBytesRead{0};
};

class VoiceUploadTimeoutTest : public ::testing::Test {
protected:
    // One second of silence ends a voice request here, so that a drip of several seconds
    // shows the difference between an idle limit and a limit on the whole transfer.
    HttpSession voiceSession{HttpSessionConfiguration{.ioTimeout = 1s}};
    test::FakeManagedService fake;
    HttpSession session{TranslationNetwork::sessionConfiguration()};
    TranslationRequestCache cache;
    TranslationService service{fake.origin(), session, cache};
    std::vector<std::string> scripts;

    std::unique_ptr<TranslationBridge> bridgeTo(const std::string& origin) {
        auto bridge = std::make_unique<TranslationBridge>(
            service, voiceSession, origin,
            [this](const std::string& script) { scripts.push_back(script); });
        bridge->setConfiguration(
            TranslationConfiguration{TranslationProvider::Google, "tok", "", ""});
        return bridge;
    }
};

TEST_F(VoiceUploadTimeoutTest, SlowLinkCompletesAndSilentLinkTimesOut) {
    // A voice note of about a megabyte, so the upload itself crosses the wire in many reads.
    const std::string audio(1 << 20, 'A');
    const std::string answer = R"({"transcript":"hola","translation":"你好"})";
    struct Case {
        const char* name;
        DrippingServer::Script script;
        const char* expected;
    };
    const Case cases[] = {
        // Four seconds in all, never more than half a second without a byte: completes.
        {"slow drip",
         {answer, 8, 500ms, false},
         R"(window.aureloSetVoiceTranslation?.(...["v","hola","你好",false]))"},
        // Headers, then nothing: the idle limit ends it with the system's time-out text.
        {"stalled",
         {answer, 1, 0ms, true},
         R"(window.aureloSetVoiceTranslation?.(...["v","","请求超时。",true]))"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scripts.clear();
        DrippingServer server(c.script);
        auto bridge = bridgeTo(server.origin());
        bridge->receive(bridgeMessageFromJsonText(
            R"({"kind":"voice","id":"v","mime":"audio/ogg","source":"es","target":"zh-CN","data":")" +
            audio + R"("})"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !scripts.empty(); }, 20s));
        EXPECT_EQ(scripts[0], c.expected);
        EXPECT_GT(server.bodyBytesRead(), audio.size()) << "the whole note reached the server";
    }
}

} // namespace
} // namespace aurelo
