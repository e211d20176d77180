#pragma once

// The environment variables the application sets for itself and for WebKit's processes before
// the toolkit starts. Web and network processes inherit our environment, and GTK reads its
// variables once at start, so this is the one moment they can be set. A value the user set
// (for a test or a support case) is kept: theirs is the deliberate one.

#include "platform/RenderingPolicy.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

class StartupEnvironment {
public:
    struct Change {
        std::string name;
        std::string value;
        friend bool operator==(const Change&, const Change&) = default;
    };
    using Lookup = std::function<std::optional<std::string>(std::string_view name)>;

    // What to set for `rendering`, given the current values:
    // - software: GDK_DEBUG gains "gl-disable" (GTK in this process and in every web process then
    //   never creates a GL context, and WebKit leaves accelerated compositing off by itself), and
    //   GSK_RENDERER becomes "cairo";
    // - always: JSC_largeHeapSize, so JavaScriptCore collects a chat application's short-lived
    //   objects after 8 MiB of allocation rather than letting every page's heap grow to
    //   100-150 MiB between collections.
    static std::vector<Change> changesFor(Rendering rendering, const Lookup& current);

    // The process's own environment as a Lookup.
    static std::optional<std::string> processValue(std::string_view name);
    // Sets each variable; call while the process has a single thread.
    static void apply(const std::vector<Change>& changes);

    static constexpr std::string_view kJSCHeapBytes = "8388608";
};

} // namespace aurelo
