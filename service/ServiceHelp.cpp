#include "service/ServiceHelp.hpp"

namespace aurelo::service {

std::string programHelp() {
    return "用法：aurelo-service 命令 [选项…]\n"
           "\n"
           "Aurelo翻译器的托管翻译服务：登录、引擎列表、文本和语音翻译，以及应用更新的分发。\n"
           "\n"
           "命令：\n"
           "  serve    运行服务，直到收到 SIGINT 或 SIGTERM（aurelo-service serve --help）\n"
           "  admin    管理账号、引擎、服务商设置和登录令牌（aurelo-service admin --help）\n"
           "  help [命令 [子命令]]\n"
           "           显示帮助，例如 aurelo-service help admin users\n"
           "\n"
           "选项：\n"
           "  -h, --help       显示本帮助并退出\n"
           "  -V, --version    显示版本并退出\n"
           "\n"
           "退出码：0 成功，1 操作失败，2 用法或配置错误。\n"
           "详细说明见 aurelo-service(1)。\n";
}

std::string serveConfigHelp() {
    return "  [--config 文件]\n"
           "      从文件读取上面的选项：每行“名称 = 值”即选项“--名称 值”（例如 "
           "listen = 0.0.0.0:8443），\n"
           "      # 开头的行是注释，值为空的设置不生效；命令行上给出的选项优先于文件。\n"
           "      软件包的默认配置文件是 /etc/aurelo-service/aurelo-service.conf。\n";
}

std::optional<std::string> adminVerbHelp(std::string_view verb) {
    if (verb == "users")
        return "用法：aurelo-service admin --data 目录 users 操作 …\n"
               "\n"
               "管理能登录应用的账号。密码以加盐 scrypt 哈希保存；没有自助注册。\n"
               "\n"
               "  users list\n"
               "      列出用户名、创建时间、启用的引擎数和有效登录令牌数。\n"
               "  users add 用户名 [--password 密码 | --password-stdin]\n"
               "      添加用户。不给密码时生成一个随机密码并显示一次。用户名 1 到 64 个字符，\n"
               "      不含控制字符，首尾不能是空格。\n"
               "  users set-password 用户名 [--password 密码 | --password-stdin]\n"
               "      修改密码，并吊销该用户所有已有的登录令牌。\n"
               "  users remove 用户名\n"
               "      删除用户及其令牌和引擎。\n"
               "  users quota 用户名 每月字数|none\n"
               "      设置（none 为取消）每月翻译字数上限（按 UTC 日历月）；超出时翻译请求被拒绝。\n"
               "\n"
               "--password-stdin 从标准输入读取一行作为密码，密码不会出现在进程列表里。\n";
    if (verb == "engines")
        return "用法：aurelo-service admin --data 目录 engines 操作 …\n"
               "\n"
               "为每个账号启用翻译引擎；应用按启用的顺序列出它们。\n"
               "\n"
               "  engines list 用户名\n"
               "      列出该用户的引擎：服务商、显示名称、模型和实际翻译的后端。\n"
               "  engines enable 用户名 引擎 [--label 显示名称] [--model 模型] "
               "[--backend apertium]\n"
               "      启用引擎（已启用时更新其设置）。--backend apertium 用本机的 Apertium\n"
               "      离线演示引擎代替服务商翻译。\n"
               "  engines disable 用户名 引擎\n"
               "      停用引擎。\n"
               "\n"
               "引擎：google、deepl、microsoft、openai、gemini、claude。\n";
    if (verb == "providers")
        return "用法：aurelo-service admin --data 目录 providers 操作 …\n"
               "\n"
               "保存服务商的访问设置，所有账号共用。\n"
               "\n"
               "  providers list\n"
               "      列出已配置的服务商（密钥只显示首尾几位）。\n"
               "  providers set 服务商 [--key 密钥 | --key-stdin] [--endpoint 地址] "
               "[--region 区域] [--model 模型]\n"
               "      设置密钥、接口地址（默认为服务商的公开接口，须以 https:// 或 http:// "
               "开头）、\n"
               "      Microsoft 的区域和默认模型；没有给出的项保持不变。\n"
               "\n"
               "服务商：google、deepl、microsoft、openai、gemini、claude，以及 transcription\n"
               "（与 OpenAI 兼容的语音识别接口，用于语音消息）。--key-stdin "
               "从标准输入读取一行密钥。\n";
    if (verb == "tokens")
        return "用法：aurelo-service admin --data 目录 tokens revoke 用户名\n"
               "\n"
               "吊销该用户所有的登录令牌：该用户在每台电脑上都需要重新登录。\n";
    if (verb == "usage")
        return "用法：aurelo-service admin --data 目录 usage [--account 用户名] [--since 2026-12-01] "
               "[--json]\n"
               "\n"
               "按用户、引擎和日期（UTC）列出翻译字数和请求数，默认从本月 1 日起，末行为合计；\n"
               "--json 输出 JSON 数组。各实例每 5 秒写入一次用量，最近几秒的用量可能尚未显示。\n";
    if (verb == "apertium")
        return "用法：aurelo-service admin apertium pairs\n"
               "\n"
               "列出本机安装的 Apertium 语言对（例如 apertium-eng-spa 提供英语↔西班牙语），\n"
               "即 --backend apertium 的引擎能翻译的语言。不需要 --data。\n";
    return std::nullopt;
}

} // namespace aurelo::service
