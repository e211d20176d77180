// Measures the page script on a chat of 5,000 messages in WebKitGTK: one visible-message scan
// after a scroll, one flush of the mutation observer after 50 messages arrive (median of 200
// each), a translated send from the answer's arrival to the page's send, and the CPU time the
// web content spends while nothing changes, with and without the script. Run it under
// scripts/test-session (it needs a display).
//
// The scan and the flush are timed from inside the script's own world by wrapping the timer and
// animation-frame functions it calls, so the figures are those of the script's callbacks alone
// (including the layout they force), not of the page around them.

#include "BenchPage.hpp"
#include "support/MainLoopWait.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using aurelo::test::BenchPage;
using aurelo::test::runMainLoopFor;
using aurelo::test::runMainLoopUntil;

namespace {

constexpr int kRuns = 200;
constexpr int kComposerRuns = 20;

const char* kInstrument = R"JS(
(() => {
    const bench = window.__bench = { scans: [], flushes: [], done: false };
    const frame = window.requestAnimationFrame.bind(window);
    window.requestAnimationFrame = (callback) => frame((time) => {
        const start = performance.now();
        callback(time);
        bench.scans.push(performance.now() - start);
    });
    const timer = window.setTimeout.bind(window);
    window.setTimeout = (callback, delay, ...rest) => timer((...args) => {
        if (delay !== 45) return callback(...args);
        const start = performance.now();
        callback(...args);
        bench.flushes.push(performance.now() - start);
    }, delay, ...rest);
})()
)JS";

// Scrolls up through the history in steps of 60 px, one scan each.
const char* kScrollRuns = R"JS(
(async () => {
    const pane = document.getElementById('pane');
    const wait = (condition) => new Promise((resolve) => {
        const check = () => condition() ? resolve() : setTimeout(check, 1);
        check();
    });
    for (let i = 0; i < RUNS; i += 1) {
        const before = window.__bench.scans.length;
        pane.scrollTop = pane.scrollTop - 60;
        await wait(() => window.__bench.scans.length > before);
    }
    window.__bench.done = true;
})()
)JS";

// Adds 50 messages at the bottom (in view, as a chat shows new messages), lets the flush run,
// then removes them again so that every run starts from the same 5,000.
const char* kArrivalRuns = R"JS(
(async () => {
    window.__bench.done = false;
    const pane = document.getElementById('pane');
    pane.style.paddingBottom = '0';
    pane.scrollTop = pane.scrollHeight;
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    const template = document.querySelector('[data-id=b1]');
    await sleep(100);
    for (let i = 0; i < RUNS; i += 1) {
        const before = window.__bench.flushes.length;
        const added = [];
        const box = document.createElement('div');
        for (let n = 0; n < 50; n += 1) {
            const message = template.cloneNode(true);
            message.removeAttribute('data-aurelo-translation-seen');
            message.removeAttribute('data-aurelo-voice-ready');
            for (const marked of message.querySelectorAll('[data-aurelo-translation-requested]')) {
                marked.removeAttribute('data-aurelo-translation-requested');
            }
            for (const panel of message.querySelectorAll('.aurelo-translation-panel')) panel.remove();
            message.setAttribute('data-id', 'new' + i + '-' + n);
            message.querySelector('span.selectable-text span').textContent = 'New message ' + i + '-' + n;
            added.push(message);
        }
        // The newest 50 replace the bottom of the pane, so all of them are within the viewport.
        for (const message of added) pane.insertBefore(message, pane.lastElementChild.nextSibling);
        pane.scrollTop = pane.scrollHeight;
        while (window.__bench.flushes.length === before) await sleep(5);
        for (const message of added) message.remove();
        await sleep(5);
    }
    window.__bench.done = true;
})()
)JS";

// Chinese in the composer, a real Enter's keydown, and the answer to the composer request the
// script posts for it: timed from the answer until the page has sent (its editor then empties
// the composer). The script puts the translation in, checks that the editor shows it, and
// presses the page's send button.
const char* kComposerSends = R"JS(
(async () => {
    window.__bench.done = false;
    window.__bench.sends = [];
    const composer = document.getElementById('composer');
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    const until = async (condition) => { while (!condition()) await sleep(1); };
    for (let i = 0; i < COMPOSER_RUNS; i += 1) {
        composer.focus();
        document.execCommand('insertText', false, '你好' + i);
        await sleep(20);
        composer.dispatchEvent(new KeyboardEvent('keydown', {
            key: 'Enter', code: 'Enter', keyCode: 13, bubbles: true, cancelable: true }));
        const id = composer.getAttribute('data-aurelo-composer-id');
        const start = performance.now();
        window.aureloSetComposerTranslation(id, 'Hello number ' + i, false);
        await until(() => composer.textContent === '');
        window.__bench.sends.push(performance.now() - start);
        // Past the bypass of the last send, so that the next Enter is checked again.
        await sleep(1900);
    }
    window.__bench.done = true;
})()
)JS";

std::string withRuns(std::string script) {
    const auto at = script.find("RUNS");
    script.replace(at, 4, std::to_string(kRuns));
    return script;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

std::vector<double> numbers(const nlohmann::json& array) {
    std::vector<double> result;
    if (array.is_array())
        for (const auto& value : array)
            result.push_back(value.get<double>());
    return result;
}

// CPU time (user + system, in clock ticks) of every process below this one: the web content,
// network and any sandbox processes WebKit started.
long long descendantTicks() {
    std::map<int, std::vector<int>> children;
    std::map<int, long long> ticks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        const auto close = line.rfind(')');
        std::istringstream fields(line.substr(close + 2));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        std::string skip;
        for (int i = 0; i < 9; ++i)
            fields >> skip;
        long long user = 0, system = 0;
        fields >> user >> system;
        const int pid = std::stoi(name);
        children[parent].push_back(pid);
        ticks[pid] = user + system;
    }
    long long total = 0;
    std::vector<int> pending = children[getpid()];
    while (!pending.empty()) {
        const int pid = pending.back();
        pending.pop_back();
        total += ticks[pid];
        for (int child : children[pid])
            pending.push_back(child);
    }
    return total;
}

double idleCpuPercent(BenchPage& page, bool inject) {
    page.load("chat.html?scenario=bench", inject);
    runMainLoopFor(3s); // let the first scan and answers settle
    const auto before = descendantTicks();
    const auto start = std::chrono::steady_clock::now();
    runMainLoopFor(10s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto used = static_cast<double>(descendantTicks() - before) / sysconf(_SC_CLK_TCK);
    return 100.0 * used / seconds;
}

} // namespace

int main() {
    BenchPage page(1000, 800);
    page.addResponseHeader("Cross-Origin-Opener-Policy", "same-origin");
    page.addResponseHeader("Cross-Origin-Embedder-Policy", "require-corp");

    page.load("chat.html?scenario=bench");
    page.evaluate(kInstrument);
    runMainLoopFor(500ms);
    const auto firstRequests = page.messagesOfKind("message").size();
    // Cross-origin isolation gives performance.now() a resolution fine enough for these figures.
    if (page.evaluate("window.crossOriginIsolated") != true)
        std::printf("warning: the page is not cross-origin isolated; timings are coarse\n");

    page.evaluate(withRuns(kScrollRuns));
    runMainLoopUntil([&] { return page.evaluate("window.__bench.done") == true; }, 120s);
    const auto scans = numbers(page.evaluate("window.__bench.scans"));
    const auto scrollRequests = page.messagesOfKind("message").size() - firstRequests;

    page.evaluate(withRuns(kArrivalRuns));
    runMainLoopUntil([&] { return page.evaluate("window.__bench.done") == true; }, 120s);
    const auto flushes = numbers(page.evaluate("window.__bench.flushes"));

    page.load("chat.html");
    page.evaluate(kInstrument);
    auto composerRuns = std::string(kComposerSends);
    composerRuns.replace(composerRuns.find("COMPOSER_RUNS"), 13, std::to_string(kComposerRuns));
    page.evaluate(composerRuns);
    runMainLoopUntil([&] { return page.evaluate("window.__bench.done") == true; }, 120s);
    const auto sends = numbers(page.evaluate("window.__bench.sends"));

    // Alternate the two cases so that clean-up left over from the runs above, or a burst of load
    // elsewhere on the machine, does not land on one of them only.
    double idleWith = 0;
    double idleWithout = 0;
    for (int round = 0; round < 2; ++round) {
        idleWithout += idleCpuPercent(page, false) / 2;
        idleWith += idleCpuPercent(page, true) / 2;
    }

    std::printf("page script on a chat of 5000 messages (%d runs each)\n", kRuns);
    std::printf("  requests at load: %zu, during %zu scroll scans: %zu\n", firstRequests,
                scans.size(), scrollRequests);
    std::printf("  scan after scroll:      median %.3f ms, p90 %.3f ms, max %.3f ms\n",
                median(scans), percentile(scans, 0.9), percentile(scans, 1.0));
    std::printf("  flush after 50 arrive:  median %.3f ms, p90 %.3f ms, max %.3f ms (%zu runs)\n",
                median(flushes), percentile(flushes, 0.9), percentile(flushes, 1.0),
                flushes.size());
    std::printf("  translated send:        median %.3f ms, p90 %.3f ms, max %.3f ms (%zu runs)\n",
                median(sends), percentile(sends, 0.9), percentile(sends, 1.0), sends.size());
    std::printf("  idle CPU of the web processes: %.2f %% with the script, %.2f %% without\n",
                idleWith, idleWithout);
    return 0;
}
