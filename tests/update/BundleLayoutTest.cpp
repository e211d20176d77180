// The install rules produce a relocatable bundle that the program recognises as its own.

#include "UpdateTestSupport.hpp"
#include "update/ApplicationBundle.hpp"

#include <glib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace aurelo {
namespace {

namespace fs = std::filesystem;

std::string run(std::vector<std::string> argv) {
    std::vector<char*> raw;
    for (auto& arg : argv)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GError* error = nullptr;
    bool ran = g_spawn_sync(nullptr, raw.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                            &err, &status, &error);
    std::string text = out ? out : "";
    std::string problems = err ? err : "";
    g_free(out);
    g_free(err);
    if (error)
        g_error_free(error);
    EXPECT_TRUE(ran && g_spawn_check_wait_status(status, nullptr)) << argv[0] << ": " << problems;
    return text;
}

TEST(BundleLayoutTest, InstallsAProgramThatFindsItsBundleWhereverItIsMoved) {
    test::TemporaryDirectory temp;
    run({AURELO_CMAKE_COMMAND, "--install", AURELO_BINARY_DIR, "--prefix",
         (temp.path() / "Applications").string(), "--component", "bundle_probe"});
    fs::path bundle = temp.path() / "Applications" / "Aurelo翻译器.app";
    ASSERT_TRUE(fs::is_regular_file(bundle / "bundle.json"));
    ASSERT_TRUE(fs::is_regular_file(bundle / "bin" / "aurelo_bundle_probe"));

    for (const fs::path& location : {bundle, temp.path() / "elsewhere" / "Aurelo翻译器.app"}) {
        if (location != bundle) {
            fs::create_directories(location.parent_path());
            fs::rename(bundle, location);
        }
        auto answer = nlohmann::json::parse(run({(location / "bin/aurelo_bundle_probe").string()}));
        EXPECT_EQ(answer["bundleLocation"], location.string());
        EXPECT_EQ(answer["executable"], "bin/aurelo_bundle_probe");
        EXPECT_EQ(answer["build"], AURELO_BUILD_NUMBER);
        ASSERT_TRUE(answer.contains("info")) << answer.dump();
        EXPECT_EQ(answer["info"]["identifier"], "com.aurelo.translator");
        EXPECT_EQ(answer["info"]["version"], AURELO_VERSION);
        EXPECT_EQ(answer["info"]["build"], AURELO_BUILD_NUMBER);
        EXPECT_EQ(answer["info"]["executable"], "bin/aurelo_bundle_probe");
    }
}

} // namespace
} // namespace aurelo
