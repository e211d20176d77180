// The admin command's glossary subcommands.
#include "service/AdminCommand.hpp"
#include "service/AdminGlossaryCommand.hpp"

#include "service/GlossaryCsv.hpp"

#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

namespace aurelo::service {

namespace {

struct Arguments {
    std::vector<std::string> positional; // after "glossary"
    std::map<std::string, std::string> options;
};

std::optional<std::string> option(const Arguments& parsed, const char* name) {
    auto it = parsed.options.find(name);
    return it == parsed.options.end() ? std::nullopt : std::optional(it->second);
}

int failure(const DatabaseError& error, std::ostream& err) {
    err << error.message << "\n";
    return kAdminFailed;
}

std::string describe(const GlossaryTerm& term) {
    std::string scope = term.account ? "用户 " + *term.account : "全局";
    std::string text = "#" + std::to_string(term.id) + "\t" + scope + "\t" + term.source + "\t";
    text += term.keptAsWritten()
                ? "（不翻译）"
                : term.sourceLanguage + " → " + term.targetLanguage + "：" + term.target;
    if (term.ignoreCase)
        text += "\t（不区分大小写）";
    return text;
}

// Refuses `incoming` when a user it names does not exist or a list would pass its limit.
std::optional<std::string> admissionProblem(ServiceDatabase& db,
                                            const std::vector<GlossaryTerm>& incoming,
                                            const std::vector<GlossaryTerm>& stored,
                                            DatabaseError& error) {
    auto key = [](const GlossaryTerm& t) {
        return std::make_tuple(t.account.value_or(""), t.source, t.sourceLanguage,
                               t.targetLanguage);
    };
    std::map<std::string, std::size_t> counts;
    std::set<std::tuple<std::string, std::string, std::string, std::string>> present;
    for (const auto& term : stored) {
        ++counts[term.account.value_or("")];
        present.insert(key(term));
    }
    for (const auto& term : incoming) {
        if (term.account && !counts.contains(*term.account)) {
            auto user = db.findUser(*term.account);
            if (!user) {
                error = user.error();
                return std::nullopt;
            }
            if (!*user)
                return "用户 " + *term.account + " 不存在。";
            counts[*term.account];
        }
        if (present.insert(key(term)).second &&
            ++counts[term.account.value_or("")] > kMaxGlossaryTerms)
            return (term.account ? "用户 " + *term.account + " 的" : std::string("全局")) +
                   "术语表最多 " + std::to_string(kMaxGlossaryTerms) + " 条。";
    }
    return std::nullopt;
}

int store(ServiceDatabase& db, const std::vector<GlossaryTerm>& terms, std::ostream& err) {
    auto stored = db.glossaryTerms();
    if (!stored)
        return failure(stored.error(), err);
    DatabaseError error;
    if (auto problem = admissionProblem(db, terms, *stored, error)) {
        err << *problem << "\n";
        return kAdminFailed;
    }
    if (!error.message.empty())
        return failure(error, err);
    if (auto put = db.putGlossaryTerms(terms); !put)
        return failure(put.error(), err);
    return kAdminOk;
}

int list(ServiceDatabase& db, const Arguments& parsed, std::ostream& out, std::ostream& err) {
    auto terms = db.glossaryTerms();
    if (!terms)
        return failure(terms.error(), err);
    auto user = option(parsed, "--user");
    std::size_t shown = 0;
    for (const auto& term : *terms)
        if (!user || !term.account || term.account == *user) {
            out << describe(term) << "\n";
            ++shown;
        }
    if (shown == 0)
        out << "术语表为空。用 glossary add 或 glossary import 添加术语。\n";
    return kAdminOk;
}

int add(ServiceDatabase& db, const Arguments& parsed, std::ostream& out, std::ostream& err) {
    const auto& args = parsed.positional;
    if (args.size() < 2 || args.size() > 3) {
        err << glossaryUsage();
        return kAdminUsage;
    }
    GlossaryTerm term{0,
                      option(parsed, "--user"),
                      args[1],
                      args.size() == 3 ? args[2] : "",
                      option(parsed, "--from").value_or(""),
                      option(parsed, "--to").value_or(""),
                      option(parsed, "--ignore-case").has_value()};
    if (auto problem = glossaryTermProblem(term)) {
        err << *problem << "\n";
        return kAdminFailed;
    }
    if (int result = store(db, {term}, err); result != kAdminOk)
        return result;
    out << "已保存术语：" << term.source << "\n";
    return kAdminOk;
}

int remove(ServiceDatabase& db, const Arguments& parsed, std::ostream& out, std::ostream& err) {
    const auto& args = parsed.positional;
    std::int64_t id = 0;
    std::string text = args.size() == 2 ? args[1] : "";
    if (!text.empty() && text.front() == '#')
        text.erase(0, 1);
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (args.size() != 2 || text.empty() || problem != std::errc() ||
        end != text.data() + text.size()) {
        err << "用法：glossary remove 编号（见 glossary list）\n";
        return kAdminUsage;
    }
    auto removed = db.removeGlossaryTerm(id);
    if (!removed)
        return failure(removed.error(), err);
    if (!*removed) {
        err << "没有编号为 " << id << " 的术语。\n";
        return kAdminFailed;
    }
    out << "已删除术语 #" << id << "。\n";
    return kAdminOk;
}

int import(ServiceDatabase& db, const Arguments& parsed, std::ostream& out, std::ostream& err) {
    if (parsed.positional.size() != 2) {
        err << glossaryUsage();
        return kAdminUsage;
    }
    const std::string& file = parsed.positional[1];
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream content;
    if (!stream || !(content << stream.rdbuf())) {
        err << "无法读取文件 " << file << "。\n";
        return kAdminFailed;
    }
    auto terms = parseGlossaryCsv(content.str());
    if (!terms) {
        err << file << "：" << terms.error() << "没有导入任何术语。\n";
        return kAdminFailed;
    }
    if (int result = store(db, *terms, err); result != kAdminOk)
        return result;
    out << "已从 " << file << " 导入 " << terms->size() << " 条术语。\n";
    return kAdminOk;
}

int exportTerms(ServiceDatabase& db, const Arguments& parsed, std::ostream& out,
                std::ostream& err) {
    if (parsed.positional.size() > 2) {
        err << glossaryUsage();
        return kAdminUsage;
    }
    auto terms = db.glossaryTerms();
    if (!terms)
        return failure(terms.error(), err);
    std::string csv = glossaryCsv(*terms);
    if (parsed.positional.size() == 1) {
        out << csv;
        return kAdminOk;
    }
    const std::string& file = parsed.positional[1];
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    if (!(stream << csv) || !stream.flush()) {
        err << "无法写入文件 " << file << "。\n";
        return kAdminFailed;
    }
    out << "已导出 " << terms->size() << " 条术语到 " << file << "。\n";
    return kAdminOk;
}

} // namespace

std::string glossaryUsage() {
    return "术语表（全局术语对所有账号生效；--user 的术语只对该账号生效，并与全局术语合用）：\n"
           "  glossary list [--user 用户名]\n"
           "  glossary add 原文 [--user 用户名] [--ignore-case]            （不翻译，保持原样）\n"
           "  glossary add 原文 译文 --from 源语言 --to 目标语言 [--user 用户名] [--ignore-case]\n"
           "  glossary remove 编号\n"
           "  glossary import 文件.csv\n"
           "  glossary export [文件.csv]\n"
           "CSV 为 UTF-8，首行表头：" +
           std::string(kGlossaryCsvHeader) + "\n";
}

int runGlossaryCommand(ServiceDatabase& db, std::vector<std::string> positional,
                       std::map<std::string, std::string> options, std::ostream& out,
                       std::ostream& err) {
    const Arguments parsed{std::move(positional), std::move(options)};
    const std::string action = parsed.positional.empty() ? "" : parsed.positional[0];
    if (action == "list")
        return list(db, parsed, out, err);
    if (action == "add")
        return add(db, parsed, out, err);
    if (action == "remove")
        return remove(db, parsed, out, err);
    if (action == "import")
        return import(db, parsed, out, err);
    if (action == "export")
        return exportTerms(db, parsed, out, err);
    err << glossaryUsage();
    return kAdminUsage;
}

} // namespace aurelo::service
