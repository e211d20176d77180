#include "app/AureloTranslatorApp.hpp"
#include "translation/AureloServiceURL.hpp"

#include <cstdio>

int main(int argc, char* argv[]) {
    // A managed-service address we may not use is refused before anything talks to it.
    if (const auto& problem = aurelo::aureloServiceURLProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    auto app = aurelo::AureloTranslatorApp::create();
    return app->run(argc, argv);
}
