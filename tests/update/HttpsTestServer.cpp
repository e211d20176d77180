#include "HttpsTestServer.hpp"

#include <libsoup/soup.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace aurelo::test {

namespace {

struct Pem {
    std::string certificate;
    std::string privateKey;
};

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// A self-signed certificate for 127.0.0.1, valid for a day.
Pem makeCertificate() {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    if (!key || !certificate)
        throw std::runtime_error("cannot make a test certificate");
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600);
    X509_set_pubkey(x, key.get());
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(x, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, "critical,CA:TRUE"},
        {NID_key_usage, "critical,digitalSignature,keyCertSign"},
        {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
    };
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension =
            X509V3_EXT_conf_nid(nullptr, &context, nid, const_cast<char*>(value));
        if (!extension)
            throw std::runtime_error("cannot make a certificate extension");
        X509_add_ext(x, extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(x, key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("cannot sign the test certificate");

    std::unique_ptr<BIO, decltype(&BIO_free)> certificateBio(BIO_new(BIO_s_mem()), BIO_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(certificateBio.get(), x);
    PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    return {bioText(certificateBio.get()), bioText(keyBio.get())};
}

} // namespace

TestCertificateFiles writeTestCertificate(const std::filesystem::path& directory) {
    Pem pem = makeCertificate();
    TestCertificateFiles files{directory / "service-certificate.pem",
                               directory / "service-key.pem"};
    std::ofstream(files.certificate) << pem.certificate;
    std::ofstream key(files.privateKey);
    std::filesystem::permissions(files.privateKey, std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_write);
    key << pem.privateKey;
    return files;
}

void trustAuthorities(HttpSession& session, const std::filesystem::path& authorityFile) {
    GErrorHolder error;
    auto database = adoptGRef(g_tls_file_database_new(authorityFile.c_str(), error.out()));
    if (!database)
        throw std::runtime_error(std::string("cannot load the trust file: ") + error->message);
    soup_session_set_tls_database(session.soupSession(), G_TLS_DATABASE(database.get()));
}

HttpsTestServer::HttpsTestServer(const std::filesystem::path& directory)
    : m_certificateFile(directory / "test-server-certificate.pem") {
    Pem pem = makeCertificate();
    std::ofstream(m_certificateFile) << pem.certificate;
    std::string both = pem.certificate + pem.privateKey;
    GErrorHolder error;
    auto certificate = adoptGRef(g_tls_certificate_new_from_pem(both.c_str(), -1, error.out()));
    if (!certificate)
        throw std::runtime_error(std::string("cannot load the test certificate: ") +
                                 error->message);
    m_server = adoptGRef(soup_server_new("tls-certificate", certificate.get(), nullptr));
    soup_server_add_handler(m_server.get(), nullptr, handleCallback, this, nullptr);
    if (!soup_server_listen_local(m_server.get(), 0,
                                  static_cast<SoupServerListenOptions>(
                                      SOUP_SERVER_LISTEN_IPV4_ONLY | SOUP_SERVER_LISTEN_HTTPS),
                                  error.out()))
        throw std::runtime_error(std::string("test server cannot listen: ") + error->message);
    GSList* uris = soup_server_get_uris(m_server.get());
    m_origin =
        "https://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

HttpsTestServer::~HttpsTestServer() {
    soup_server_disconnect(m_server.get());
}

void HttpsTestServer::serve(const std::string& path, unsigned status, std::string body,
                            std::string contentType) {
    m_answers[path] = Answer{status, std::move(body), std::move(contentType)};
}

std::size_t HttpsTestServer::requestCount(const std::string& path) const {
    return static_cast<std::size_t>(std::ranges::count(m_requests, path));
}

void HttpsTestServer::trust(HttpSession& session) const {
    trustAuthorities(session, m_certificateFile);
}

void HttpsTestServer::handleCallback(SoupServer*, SoupServerMessage* message, const char* path,
                                     GHashTable*, gpointer data) {
    auto* self = static_cast<HttpsTestServer*>(data);
    self->m_requests.emplace_back(path);
    auto it = self->m_answers.find(path);
    if (it == self->m_answers.end()) {
        soup_server_message_set_status(message, 404, nullptr);
        return;
    }
    soup_server_message_set_status(message, it->second.status, nullptr);
    if (it->second.status != 204 && it->second.status != 304)
        soup_server_message_set_response(message, it->second.contentType.c_str(), SOUP_MEMORY_COPY,
                                         it->second.body.data(), it->second.body.size());
}

} // namespace aurelo::test
