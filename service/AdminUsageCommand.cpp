// `aurelo-service admin usage` and `admin users quota`.
#include "service/AdminCommand.hpp"
#include "service/AdminUsageCommand.hpp"

#include "service/ServiceDatabase.hpp"
#include "service/UsageBatch.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>
#include <iomanip>
#include <ostream>

namespace aurelo::service {

namespace {

std::optional<std::string> option(const std::map<std::string, std::string>& options,
                                  const char* name) {
    auto it = options.find(name);
    if (it == options.end())
        return std::nullopt;
    return it->second;
}

int quotaCommand(ServiceDatabase& db, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
    if (args.size() != 4) {
        err << "用法：users quota 用户名 每月字数|none\n";
        return kAdminUsage;
    }
    const std::string& username = args[2];
    const std::string& amount = args[3];
    std::optional<std::int64_t> characters;
    if (amount != "none") {
        std::int64_t value = 0;
        auto [end, error] = std::from_chars(amount.data(), amount.data() + amount.size(), value);
        if (error != std::errc() || end != amount.data() + amount.size() || value < 0) {
            err << "额度须为不小于 0 的整数（字数），或 none 表示不限。\n";
            return kAdminUsage;
        }
        characters = value;
    }
    auto set = db.setMonthlyQuota(username, characters);
    if (!set) {
        err << set.error().message << "\n";
        return kAdminFailed;
    }
    if (!*set) {
        err << "用户 " << username << " 不存在。\n";
        return kAdminFailed;
    }
    if (characters)
        out << "已将 " << username << " 的每月额度设为 " << *characters << " 字。\n";
    else
        out << "已取消 " << username << " 的每月额度。\n";
    return kAdminOk;
}

} // namespace

bool isUsageCommand(const std::vector<std::string>& positional) {
    return (!positional.empty() && positional[0] == "usage") ||
           (positional.size() > 1 && positional[0] == "users" && positional[1] == "quota");
}

const char* usageCommandHelp() {
    return "  users quota 用户名 每月字数|none\n"
           "  usage [--account 用户名] [--since 2026-12-01] [--json]   （默认从本月 1 日起，UTC）\n";
}

int runUsageCommand(ServiceDatabase& db, const std::vector<std::string>& positional,
                    const std::map<std::string, std::string>& options, std::int64_t now,
                    std::ostream& out, std::ostream& err) {
    if (positional[0] == "users")
        return quotaCommand(db, positional, out, err);
    if (positional.size() != 1) {
        err << "用法：" << usageCommandHelp();
        return kAdminUsage;
    }
    std::int64_t since = monthStartDay(now);
    if (auto given = option(options, "--since")) {
        auto day = parseUsageDay(*given);
        if (!day) {
            err << "日期无效：" << *given << "（格式为 2026-12-01）。\n";
            return kAdminUsage;
        }
        since = *day;
    }
    const std::string account = option(options, "--account").value_or("");
    if (!account.empty()) {
        auto user = db.findUser(account);
        if (!user) {
            err << user.error().message << "\n";
            return kAdminFailed;
        }
        if (!*user) {
            err << "用户 " << account << " 不存在。\n";
            return kAdminFailed;
        }
    }
    auto rows = db.usage(account, since);
    if (!rows) {
        err << rows.error().message << "\n";
        return kAdminFailed;
    }
    if (option(options, "--json")) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& row : *rows)
            list.push_back({{"date", usageDayText(row.day)},
                            {"account", row.username},
                            {"engine", row.engine},
                            {"characters", row.characters},
                            {"requests", row.requests}});
        out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kAdminOk;
    }
    if (rows->empty()) {
        out << "自 " << usageDayText(since) << " 起没有用量记录。\n";
        return kAdminOk;
    }
    out << "日期\t用户\t引擎\t字数\t请求数\n";
    std::int64_t characters = 0, requests = 0;
    for (const auto& row : *rows) {
        out << usageDayText(row.day) << "\t" << row.username << "\t" << row.engine << "\t"
            << row.characters << "\t" << row.requests << "\n";
        characters += row.characters;
        requests += row.requests;
    }
    out << "合计\t\t\t" << characters << "\t" << requests << "\n";
    return kAdminOk;
}

} // namespace aurelo::service
