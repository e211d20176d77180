// aurelo-service: the reference managed translation service of Aurelo翻译器.
//
//   aurelo-service serve --listen 127.0.0.1:8787 --data /var/lib/aurelo-service
//   aurelo-service admin --data /var/lib/aurelo-service users add alice

#include "service/AdminCommand.hpp"
#include "service/ServeCommand.hpp"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "help") {
        std::fputs("用法：aurelo-service serve …   运行服务（serve --help 查看选项）\n"
                   "      aurelo-service admin …   管理账号、引擎和服务商设置（admin --help）\n",
                   arguments.empty() ? stderr : stdout);
        return arguments.empty() ? 2 : 0;
    }
    std::string command = arguments[0];
    arguments.erase(arguments.begin());
    if (command == "serve")
        return aurelo::service::runServeCommand(arguments);
    if (command == "admin")
        return aurelo::service::runAdminCommand(arguments, std::cin, std::cout, std::cerr);
    std::fprintf(stderr, "未知命令：%s（可用：serve、admin）\n", command.c_str());
    return 2;
}
