// aurelo-service: the reference managed translation service of Aurelo翻译器.
//
//   aurelo-service serve --config /etc/aurelo-service/aurelo-service.conf
//   aurelo-service serve --listen 127.0.0.1:8787 --data /var/lib/aurelo-service
//   aurelo-service admin --data /var/lib/aurelo-service users add alice

#include "service/AdminCommand.hpp"
#include "service/ServeCommand.hpp"
#include "service/ServeConfigFile.hpp"
#include "service/ServiceHelp.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifndef AURELO_VERSION
#define AURELO_VERSION "0"
#endif

namespace {

using namespace aurelo::service;

bool asksForHelp(const std::vector<std::string>& arguments) {
    return std::ranges::any_of(arguments,
                               [](const std::string& a) { return a == "--help" || a == "-h"; });
}

int serveHelp() {
    int status = runServeCommand({"--help"});
    std::fputs(serveConfigHelp().c_str(), stdout);
    return status;
}

// The admin verb a help request is about: the first argument that names one, so that
// "admin --data DIR users --help" finds "users".
int adminHelp(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments)
        if (auto help = adminVerbHelp(argument)) {
            std::fputs(help->c_str(), stdout);
            return 0;
        }
    std::fputs(adminUsage().c_str(), stdout);
    std::fputs("各子命令的说明：aurelo-service admin 子命令 --help（例如 admin users --help）。\n",
               stdout);
    return 0;
}

// "help", "help serve", "help admin", "help admin VERB".
int helpCommand(const std::vector<std::string>& topic) {
    if (topic.empty()) {
        std::fputs(programHelp().c_str(), stdout);
        return 0;
    }
    if (topic[0] == "serve" && topic.size() == 1)
        return serveHelp();
    if (topic[0] == "admin" && topic.size() <= 2) {
        if (topic.size() == 2 && !adminVerbHelp(topic[1])) {
            std::fprintf(stderr,
                         "没有子命令 admin %s 的帮助（可用：users、engines、providers、"
                         "tokens、apertium）\n",
                         topic[1].c_str());
            return 2;
        }
        return adminHelp(topic);
    }
    std::fprintf(stderr, "没有“%s”的帮助。\n%s", topic[0].c_str(), programHelp().c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(programHelp().c_str(), stderr);
        return 2;
    }
    std::string command = arguments[0];
    arguments.erase(arguments.begin());
    if (command == "--help" || command == "-h")
        return helpCommand({});
    if (command == "help")
        return helpCommand(arguments);
    if (command == "--version" || command == "-V") {
        std::printf("aurelo-service %s\n", AURELO_VERSION);
        return 0;
    }
    if (command == "serve") {
        if (asksForHelp(arguments))
            return serveHelp();
        auto expanded = ServeConfigFile::expandArguments(arguments);
        if (!expanded) {
            std::fprintf(stderr, "%s\n", expanded.error().c_str());
            return 2;
        }
        return runServeCommand(*expanded);
    }
    if (command == "admin") {
        if (asksForHelp(arguments))
            return adminHelp(arguments);
        return runAdminCommand(arguments, std::cin, std::cout, std::cerr);
    }
    std::fprintf(stderr, "未知命令：%s（可用：serve、admin、help）\n", command.c_str());
    return 2;
}
