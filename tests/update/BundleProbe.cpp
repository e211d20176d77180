// The bundle's program in the end-to-end update: prints, as JSON, where it believes its bundle is
// and what its bundle.json says, also into the file AURELO_PROBE_REPORT names (how the test learns
// what the relaunch started). With "--wait" it runs, as an application would, until terminated.

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
