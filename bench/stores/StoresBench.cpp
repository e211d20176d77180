// What a change of state costs: every change rewrites the defaults file atomically (with two
// flushes to disk), and the per-translation configuration must not touch the keychain.

#include "support/TestDirectory.hpp"

#include "models/KeychainStore.hpp"
#include "models/SessionStore.hpp"
#include "models/SettingsStore.hpp"
#include "platform/InMemorySecretStore.hpp"
#include "translation/TranslationNetwork.hpp"

#include <benchmark/benchmark.h>

namespace aurelo {
namespace {

// One session edit with `range(0)` sessions stored: encode, write, flush, rename.
void BM_SessionEditWithSessions(benchmark::State& state) {
    test::TestDirectory directory;
    UserDefaults defaults(directory.path() / "defaults.json");
    SessionStore store(defaults, nullptr, nullptr);
    std::vector<ChatSession> sessions;
    for (int i = 0; i < state.range(0); ++i) {
        auto session =
            ChatSession::make("Session " + std::to_string(i), "https://web.telegram.org/");
        session.proxyHost = "127.0.0.1";
        session.proxyPort = 1080;
        sessions.push_back(session);
    }
    store.setSessions(sessions);
    int n = 0;
    for (auto _ : state)
        store.rename(store.sessions()[0].id, "Renamed " + std::to_string(++n));
}
BENCHMARK(BM_SessionEditWithSessions)->Arg(1)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);

// Unread reports arrive every two seconds per page; an unchanged count must cost nothing.
void BM_UnchangedUnreadReport(benchmark::State& state) {
    test::TestDirectory directory;
    UserDefaults defaults(directory.path() / "defaults.json");
    SessionStore store(defaults, nullptr, nullptr);
    const std::string id = store.sessions()[0].id;
    store.setUnreadCount(3, id);
    for (auto _ : state)
        store.setUnreadCount(3, id);
}
BENCHMARK(BM_UnchangedUnreadReport);

void BM_ConfigurationForProvider(benchmark::State& state) {
    test::TestDirectory directory;
    UserDefaults defaults(directory.path() / "defaults.json");
    InMemorySecretStore secrets;
    secrets.putRaw("aurelo-translator-login-token", "token");
    KeychainStore keychain(secrets);
    HttpSession session(TranslationNetwork::sessionConfiguration());
    TranslationRequestCache cache;
    TranslationService translator("http://127.0.0.1:1", session, cache);
    SettingsStore settings(defaults, keychain, translator);
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.configuration(TranslationProvider::OpenAI));
    state.counters["keychainReads"] = static_cast<double>(secrets.lookupCount());
}
BENCHMARK(BM_ConfigurationForProvider);

} // namespace
} // namespace aurelo

BENCHMARK_MAIN();
