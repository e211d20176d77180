// Unpacking untrusted update packages: nothing may land outside the work folder, links may not
// lead out of it, and absurd archives stop early.

#include "update/PackageExtractor.hpp"
#include "UpdateTestSupport.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace aurelo {
namespace {

using test::ZipEntry;
using Type = test::ZipEntry::Type;

class PackageExtractorTest : public ::testing::Test {
protected:
    std::filesystem::path zip() const { return temp.path() / "update.zip"; }
    std::filesystem::path work() const { return temp.path() / "work" / "inner"; }
    void SetUp() override { std::filesystem::create_directories(work()); }
    // Packs `entries` and unpacks them into an empty work folder.
    bool expand(const std::vector<ZipEntry>& entries, ExtractionLimits limits = {}) {
        std::filesystem::remove_all(work());
        std::filesystem::create_directories(work());
        test::writeZip(zip(), entries);
        return expandPackage(zip(), work(), limits).has_value();
    }

    // Files that an escaping entry would create next to the work folder.
    bool anythingEscaped() const {
        return std::filesystem::exists(temp.path() / "work" / "evil") ||
               std::filesystem::exists(temp.path() / "evil") ||
               std::filesystem::exists("/tmp/aurelo-evil-entry");
    }

    test::TestDirectory temp;
};

TEST_F(PackageExtractorTest, UnpacksFoldersFilesModesAndInnerLinks) {
    test::writeZip(zip(), {
                              {"X.app/", Type::Directory},
                              {"X.app/bin/run", Type::File, "#!/bin/sh\n", 0755},
                              {"X.app/share/data.txt", Type::File, "数据", 0644},
                              {"X.app/lib/libx.so", Type::Link, "../share/data.txt"},
                              {"X.app/bin/up", Type::Link, "../../X.app/share"},
                              {"./X.app//share/./second.txt", Type::File, "2"},
                          });
    ASSERT_TRUE(expandPackage(zip(), work()));
    EXPECT_EQ(test::readFile(work() / "X.app/share/data.txt"), "数据");
    EXPECT_EQ(test::readFile(work() / "X.app/share/second.txt"), "2");
    struct stat info {};
    ASSERT_EQ(stat((work() / "X.app/bin/run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_EQ(std::filesystem::read_symlink(work() / "X.app/lib/libx.so"), "../share/data.txt");
    EXPECT_EQ(test::readFile(work() / "X.app/lib/libx.so"), "数据");
}

TEST_F(PackageExtractorTest, RefusesEntriesAndLinksThatLeadOutside) {
    const std::vector<std::vector<ZipEntry>> archives = {
        {{"../evil", Type::File, "x"}},
        {{"X.app/../../evil", Type::File, "x"}},
        {{"/tmp/aurelo-evil-entry", Type::File, "x"}},
        {{"X.app/out", Type::Link, "/etc"}},
        {{"X.app/out", Type::Link, "../../evil"}},
        {{"out", Type::Link, ".."}},
        // "d/a" leads to the folder itself and "d/b" climbs one step from "d": each stays inside
        // on paper, but "d/b" resolves through "d/a" to the parent of the folder.
        {{"d/", Type::Directory}, {"d/a", Type::Link, ".."}, {"d/b", Type::Link, "a/.."}},
        // A later entry written through an earlier link.
        {{"X.app/", Type::Directory},
         {"X.app/up", Type::Link, ".."},
         {"X.app/up/evil", Type::File, "x"}},
        {{"link", Type::Link, "."}, {"link/evil", Type::File, "x"}},
    };
    for (std::size_t i = 0; i < archives.size(); ++i) {
        EXPECT_FALSE(expand(archives[i])) << "archive " << i;
        EXPECT_FALSE(anythingEscaped()) << "archive " << i;
    }
}

TEST_F(PackageExtractorTest, NeverOverwritesWhatIsThere) {
    test::writeFile(work() / "update.zip", "the package itself");
    test::writeZip(zip(), {{"update.zip", Type::File, "replaced"}});
    EXPECT_FALSE(expandPackage(zip(), work()));
    EXPECT_EQ(test::readFile(work() / "update.zip"), "the package itself");

    EXPECT_FALSE(expand({{"a.txt", Type::File, "first"}, {"a.txt", Type::File, "second"}}));
    EXPECT_EQ(test::readFile(work() / "a.txt"), "first");
}

TEST_F(PackageExtractorTest, StopsAtAbsurdSizesAndCounts) {
    ExtractionLimits limits{.maximumEntries = 3, .maximumFileSize = 1000, .maximumTotalSize = 1500};
    const auto file = [](const char* name, std::size_t size) {
        return ZipEntry(name, Type::File, std::string(size, 'a'));
    };
    EXPECT_FALSE(expand({file("big", 1001)}, limits));
    EXPECT_FALSE(expand({file("a", 800), file("b", 800)}, limits));
    EXPECT_FALSE(expand({file("a", 1), file("b", 1), file("c", 1), file("d", 1)}, limits));
    EXPECT_TRUE(expand({file("a", 700), file("b", 700)}, limits));
}

TEST_F(PackageExtractorTest, RefusesDamagedArchives) {
    test::writeZip(zip(), {{"X.app/bundle.json", Type::File, std::string(4000, 'j')}});
    std::string good = test::readFile(zip());

    // Not a zip at all is PackageStagingTest's.
    const std::vector<std::string> damaged = {
        "",
        good.substr(0, good.size() / 2),
        [&] {
            // Flip bytes in the middle of the compressed data.
            std::string copy = good;
            for (std::size_t i = 60; i < 90 && i < copy.size(); ++i)
                copy[i] = static_cast<char>(~copy[i]);
            return copy;
        }(),
    };
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        test::writeFile(zip(), damaged[i]);
        EXPECT_FALSE(expandPackage(zip(), work())) << "damage " << i;
    }
}

} // namespace
} // namespace aurelo
