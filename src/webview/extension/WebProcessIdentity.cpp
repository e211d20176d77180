// Loaded into every web process: tells each page's view which WebKit process it runs in, so that
// the application can find that process under /proc and read its memory. WebKitGTK 6 has no
// getter for a page's process id, and inside the sandbox the process's own pid is that of its
// private pid namespace; the process identifier WebKit gives it on its command line is the same
// on both sides.

#include <webkit/webkit-web-process-extension.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr const char* kMessageName = "aurelo.webProcess";

// The first argument after the program: WebKit's identifier of this process.
std::string processIdentifier() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string cmdline{std::istreambuf_iterator<char>(in), {}};
    const auto start = cmdline.find('\0');
    if (start == std::string::npos)
        return {};
    const auto end = cmdline.find('\0', start + 1);
    return cmdline.substr(start + 1,
                          end == std::string::npos ? std::string::npos : end - start - 1);
}

void pageCreatedCallback(WebKitWebProcessExtension*, WebKitWebPage* page, gpointer) {
    static const std::string identifier = processIdentifier();
    if (identifier.empty())
        return;
    WebKitUserMessage* message =
        webkit_user_message_new(kMessageName, g_variant_new_string(identifier.c_str()));
    webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

} // namespace

extern "C" G_MODULE_EXPORT void
webkit_web_process_extension_initialize(WebKitWebProcessExtension* extension) {
    g_signal_connect(extension, "page-created", G_CALLBACK(pageCreatedCallback), nullptr);
}
