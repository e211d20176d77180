#pragma once

// An HTTPS server on 127.0.0.1 for the updater's tests. Its certificate is made for the run
// (self-signed, for 127.0.0.1); a client session trusts it through trust(), which gives that
// session a certificate database holding only this certificate. Nothing turns verification off.

#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace aurelo::test {

// A certificate made for the run (self-signed, its own authority, for 127.0.0.1 and localhost)
// and its private key, written as PEM files for servers that load them from disk.
struct TestCertificateFiles {
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
};
TestCertificateFiles writeTestCertificate(const std::filesystem::path& directory);

// Makes `session` trust the authorities in `authorityFile`, and only those. This is the test's
// own trust path: the product's sessions keep the system's authorities and full verification.
void trustAuthorities(HttpSession& session, const std::filesystem::path& authorityFile);

class HttpsTestServer {
public:
    // Writes the certificate into `directory`.
    explicit HttpsTestServer(const std::filesystem::path& directory);
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;
    ~HttpsTestServer();

    // "https://127.0.0.1:<port>"
    const std::string& origin() const { return m_origin; }

    void serve(const std::string& path, unsigned status, std::string body,
               std::string contentType = "application/octet-stream");
    std::size_t requestCount(const std::string& path) const;

    // Makes `session` trust this server's certificate (and only it).
    void trust(HttpSession& session) const;

private:
    struct Answer {
        unsigned status;
        std::string body;
        std::string contentType;
    };
    static void handleCallback(SoupServer*, SoupServerMessage*, const char* path, GHashTable*,
                               gpointer self);

    GRef<SoupServer> m_server;
    std::filesystem::path m_certificateFile;
    std::string m_origin;
    std::map<std::string, Answer> m_answers;
    std::vector<std::string> m_requests;
};

} // namespace aurelo::test
