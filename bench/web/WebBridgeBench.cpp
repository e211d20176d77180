// Bridge round trip: the page posts a composer request, the host translates it through the fake
// managed service (answering at once) and calls the page's function; 1,000 in a row, each text
// new. Then the queue: 1,000 chat messages posted in bursts of 10, as a page scan posts them,
// until all are answered.
//
//   scripts/test-session build/default/bench/web/bench_web_bridge

#include "WebBenchSupport.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

using namespace aurelo;

namespace {

constexpr const char* kPageScript = R"JS(
(() => {
  const post = (m) => window.webkit.messageHandlers.translationBridge.postMessage(m);
  window.roundTrips = [];
  window.runRoundTrips = (count) => new Promise((resolve) => {
    let i = 0, started = 0;
    const next = () => {
      if (i === count) { resolve(true); return; }
      started = performance.now();
      post({kind: "composer", id: "at-" + i, text: "round trip " + i, target: "en"});
    };
    window.aureloSetComposerTranslation = () => {
      window.roundTrips.push(performance.now() - started);
      i += 1;
      next();
    };
    next();
  });
  window.queueAnswers = 0;
  window.aureloSetTranslation = () => { window.queueAnswers += 1; };
  window.postBurst = (first, count) => {
    for (let j = first; j < first + count; j += 1)
      post({id: "q-" + j, text: "queued message " + j, target: "zh-CN"});
    return true;
  };
})();
)JS";

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main() {
    bench::initialiseGtk();
    bench::HostBench bench(kPageScript);
    bench.pages.add("/chat.html", "<!DOCTYPE html><html><body>chat</body></html>");

    ChatWebViewInputs inputs;
    inputs.sessionID = bench::sessionId(0);
    inputs.pageURL = bench.pages.url("/chat.html");
    inputs.isActive = true;
    inputs.translationConfiguration = {TranslationProvider::Google, "token", "", ""};
    ChatWebView host(inputs, bench.environment);
    if (!bench::waitForLoad(host.webView()))
        return 1;

    auto waitFor = [&](const char* script, const char* expected) {
        return test::runMainLoopUntil(
            [&] { return bench::evaluate(host.webView(), script) == expected; },
            std::chrono::seconds(120));
    };
    bench::evaluate(host.webView(), "runRoundTrips(1000); true");
    waitFor("roundTrips.length", "1000");
    const auto json = bench::evaluate(host.webView(), "roundTrips");
    const auto times = nlohmann::json::parse(json.value_or("[]")).get<std::vector<double>>();
    if (times.size() != 1000) {
        std::fprintf(stderr, "only %zu round trips completed\n", times.size());
        return 1;
    }
    std::printf("bridge round trip over %zu messages: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                times.size(), percentile(times, 0.5), percentile(times, 0.99),
                percentile(times, 1.0));

    // The bursts are driven from here: a page without a window has its timers throttled to one
    // second, which would measure WebKit's throttling instead of the queue.
    const std::size_t requestsBefore = bench.fake.requestCount("/api/translate");
    const auto started = std::chrono::steady_clock::now();
    for (int first = 0; first < 1000; first += 10) {
        bench::evaluate(host.webView(), "postBurst(" + std::to_string(first) + ", 10)");
        const std::string expected = std::to_string(first + 10);
        while (bench::evaluate(host.webView(), "queueAnswers") != expected)
            test::runMainLoopFor(std::chrono::milliseconds(1));
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    std::printf("queue: 1000 messages in bursts of 10 answered in %.0f ms (%.0f messages/s, %zu "
                "service requests)\n",
                ms, 1000.0 / (ms / 1000.0), bench.fake.requestCount("/api/translate") - requestsBefore);
    return 0;
}
