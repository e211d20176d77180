#include "support/SquidProxy.hpp"

#include "support/LoopbackProxy.hpp"
#include "support/Programs.hpp"

#include <pwd.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

namespace aurelo::test {

namespace {

constexpr const char* kBasicAuthHelper = "/usr/lib/squid/basic_ncsa_auth";

// An htpasswd line that basic_ncsa_auth accepts, hashed by openssl so that no other package is
// needed. The hash is of the password's UTF-8 bytes, as the helper receives them.
std::string passwordLine(const std::string& username, const std::string& password) {
    const auto run = runProgram({"openssl", "passwd", "-apr1", "-stdin"}, password + "\n");
    if (!run.succeeded)
        throw std::runtime_error("openssl passwd failed: " + run.errors);
    return username + ":" + run.output;
}

void giveTo(const passwd& user, const std::filesystem::path& path) {
    if (::chown(path.c_str(), user.pw_uid, user.pw_gid) != 0)
        throw std::runtime_error("cannot give " + path.string() + " to " + user.pw_name);
}

} // namespace

SquidProxy::SquidProxy(const Options& options) : m_port(closedLoopbackPort()) {
    const auto& dir = m_directory.path();
    std::string hosts = "127.0.0.1 localhost\n";
    for (const auto& name : options.hostNames)
        hosts += "127.0.0.1 " + name + "\n";
    writeFile(dir / "hosts", hosts);

    const auto inFolder = [&](const char* name) { return (dir / name).string(); };
    std::vector<std::string> conf = {
        "http_port 127.0.0.1:" + std::to_string(m_port),
        "pid_filename " + inFolder("squid.pid"),
        "coredump_dir " + dir.string(),
        "cache_log " + inFolder("cache.log"),
        "logformat requests %un %rm %ru %>Hs",
        "access_log stdio:" + inFolder("access.log") + " logformat=requests",
        // Nothing is kept between requests, and nothing runs beside the proxy.
        "cache deny all",
        "pinger_enable off",
        "digest_generation off",
        // Squid refuses to start on a machine whose own name it cannot resolve.
        "visible_hostname squid.test",
        // Names outside the hosts file fail within seconds rather than being asked outside.
        "hosts_file " + inFolder("hosts"),
        "dns_nameservers 127.0.0.1",
        "dns_timeout 2 seconds",
        "shutdown_lifetime 0 seconds",
    };
    // No Safe_ports or to_localhost rules as in Debian's own configuration: the tests' servers
    // are on 127.0.0.1 at ports of the system's choosing.
    if (options.username.empty()) {
        conf.push_back("http_access allow all");
    } else {
        writeFile(dir / "passwd", passwordLine(options.username, options.password));
        conf.insert(
            conf.end(),
            {std::string("auth_param basic program ") + kBasicAuthHelper + " " + inFolder("passwd"),
             "auth_param basic children 1", "auth_param basic realm squid",
             "acl login proxy_auth REQUIRED", "http_access allow login", "http_access deny all"});
    }
    // Squid will not run as root; it runs as nobody then, which must reach its folder.
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            throw std::runtime_error("Squid runs as root only as another user, and there is no "
                                     "user nobody");
        conf.push_back("cache_effective_user nobody");
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            giveTo(*nobody, entry.path());
        giveTo(*nobody, dir);
    }
    std::string text;
    for (const auto& line : conf)
        text += line + "\n";
    writeFile(dir / "squid.conf", text);
    m_process.emplace(
        std::vector<std::string>{"/usr/sbin/squid", "-N", "-f", (dir / "squid.conf").string()},
        m_port, std::vector{dir / "squid.out", dir / "cache.log"});
}

std::vector<SquidProxy::Request> SquidProxy::requests() const {
    std::vector<Request> requests;
    std::istringstream log(readFile(m_directory.path() / "access.log"));
    for (std::string line; std::getline(log, line);) {
        Request request;
        std::istringstream(line) >> request.user >> request.method >> request.url >> request.status;
        // A connection closed without a request: the check that Squid listens.
        if (!request.url.starts_with("error:"))
            requests.push_back(std::move(request));
    }
    return requests;
}

} // namespace aurelo::test
