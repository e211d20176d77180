#pragma once

// The sites whose pages may show notifications from the moment they load: every account's own
// site, granted to each web process as WebKit starts it.

#include <webkit/webkit.h>

#include <optional>
#include <set>
#include <string>

namespace aurelo {

// WebKit starts every page with notification permission "default" and keeps no grant across
// runs. Chat sites ask for permission only after a click on their own banner, so without a grant
// given up front a page that was never clicked since start cannot notify at all. The grant is
// rebuilt from the accounts' sites at every start, which keeps it across restarts; other origins
// are not granted up front.
class PageNotificationPermissions {
public:
    // Grants the origin of `pageURL` (an account's site) to every web process started from now
    // on. A URL without a web origin (not http or https) grants nothing and returns false.
    static bool allow(const std::string& pageURL);
    // The web origin of an address, as "scheme://host[:port]"; nullopt when it has none.
    static std::optional<std::string> originOf(const std::string& url);
    // The granted origins, as "scheme://host[:port]".
    static const std::set<std::string>& allowedOrigins();
    // Answers the context's "initialize-notification-permissions", which WebKit emits before it
    // starts each web process; the application's one context calls this when it is created.
    static void attach(WebKitWebContext* context);

private:
    static void initializeCallback(WebKitWebContext* context, gpointer);
};

} // namespace aurelo
