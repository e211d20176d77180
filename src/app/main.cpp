#include "app/AureloTranslatorApp.hpp"
#include "captions/OwnPlaybackStreamRule.hpp"
#include "translation/AureloServiceURL.hpp"

#include <cstdio>

int main(int argc, char* argv[]) {
    // A managed-service address we may not use is refused before anything talks to it.
    if (const auto& problem = aurelo::aureloServiceURLProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    // Pages play sound from WebKit's own processes; the tag lets live captions recognise them as
    // ours. It is an environment variable, so it is set before any thread starts.
    aurelo::OwnPlaybackStreamRule::tagChildProcesses();
    auto app = aurelo::AureloTranslatorApp::create();
    return app->run(argc, argv);
}
