// Installed into a bundle by the layout test: prints, as JSON, where this program believes its
// bundle is and what that bundle's bundle.json says.

#include "update/ApplicationBundle.hpp"

#include <nlohmann/json.hpp>

#include <iostream>

int main() {
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
    return 0;
}
