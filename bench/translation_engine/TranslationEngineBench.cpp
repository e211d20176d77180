// Translation engine figures: cache lookups per second with a full cache, and the wall time of
// 1,000 single translations and of 100 batches of 10 against the fake service on loopback.
// Every text is new, so every translation makes a real HTTP request.
//
//   build/default/bench/translation_engine/bench_translation_engine

#include "support/FakeManagedService.hpp"
#include "support/MainLoopWait.hpp"
#include "translation/TranslationNetwork.hpp"
#include "translation/TranslationService.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

using namespace aurelo;

namespace {

void CacheLookupAt500(benchmark::State& state) {
    TranslationRequestCache cache;
    std::vector<TranslationRequestCache::Key> keys;
    for (int i = 0; i < 500; ++i) {
        keys.push_back({"message number " + std::to_string(i) + " with some typical length", "en", "google"});
        cache.store(TranslationResult{"译文 " + std::to_string(i), "en"}, keys.back());
    }
    std::size_t i = 0;
    for (auto _ : state) {
        auto hit = cache.cachedResult(keys[i++ % keys.size()]);
        benchmark::DoNotOptimize(hit);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CacheLookupAt500);

template <typename Start> double wallSeconds(int expected, Start start) {
    int done = 0, failed = 0;
    auto begin = std::chrono::steady_clock::now();
    start(done, failed);
    test::runMainLoopUntil([&] { return done == expected; }, std::chrono::minutes(5));
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (failed || done != expected)
        std::fprintf(stderr, "warning: %d of %d failed or unanswered\n", failed + expected - done, expected);
    return seconds;
}

void loopbackFigures() {
    test::FakeManagedService fake;
    fake.setResponder([](const test::RecordedRequest& r) { return test::echoTranslation(r); });
    HttpSession& session = TranslationNetwork::session();
    TranslationRequestCache cache(100000);
    TranslationService service(fake.origin(), session, cache);
    TranslationConfiguration config{TranslationProvider::Google, "bench-token", "", ""};

    double single = wallSeconds(1000, [&](int& done, int& failed) {
        for (int i = 0; i < 1000; ++i)
            service.translate("single " + std::to_string(i), "en", config, [&](auto outcome) {
                ++done;
                failed += !outcome;
            });
    });
    double batches = wallSeconds(100, [&](int& done, int& failed) {
        for (int b = 0; b < 100; ++b) {
            std::vector<std::string> texts;
            for (int i = 0; i < 10; ++i)
                texts.push_back("batch " + std::to_string(b) + " item " + std::to_string(i));
            service.translateBatch(texts, "en", config, [&](auto outcome) {
                ++done;
                failed += !outcome;
            });
        }
    });
    std::printf("1,000 single translations (all issued at once, 8 connections): %.3f s (%.0f/s)\n",
                single, 1000 / single);
    std::printf("100 batches of 10 (all issued at once): %.3f s (%.0f texts/s)\n", batches,
                1000 / batches);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    loopbackFigures();
    return 0;
}
