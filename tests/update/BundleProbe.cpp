// Installed into a bundle by the bundle tests: prints, as JSON, where this program believes its
// bundle is and what that bundle's bundle.json says. With AURELO_PROBE_REPORT set it also writes
// that JSON to the named file, which is how a test learns what a relaunch started. With "--wait"
// it stays running, as an application would, until it is terminated.

#include "update/ApplicationBundle.hpp"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--wait") {
        for (;;)
            pause();
    }
    auto app = aurelo::RunningApplication::current();
    nlohmann::json out = {
        {"bundleLocation", app.bundleLocation ? app.bundleLocation->string() : ""},
        {"executable", app.executable},
        {"build", app.buildNumber.value_or("")},
    };
    if (app.bundleLocation) {
        auto info = aurelo::readBundleInfo(*app.bundleLocation);
        if (info)
            out["info"] = {{"identifier", info->identifier.value_or("")},
                           {"version", info->version.value_or("")},
                           {"build", info->build.value_or("")},
                           {"executable", info->executable}};
        else
            out["problem"] = info.error();
    }
    std::cout << out.dump() << "\n";
    if (const char* report = std::getenv("AURELO_PROBE_REPORT")) {
        // Written whole under another name first, so that a reader never sees half of it.
        const std::string partial = std::string(report) + ".partial";
        std::ofstream(partial) << out.dump() << "\n";
        std::rename(partial.c_str(), report);
    }
    return 0;
}
