#include "service/AdminCommand.hpp"

#include "service/AdminGlossaryCommand.hpp"

#include "platform/GRef.hpp"
#include "service/AccessToken.hpp"
#include "service/AdminUsageCommand.hpp"
#include "service/DataOwner.hpp"
#include "service/ApertiumEngine.hpp"
#include "service/EngineFactory.hpp"
#include "service/PasswordHasher.hpp"
#include "service/ServiceDatabase.hpp"
#include "translation/TranslationProvider.hpp"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>

namespace aurelo::service {

namespace {

struct ParsedArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // "--label" -> value; flags map to ""
};

// Options that take a value; every other "--x" is a flag.
bool takesValue(const std::string& option) {
    static const char* kValued[] = {"--data",    "--database", "--password", "--label", "--model",
                                    "--backend", "--key",      "--endpoint", "--region",
                                    "--account", "--since",    "--user",     "--from",  "--to"};
    return std::ranges::any_of(kValued, [&](const char* name) { return option == name; });
}

std::optional<ParsedArguments> parse(const std::vector<std::string>& arguments, std::ostream& err) {
    ParsedArguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            parsed.positional.push_back(argument);
            continue;
        }
        std::string name = argument, value;
        if (auto equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (takesValue(name)) {
            if (i + 1 >= arguments.size()) {
                err << "选项 " << name << " 需要一个值。\n";
                return std::nullopt;
            }
            value = arguments[++i];
        }
        parsed.options[name] = value;
    }
    return parsed;
}

std::optional<std::string> option(const ParsedArguments& parsed, const char* name) {
    auto it = parsed.options.find(name);
    if (it == parsed.options.end())
        return std::nullopt;
    return it->second;
}

std::string formatTime(std::int64_t seconds) {
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> time(
        g_date_time_new_from_unix_local(seconds), g_date_time_unref);
    if (!time)
        return "-";
    const GCharPtr text(g_date_time_format(time.get(), "%Y-%m-%d %H:%M"));
    return text ? text.get() : "-";
}

bool isValidUsername(const std::string& name) {
    if (name.empty() || name.size() > 64 ||
        !g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
        return false;
    if (name.front() == ' ' || name.back() == ' ')
        return false;
    return std::ranges::none_of(name, [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::string maskSecret(const std::string& secret) {
    if (secret.empty())
        return "（未设置）";
    if (secret.size() <= 8)
        return "****";
    return secret.substr(0, 3) + "…" + secret.substr(secret.size() - 4);
}

std::string randomPassword() {
    // 16 characters from the token alphabet, without the two that are awkward to type.
    std::string token = generateAccessToken();
    std::erase_if(token, [](char c) { return c == '-' || c == '_'; });
    return token.substr(0, 16);
}

// The password: from --password, from standard input with --password-stdin, or a new random one
// that is printed (`generated` set).
std::optional<std::string> passwordFrom(const ParsedArguments& parsed, std::istream& in,
                                        std::ostream& err, bool& generated) {
    generated = false;
    if (auto given = option(parsed, "--password")) {
        if (given->empty()) {
            err << "密码不能为空。\n";
            return std::nullopt;
        }
        return given;
    }
    if (option(parsed, "--password-stdin")) {
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            err << "没有从标准输入读到密码。\n";
            return std::nullopt;
        }
        return line;
    }
    generated = true;
    return randomPassword();
}

int databaseFailure(const DatabaseError& error, std::ostream& err) {
    err << error.message << "\n";
    return kAdminFailed;
}

int usersCommand(ServiceDatabase& db, const ParsedArguments& parsed, std::istream& in,
                 std::ostream& out, std::ostream& err) {
    const auto& args = parsed.positional;
    std::string action = args.size() > 1 ? args[1] : "";
    if (action == "list") {
        auto users = db.listUsers(g_get_real_time() / G_USEC_PER_SEC);
        if (!users)
            return databaseFailure(users.error(), err);
        if (users->empty()) {
            out << "还没有用户。\n";
            return kAdminOk;
        }
        out << "用户名\t创建时间\t引擎数\t有效令牌\n";
        for (const auto& user : *users)
            out << user.username << "\t" << formatTime(user.createdAt) << "\t" << user.engineCount
                << "\t" << user.activeTokens << "\n";
        return kAdminOk;
    }
    if (args.size() != 3 || (action != "add" && action != "remove" && action != "set-password")) {
        err << adminUsage();
        return kAdminUsage;
    }
    const std::string& username = args[2];
    if (action == "remove") {
        auto removed = db.removeUser(username);
        if (!removed)
            return databaseFailure(removed.error(), err);
        if (!*removed) {
            err << "用户 " << username << " 不存在。\n";
            return kAdminFailed;
        }
        out << "已删除用户 " << username << "（其令牌和引擎一并删除）。\n";
        return kAdminOk;
    }
    if (action == "add" && !isValidUsername(username)) {
        err << "用户名无效：须为 1 到 64 个字符，不含控制字符，首尾不能是空格。\n";
        return kAdminUsage;
    }
    bool generated = false;
    auto password = passwordFrom(parsed, in, err, generated);
    if (!password)
        return kAdminUsage;
    std::string hash = PasswordHasher().hash(*password);
    if (hash.empty()) {
        err << "无法计算密码哈希。\n";
        return kAdminFailed;
    }
    if (action == "add") {
        auto added = db.addUser(username, hash, g_get_real_time() / G_USEC_PER_SEC);
        if (!added)
            return databaseFailure(added.error(), err);
        out << "已添加用户 " << username << "。\n";
    } else {
        auto changed = db.setPasswordHash(username, hash);
        if (!changed)
            return databaseFailure(changed.error(), err);
        if (!*changed) {
            err << "用户 " << username << " 不存在。\n";
            return kAdminFailed;
        }
        out << "已修改用户 " << username << " 的密码，原有登录令牌已全部吊销。\n";
    }
    if (generated)
        out << "密码：" << *password << "\n";
    return kAdminOk;
}

int enginesCommand(ServiceDatabase& db, const ParsedArguments& parsed, std::ostream& out,
                   std::ostream& err) {
    const auto& args = parsed.positional;
    std::string action = args.size() > 1 ? args[1] : "";
    if (action == "list" && args.size() == 3) {
        auto user = db.findUser(args[2]);
        if (!user)
            return databaseFailure(user.error(), err);
        if (!*user) {
            err << "用户 " << args[2] << " 不存在。\n";
            return kAdminFailed;
        }
        auto engines = db.engines((*user)->id);
        if (!engines)
            return databaseFailure(engines.error(), err);
        if (engines->empty())
            out << "用户 " << args[2] << " 还没有启用任何引擎。\n";
        for (const auto& engine : *engines)
            out << engine.provider << "\t" << engine.label << "\t" << engine.model.value_or("-")
                << "\t" << backendDisplayName(engine.backend) << "\n";
        return kAdminOk;
    }
    if ((action != "enable" && action != "disable") || args.size() != 4) {
        err << adminUsage();
        return kAdminUsage;
    }
    const std::string& username = args[2];
    const std::string& provider = args[3];
    auto known = translationProviderFromRawValue(provider);
    if (!known) {
        err << "未知的引擎 " << provider
            << "；可用：google、deepl、microsoft、openai、gemini、claude。\n";
        return kAdminUsage;
    }
    if (action == "disable") {
        auto removed = db.disableEngine(username, provider);
        if (!removed)
            return databaseFailure(removed.error(), err);
        if (!*removed) {
            err << "用户 " << username << " 不存在或没有启用 " << provider << "。\n";
            return kAdminFailed;
        }
        out << "已为 " << username << " 停用 " << provider << "。\n";
        return kAdminOk;
    }
    std::string backend = option(parsed, "--backend").value_or(provider);
    if (!isKnownBackend(backend)) {
        err << "未知的后端 " << backend << "；可用：六个服务商之一或 apertium。\n";
        return kAdminUsage;
    }
    EngineRecord engine{provider, option(parsed, "--label").value_or(backendDisplayName(backend)),
                        option(parsed, "--model"), backend};
    if (engine.model && engine.model->empty())
        engine.model.reset();
    if (engine.label.empty()) {
        err << "显示名称不能为空。\n";
        return kAdminUsage;
    }
    auto enabled = db.enableEngine(username, engine);
    if (!enabled)
        return databaseFailure(enabled.error(), err);
    if (!*enabled) {
        err << "用户 " << username << " 不存在。\n";
        return kAdminFailed;
    }
    out << "已为 " << username << " 启用 " << provider << "（" << engine.label << "）";
    if (backend != provider)
        out << "，由" << backendDisplayName(backend) << "翻译";
    out << "。\n";
    if (backend == "apertium") {
        auto pairs = installedApertiumPairs(ApertiumConfiguration{}.modesDirectory);
        if (pairs.empty())
            err << "警告：本机没有安装任何 Apertium 语言对（例如 apertium-eng-spa）。\n";
    }
    return kAdminOk;
}

int providersCommand(ServiceDatabase& db, const ParsedArguments& parsed, std::istream& in,
                     std::ostream& out, std::ostream& err) {
    const auto& args = parsed.positional;
    std::string action = args.size() > 1 ? args[1] : "";
    if (action == "list" && args.size() == 2) {
        auto all = db.allProviderSettings();
        if (!all)
            return databaseFailure(all.error(), err);
        if (all->empty())
            out << "还没有配置任何服务商。\n";
        for (const auto& settings : *all)
            out << settings.name << "\t密钥 " << maskSecret(settings.apiKey) << "\t地址 "
                << (settings.endpoint.empty() ? "（默认）" : settings.endpoint) << "\t区域 "
                << (settings.region.empty() ? "-" : settings.region) << "\t模型 "
                << (settings.model.empty() ? "-" : settings.model) << "\n";
        return kAdminOk;
    }
    if (action != "set" || args.size() != 3) {
        err << adminUsage();
        return kAdminUsage;
    }
    const std::string& name = args[2];
    if (name != "transcription" && !translationProviderFromRawValue(name)) {
        err << "未知的服务商 " << name
            << "；可用：google、deepl、microsoft、openai、gemini、claude、transcription。\n";
        return kAdminUsage;
    }
    auto settings = db.providerSettings(name);
    if (!settings)
        return databaseFailure(settings.error(), err);
    if (auto key = option(parsed, "--key"))
        settings->apiKey = *key;
    if (option(parsed, "--key-stdin")) {
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        settings->apiKey = line;
    }
    if (auto endpoint = option(parsed, "--endpoint")) {
        if (!endpoint->empty() && !endpoint->starts_with("https://") &&
            !endpoint->starts_with("http://")) {
            err << "地址必须以 https:// 或 http:// 开头。\n";
            return kAdminUsage;
        }
        settings->endpoint = *endpoint;
    }
    if (auto region = option(parsed, "--region"))
        settings->region = *region;
    if (auto model = option(parsed, "--model"))
        settings->model = *model;
    if (auto saved = db.setProviderSettings(*settings); !saved)
        return databaseFailure(saved.error(), err);
    out << "已保存 " << name << " 的设置。\n";
    return kAdminOk;
}

int tokensCommand(ServiceDatabase& db, const ParsedArguments& parsed, std::ostream& out,
                  std::ostream& err) {
    const auto& args = parsed.positional;
    if (args.size() != 3 || args[1] != "revoke") {
        err << adminUsage();
        return kAdminUsage;
    }
    auto revoked = db.revokeTokens(args[2]);
    if (!revoked)
        return databaseFailure(revoked.error(), err);
    if (!*revoked) {
        err << "用户 " << args[2] << " 不存在。\n";
        return kAdminFailed;
    }
    out << "已吊销 " << args[2] << " 的 " << **revoked << " 个登录令牌。\n";
    return kAdminOk;
}

} // namespace

std::string adminUsage() {
    return "用法：aurelo-service admin --data 目录 命令\n"
           "      或 aurelo-service admin --database sqlite:文件|postgresql://… 命令"
           "（与服务使用同一数据库）\n"
           "  users list\n"
           "  users add 用户名 [--password 密码 | --password-stdin]   "
           "（不给密码时生成并显示随机密码）\n"
           "  users set-password 用户名 [--password 密码 | --password-stdin]\n"
           "  users remove 用户名\n"
           "  engines list 用户名\n"
           "  engines enable 用户名 引擎 [--label 显示名称] [--model 模型] [--backend apertium]\n"
           "  engines disable 用户名 引擎\n"
           "  providers list\n"
           "  providers set 服务商 [--key 密钥 | --key-stdin] [--endpoint 地址] [--region 区域] "
           "[--model 模型]\n"
           "  tokens revoke 用户名\n" +
           std::string(usageCommandHelp()) +
           "  apertium pairs\n"
           "引擎：google、deepl、microsoft、openai、gemini、claude；服务商另有 "
           "transcription（语音识别）。\n" +
           glossaryUsage();
}

int runAdminCommand(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                    std::ostream& err) {
    auto parsed = parse(arguments, err);
    if (!parsed)
        return kAdminUsage;
    if (parsed->positional.empty() || option(*parsed, "--help")) {
        (parsed->positional.empty() ? err : out) << adminUsage();
        return parsed->positional.empty() ? kAdminUsage : kAdminOk;
    }
    const std::string& area = parsed->positional[0];
    if (area == "apertium") {
        auto pairs = installedApertiumPairs(ApertiumConfiguration{}.modesDirectory);
        if (pairs.empty())
            out << "本机没有安装 Apertium 语言对。\n";
        for (const auto& pair : pairs)
            out << pair.source << " -> " << pair.target << "\t(" << pair.mode << ")\n";
        return kAdminOk;
    }
    // --database names the store (the one the servers use); without it, the file in --data.
    auto data = option(*parsed, "--data");
    auto named = option(*parsed, "--database");
    DatabaseLocation location;
    // A SQLite file is made and written as whoever runs the command: as root, as the service.
    auto actForService = [&](const std::filesystem::path& folder) {
        auto owner = becomeDataOwner(folder.empty() ? std::filesystem::path(".") : folder);
        if (!owner)
            err << owner.error() << "\n";
        else if (*owner)
            err << "以 root 身份运行：已改用数据目录所有者 " << **owner << " 的身份。\n";
        return owner.has_value();
    };
    if (named && !named->empty()) {
        auto parsedLocation = DatabaseLocation::parse(*named);
        if (!parsedLocation) {
            err << parsedLocation.error() << "\n";
            return kAdminUsage;
        }
        location = *parsedLocation;
        if (location.kind == DatabaseLocation::Kind::sqlite &&
            !actForService(std::filesystem::path(location.target).parent_path()))
            return kAdminFailed;
    } else {
        if (!data || data->empty()) {
            err << "需要 --data 目录或 --database 地址。\n" << adminUsage();
            return kAdminUsage;
        }
        if (!actForService(*data))
            return kAdminFailed;
        // The directory holds password hashes and provider keys: only its owner may enter it.
        if (g_mkdir_with_parents(data->c_str(), 0700) != 0) {
            err << "无法创建数据目录 " << *data << "：" << g_strerror(errno) << "\n";
            return kAdminFailed;
        }
        location.target = (std::filesystem::path(*data) / ServiceDatabase::kFileName).string();
    }
    auto db = ServiceDatabase::open(location);
    if (!db)
        return databaseFailure(db.error(), err);
    if (isUsageCommand(parsed->positional))
        return runUsageCommand(**db, parsed->positional, parsed->options,
                               g_get_real_time() / G_USEC_PER_SEC, out, err);
    if (area == "users")
        return usersCommand(**db, *parsed, in, out, err);
    if (area == "engines")
        return enginesCommand(**db, *parsed, out, err);
    if (area == "providers")
        return providersCommand(**db, *parsed, in, out, err);
    if (area == "tokens")
        return tokensCommand(**db, *parsed, out, err);
    if (area == "glossary")
        return runGlossaryCommand(
            **db, {parsed->positional.begin() + 1, parsed->positional.end()}, parsed->options, out,
            err);
    err << adminUsage();
    return kAdminUsage;
}

} // namespace aurelo::service
