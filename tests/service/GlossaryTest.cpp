// The glossary's term search, its CSV form, markup read back, and the admin subcommands.

#include "service/AdminCommand.hpp"
#include "service/GlossaryCsv.hpp"
#include "service/GlossaryMarkup.hpp"
#include "service/ServiceDatabase.hpp"
#include "support/TestDirectory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace aurelo::service::test {
// Named rather than anonymous: the unity build joins this file with its neighbours.
namespace glossary_test {

GlossaryTerm kept(std::string source, bool ignoreCase = false) {
    return {0, std::nullopt, std::move(source), "", "", "", ignoreCase};
}
GlossaryTerm fixed(std::string source, std::string target, std::string from, std::string to) {
    return {
        0,    std::nullopt, std::move(source), std::move(target), std::move(from), std::move(to),
        false};
}

// The segments as "plain[term]plain", with the replacement in the brackets.
std::string shown(const std::vector<GlossarySegment>& segments) {
    std::string text;
    for (const auto& s : segments)
        text += s.term ? "[" + s.term->replacement() + "]" : s.text;
    return text;
}

TEST(Glossary, FindsWholeTermsThatApplyToTheTarget) {
    const Glossary glossary({kept("Aurelo Pro"), kept("export", true), kept("快递"), kept("Aurelo"),
                             fixed("free shipping", "envío gratis", "en", "es"),
                             fixed("free shipping", "kostenloser Versand", "en", "de")});
    struct Case {
        const char* text;
        const char* target;
        const char* source;
        const char* expected;
    } cases[] = {
        {"Aurelo Pro ships", "es", "", "[Aurelo Pro] ships"},
        {"Aurelo Professional", "es", "", "[Aurelo] Professional"},
        {"Our Aurelo, Aurelo Pro.", "es", "", "Our [Aurelo], [Aurelo Pro]."},
        {"EXPORT or reexport", "es", "", "[export] or reexport"},
        {"exporter", "es", "", "exporter"},
        {"顺丰快递到付", "es", "", "顺丰[快递]到付"},
        {"free shipping!", "es-ES", "", "[envío gratis]!"},
        {"free shipping!", "de", "", "[kostenloser Versand]!"},
        {"free shipping!", "fr", "", "free shipping!"},
        {"free shipping!", "es", "fr", "free shipping!"},
        {"Free shipping", "es", "", "Free shipping"},
        {"", "es", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shown(glossary.split(c.text, c.target, c.source)), c.expected) << c.text;
}

TEST(Glossary, VersionFollowsEveryFieldAndIsEmptyWithoutTerms) {
    EXPECT_EQ(Glossary().version(), "");
    auto version = [](GlossaryTerm term) { return Glossary({term}).version(); };
    GlossaryTerm base = fixed("free shipping", "envío gratis", "en", "es");
    std::string first = version(base);
    EXPECT_EQ(first, version(base));
    for (auto change : std::vector<std::function<void(GlossaryTerm&)>>{
             [](GlossaryTerm& t) { t.target = "envío gratuito"; },
             [](GlossaryTerm& t) { t.targetLanguage = "es-MX"; },
             [](GlossaryTerm& t) { t.ignoreCase = true; }}) {
        GlossaryTerm changed = base;
        change(changed);
        EXPECT_NE(version(changed), first);
    }
}

TEST(Glossary, RefusesTermsItCouldNotApply) {
    struct Case {
        GlossaryTerm term;
        const char* problem;
    } cases[] = {
        {kept(""), "原文不能为空。"},
        {kept("two\nlines"), "原文不能包含换行、制表符或其他控制字符。"},
        {kept(" padded"), "原文首尾不能有空格。"},
        {kept(std::string(101, 'x')), "原文过长（最多 100 字）。"},
        {fixed("a", "b", "en", ""), "语言代码无效：（空）（例如 en、es、zh-CN）。"},
        {fixed("a", "b", "en", "en-GB"), "源语言与目标语言相同。"},
        {{0, std::nullopt, "a", "", "en", "", false},
         "不翻译的术语不带语言；固定译文须同时给出译文和两种语言。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(glossaryTermProblem(c.term).value_or("(none)"), c.problem) << c.term.source;
    EXPECT_FALSE(glossaryTermProblem(fixed("a", "b", "en", "zh-CN")));
}

TEST(GlossaryMarkup, AnswersBecomePlainText) {
    struct Case {
        const char* markup;
        const char* plain;
    } cases[] = {
        {R"(Tom &amp; <span translate="no">Aurelo Pro</span>)", "Tom & Aurelo Pro"},
        {"it&#39;s &#x4E2D; &quot;x&quot; &lt;b&gt;", "it's 中 \"x\" <b>"},
        {"AT&T &unknown; &#0; &#xZZ;", "AT&T &unknown; &#0; &#xZZ;"},
        {"cut <span", "cut <span"},
        {"one<br/>two<BR >three<br>", "one\ntwo\nthree\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plainFromMarkup(c.markup), c.plain);
}

TEST(GlossaryCsv, RoundTripsAndRefusesABadFileByLine) {
    std::vector<GlossaryTerm> terms = {kept("Aurelo Pro"),
                                       fixed("free, \"fast\" shipping", "envío", "en", "es")};
    terms[1].account = "alice";
    terms[1].ignoreCase = true;
    EXPECT_EQ(parseGlossaryCsv(glossaryCsv(terms)).value(), terms);
    EXPECT_EQ(parseGlossaryCsv("\xEF\xBB\xBF" + std::string(kGlossaryCsvHeader) +
                               "\r\n,Aurelo Pro,,,,no\r\n\r\n")
                  .value(),
              std::vector<GlossaryTerm>{kept("Aurelo Pro")});

    std::string header = std::string(kGlossaryCsvHeader) + "\n";
    struct Case {
        std::string file;
        std::string error;
    } cases[] = {
        {"", "文件为空，至少需要表头：" + std::string(kGlossaryCsvHeader)},
        {"source,target\n", "第 1 行：表头应为 " + std::string(kGlossaryCsvHeader)},
        {header + ",a,,,,no\n,b,,,\n", "第 3 行：应有 6 个字段，实有 5 个。"},
        {header + ",a,,,,maybe\n", "第 2 行：ignore_case 应为 yes 或 no。"},
        {header + ",\"a\nb\",,,,no\n,c,,,,no\n",
         "第 2 行：原文不能包含换行、制表符或其他控制字符。"},
        {header + ",\"open,,,,no\n", "第 2 行：引号不成对。"},
        {header + ",a,x,en,es,no\n,b,,,,no\n,a,y,en,es,no\n", "第 4 行：与第 2 行是同一术语。"},
        {header + ",a,\xff,en,es,no\n", "文件不是 UTF-8 文本。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseGlossaryCsv(c.file).error(), c.error) << c.file;
}

class GlossaryAdmin : public ::testing::Test {
protected:
    std::pair<int, std::string> admin(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--data", m_data.string(), "glossary"});
        std::istringstream in;
        std::ostringstream out, err;
        int code = runAdminCommand(arguments, in, out, err);
        return {code, out.str() + err.str()};
    }
    std::filesystem::path file(const std::string& name, const std::string& content) {
        auto path = m_temp.path() / name;
        std::ofstream(path) << content;
        return path;
    }
    aurelo::test::TestDirectory m_temp;
    std::filesystem::path m_data = m_temp.path() / "data";
};

TEST_F(GlossaryAdmin, AddsListsImportsExportsAndRemoves) {
    EXPECT_EQ(admin({"list"}).second,
              "术语表为空。用 glossary add 或 glossary import 添加术语。\n");
    EXPECT_EQ(admin({"add", "Aurelo Pro"}), std::pair(0, std::string("已保存术语：Aurelo Pro\n")));
    EXPECT_EQ(admin({"add", "free shipping", "envío gratis", "--from", "en", "--to", "es", "--user",
                     "alice"}),
              std::pair(1, std::string("用户 alice 不存在。\n")));
    EXPECT_EQ(admin({"add", "x", "y", "--from", "en"}).first, 1);
    std::string csv = std::string(kGlossaryCsvHeader) +
                      "\n,free shipping,envío gratis,en,es,yes\n,Aurelo Pro,,,,no\n";
    auto good = file("good.csv", csv);
    EXPECT_EQ(admin({"import", good.string()}),
              std::pair(0, "已从 " + good.string() + " 导入 2 条术语。\n"));
    EXPECT_EQ(admin({"list"}).second,
              "#1\t全局\tAurelo Pro\t（不翻译）\n"
              "#2\t全局\tfree shipping\ten → es：envío gratis\t（不区分大小写）\n")
        << "a term imported again replaces the stored one";
    auto bad = file("bad.csv", csv + ",x,y,en,zz-!,no\n");
    EXPECT_EQ(
        admin({"import", bad.string()}),
        std::pair(1,
                  bad.string() +
                      "：第 4 行：语言代码无效：zz-!（例如 en、es、zh-CN）。没有导入任何术语。\n"));
    auto out = m_temp.path() / "out.csv";
    EXPECT_EQ(admin({"export", out.string()}).first, 0);
    std::stringstream exported;
    exported << std::ifstream(out).rdbuf();
    EXPECT_EQ(exported.str(), std::string(kGlossaryCsvHeader) +
                                  "\n,Aurelo Pro,,,,no\n,free shipping,envío gratis,en,es,yes\n");
    EXPECT_EQ(admin({"remove", "#1"}), std::pair(0, std::string("已删除术语 #1。\n")));
    EXPECT_EQ(admin({"remove", "1"}), std::pair(1, std::string("没有编号为 1 的术语。\n")));
}

TEST_F(GlossaryAdmin, RefusesAListPastItsLimitAndImportsNothing) {
    std::string csv = std::string(kGlossaryCsvHeader) + "\n";
    for (std::size_t i = 0; i <= kMaxGlossaryTerms; ++i)
        csv += ",term" + std::to_string(i) + ",,,,no\n";
    EXPECT_EQ(admin({"import", file("big.csv", csv).string()}),
              std::pair(1, std::string("全局术语表最多 1000 条。\n")));
    EXPECT_EQ(admin({"list"}).second,
              "术语表为空。用 glossary add 或 glossary import 添加术语。\n");
}

} // namespace glossary_test
} // namespace aurelo::service::test
