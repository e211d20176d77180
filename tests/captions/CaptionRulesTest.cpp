// Which playback streams count as ours, and the transcript's revisions.

#include "captions/CaptionTranscript.hpp"
#include "captions/LiveCaptionManager.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"

#include <gtest/gtest.h>

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

namespace aurelo {
namespace {

// The parent of each process of a made-up process table.
auto parentsIn(std::map<pid_t, pid_t> parents) {
    return [parents = std::move(parents)](pid_t pid) -> std::optional<pid_t> {
        auto found = parents.find(pid);
        return found == parents.end() ? std::nullopt : std::optional(found->second);
    };
}

TEST(OwnPlaybackStreamRule, AcceptsThisProcessItsDescendantsAndTaggedStreams) {
    // 100 is us; 200 our web process; 300 its helper; 400 another program; 500 cycles.
    OwnPlaybackStreamRule rule(
        100, parentsIn({{200, 100}, {300, 200}, {100, 1}, {400, 1}, {500, 501}, {501, 500}}));
    using P = OwnPlaybackStreamRule::StreamProperties;
    const std::pair<P, bool> cases[] = {
        {{"100", std::nullopt}, true},
        {{"300", std::nullopt}, true},
        {{"400", std::nullopt}, false},
        {{"500", std::nullopt}, false},
        {{"999", std::nullopt}, false}, // unknown process
        {{std::nullopt, std::nullopt}, false},
        {{"", std::nullopt}, false},
        {{"100abc", std::nullopt}, false},
        {{" 100", std::nullopt}, false},
        {{"-100", std::nullopt}, false},
        {{"99999999999999999999", std::nullopt}, false},
        {{"7", "100"}, true}, // a sandboxed child: its own id means nothing to us, the tag does
        {{"400", "101"}, false},
        {{std::nullopt, "x"}, false},
    };
    for (const auto& [properties, own] : cases)
        EXPECT_EQ(rule.isOwn(properties), own) << properties.processId.value_or("<none>") << " / "
                                               << properties.ownerTag.value_or("<none>");
}

TEST(OwnPlaybackStreamRule, IdsFromAnotherProcessNamespaceAreNotTakenForOurs) {
    // 2 is us, as a Flatpak application usually is; 3 is our own web process. Every sandboxed
    // WebKit web process on the desktop reports "2", a sandboxed player something small.
    const std::map<pid_t, std::vector<std::string>> names{
        {2, {"aurelo-translator", "aurelo-translat"}},
        {3, {"WebKitWebProcess", "WebKitWebProces"}}};
    OwnPlaybackStreamRule rule(2, parentsIn({{2, 1}, {3, 2}}), [&](pid_t pid) {
        auto found = names.find(pid);
        return found == names.end() ? std::vector<std::string>{} : found->second;
    });
    using P = OwnPlaybackStreamRule::StreamProperties;
    const std::pair<P, bool> cases[] = {
        {{"2", std::nullopt, "WebKitWebProcess"}, false}, // another application's web page
        {{"2", std::nullopt, "aurelo-translator"}, true},
        {{"3", std::nullopt, "WebKitWebProcess"}, true},
        {{"3", std::nullopt, "totem"}, false},
        {{"9", std::nullopt, "WebKitWebProcess"}, false}, // nothing of that id here
        {{"2", "2", "WebKitWebProcess"}, true},           // our sandboxed web process
        {{"3", std::nullopt, std::nullopt}, true},        // nothing to cross-check
    };
    for (const auto& [properties, own] : cases)
        EXPECT_EQ(rule.isOwn(properties), own) << properties.processId.value_or("<none>") << " / "
                                               << properties.processBinary.value_or("<none>");
}

TEST(OwnPlaybackStreamRule, MatchesBinaryNamesAsTheKernelKeepsThem) {
    using R = OwnPlaybackStreamRule;
    EXPECT_TRUE(R::runsBinary({"WebKitWebProces"}, "WebKitWebProcess")) << "comm is cut to 15";
    EXPECT_FALSE(R::runsBinary({"WebKitWebProc"}, "WebKitWebProcess"));
    EXPECT_FALSE(R::runsBinary({"WebKitWebProcessX"}, "WebKitWebProcess"));
    EXPECT_FALSE(R::runsBinary({"", ""}, ""));
    EXPECT_FALSE(R::runsBinary({}, "sh"));
    EXPECT_TRUE(R::namesFromProc(0).empty());
}

TEST(OwnPlaybackStreamRule, KnowsARealChildByItsIdAndProgram) {
    gchar* argv[] = {const_cast<gchar*>("/bin/sleep"), const_cast<gchar*>("30"), nullptr};
    GPid child = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                              &child, nullptr));
    const auto rule = OwnPlaybackStreamRule::forThisProcess();
    const std::string id = std::to_string(child);
    EXPECT_TRUE(rule.isOwn({id, std::nullopt, "sleep"}));
    EXPECT_FALSE(rule.isOwn({id, std::nullopt, "WebKitWebProcess"}))
        << "an id of another namespace that happens to be our child's";
    EXPECT_FALSE(rule.isOwn({"1", std::nullopt, "systemd"}));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    g_spawn_close_pid(child);
}

TEST(OwnPlaybackStreamRule, ReadsParentsFromProc) {
    EXPECT_EQ(OwnPlaybackStreamRule::parentFromStatLine("42 (a) b (c)) S 17 42 42 0"), 17);
    EXPECT_EQ(OwnPlaybackStreamRule::parentFromStatLine("42 (no close paren S 17"), std::nullopt);
    EXPECT_EQ(OwnPlaybackStreamRule::parentFromStatLine("42 (x) S"), std::nullopt);
}

TEST(CaptionTranscript, ARunningSentenceIsRevisedAndOldAnswersNeverWin) {
    CaptionTranscript transcript;
    auto id = transcript.update("please", false);
    auto early = transcript.takeTranslationJob(id);
    ASSERT_TRUE(early);
    EXPECT_FALSE(transcript.takeTranslationJob(id)) << "unchanged text is not sent twice";

    EXPECT_EQ(transcript.update("please call me", true), id);
    auto final = transcript.takeTranslationJob(id);
    ASSERT_TRUE(final);
    EXPECT_EQ(final->text, "please call me");

    EXPECT_TRUE(transcript.applyTranslation(*final, "请给我打电话"));
    EXPECT_FALSE(transcript.applyTranslation(*early, "请"))
        << "a late answer for an older revision";
    EXPECT_EQ(transcript.translatedText(), "请给我打电话");

    auto next = transcript.update("thank you", false);
    EXPECT_NE(next, id);
    EXPECT_EQ(transcript.openUtterance(), next);
    EXPECT_EQ(transcript.sourceText(), "please call me\nthank you");
    EXPECT_EQ(transcript.translatedText(), "请给我打电话") << "untranslated lines are left out";
}

TEST(CaptionTranscript, KeepsOnlyRecentUtterances) {
    CaptionTranscript transcript;
    auto first = transcript.update("one", true);
    auto job = transcript.takeTranslationJob(first);
    for (int i = 0; i < static_cast<int>(CaptionTranscript::kMaximumUtterances); ++i)
        transcript.update("line " + std::to_string(i), true);
    EXPECT_EQ(transcript.sourceText().find("one"), std::string::npos);
    EXPECT_FALSE(transcript.applyTranslation(*job, "一")) << "its utterance is gone";
}

TEST(CaptionCopyText, SourceAloneOrBothLabelled) {
    EXPECT_EQ(LiveCaptionManager::copyText("", "你好"), std::nullopt);
    EXPECT_EQ(LiveCaptionManager::copyText("hello", ""), "hello");
    EXPECT_EQ(LiveCaptionManager::copyText("hello", "你好"), "原文：hello\n中文：你好");
}

} // namespace
} // namespace aurelo
