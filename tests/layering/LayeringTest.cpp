// The layers of the product are libraries, and each library sees only the include roots of the
// libraries it links. This test reads the #include lines themselves, so that an include that
// runs up a layer is reported by name even where the build would only say "file not found", and
// so that the display-free layers stay free of toolkit and WebKit headers.

#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <ranges>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Each library's folder and the folders it may include from (its own and those of the libraries
// it links, directly or through them). Keep in step with the DEPENDS of the folders' CMakeLists.
const std::map<std::string, std::set<std::string>> kAllowedIncludes = {
    {"src/platform", {"platform"}},
    {"src/translation", {"platform", "translation"}},
    {"src/models", {"platform", "translation", "models"}},
    {"src/captions", {"platform", "translation", "captions"}},
    {"src/update", {"platform", "translation", "update"}},
    {"src/web", {"platform", "translation", "models", "web"}},
    {"src/viewmodels", {"platform", "translation", "models", "web", "viewmodels"}},
    {"src/webview", {"platform", "translation", "models", "web", "webview"}},
    {"src/views",
     {"platform", "translation", "models", "web", "webview", "viewmodels", "captions", "update",
      "views"}},
    {"src/app",
     {"platform", "translation", "models", "web", "webview", "viewmodels", "captions", "update",
      "views", "app"}},
    {"service", {"platform", "translation", "service"}},
    // The fuzz targets drive the display-free libraries only.
    {"fuzz", {"platform", "translation", "models", "web", "update"}},
};

// "file:line" of every include that reaches too far, with the line itself.
using Violations = std::map<std::string, std::string>;

Violations findViolations(const fs::path& root) {
    static const std::regex projectInclude(R"(^\s*#\s*include\s*"([A-Za-z0-9_]+)/)");
    static const std::regex toolkitInclude(
        R"(^\s*#\s*include\s*<(gtk|gtkmm|gdk|gdkmm|webkit|jsc)[-/.0-9]*)");
    Violations found;
    // A new library must say where it sits before it can be checked.
    if (fs::is_directory(root / "src"))
        for (const auto& entry : fs::directory_iterator(root / "src"))
            if (const auto folder = "src/" + entry.path().filename().string();
                entry.is_directory() && !kAllowedIncludes.contains(folder))
                found[folder + ":0"] = "folder not in the layer table";

    for (const auto& [folder, allowed] : kAllowedIncludes) {
        // The libraries below the web views are driven by tests without a display: no
        // widget toolkit, no WebKit.
        const bool displayFree = !allowed.contains("webview");
        if (!fs::is_directory(root / folder))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const auto extension = entry.path().extension();
            if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".hpp"))
                continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch match;
                if ((std::regex_search(line, match, projectInclude) &&
                     !allowed.contains(match[1])) ||
                    (displayFree && std::regex_search(line, toolkitInclude)))
                    found[fs::relative(entry.path(), root).string() + ":" +
                          std::to_string(number)] = line;
            }
        }
    }
    return found;
}

std::string describe(const Violations& violations) {
    std::string text;
    for (const auto& [where, line] : violations)
        text += where + ": " + line + "\n";
    return text;
}

TEST(Layering, ProductIncludesOnlyTheLayersItLinks) {
    const auto violations = findViolations(AURELO_SOURCE_ROOT);
    EXPECT_TRUE(violations.empty()) << describe(violations);
}

TEST(Layering, ReportsUpwardIncludesToolkitHeadersAndUnknownFolders) {
    const aurelo::test::TestDirectory directory;
    const auto write = [&](const std::string& path, const std::string& text) {
        aurelo::test::writeFile(directory.path() / path, text);
    };
    write("src/models/Store.hpp", "#include \"platform/UserDefaults.hpp\"\n"
                                  "#include \"views/ContentView.hpp\"\n");
    write("src/viewmodels/Model.cpp", "#include \"web/ChatWebViewInputs.hpp\"\n"
                                      "  #  include <gtkmm/button.h>\n");
    write("src/views/Widget.cpp", "#include <gtkmm/button.h>\n#include \"viewmodels/Model.hpp\"\n");
    write("src/webview/Host.cpp", "#include \"viewmodels/ContentViewModel.hpp\"\n");
    write("service/Server.cpp",
          "#include \"models/SessionStore.hpp\"\n#include <webkit/webkit.h>\n");
    write("src/newlayer/Thing.cpp", "");

    const auto violations = findViolations(directory.path());
    const auto where = std::views::keys(violations);
    EXPECT_EQ(std::set<std::string>(where.begin(), where.end()),
              (std::set<std::string>{"src/models/Store.hpp:2", "src/viewmodels/Model.cpp:2",
                                     "src/webview/Host.cpp:1", "service/Server.cpp:1",
                                     "service/Server.cpp:2", "src/newlayer:0"}))
        << describe(violations);
}

} // namespace
