// The install rules produce a relocatable bundle that the program recognises as its own.

#include "UpdateTestSupport.hpp"
#include "support/Programs.hpp"
#include "update/ApplicationBundle.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace aurelo {
namespace {

namespace fs = std::filesystem;

std::string run(const std::vector<std::string>& arguments) {
    auto run = test::runProgram(arguments);
    EXPECT_TRUE(run.succeeded) << arguments[0] << ": " << run.errors;
    return run.output;
}

TEST(BundleLayoutTest, InstallsAProgramThatFindsItsBundleWhereverItIsMoved) {
    test::TestDirectory temp;
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
