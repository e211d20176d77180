// Reading and writing the glossary's CSV form.
#include "service/GlossaryCsv.hpp"

#include <glib.h>

#include <map>
#include <optional>
#include <tuple>

namespace aurelo::service {

namespace {

std::string quoted(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

struct Record {
    std::vector<std::string> fields;
    std::size_t line = 0;
};

// The records of `text`, or the line where quoting goes wrong.
std::expected<std::vector<Record>, std::size_t> records(std::string_view text) {
    std::vector<Record> all;
    std::size_t line = 1, i = 0;
    while (i < text.size()) {
        Record record{{}, line};
        std::string field;
        bool inQuotes = false, quotedField = false, endOfRecord = false;
        for (; i < text.size() && !endOfRecord; ++i) {
            char c = text[i];
            if (inQuotes) {
                if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else if (c == '"') {
                    inQuotes = false;
                } else {
                    if (c == '\n')
                        ++line;
                    field.push_back(c);
                }
            } else if (c == '"') {
                if (!field.empty() || quotedField)
                    return std::unexpected(line);
                inQuotes = quotedField = true;
            } else if (c == ',') {
                record.fields.push_back(std::move(field));
                field.clear();
                quotedField = false;
            } else if (c == '\n' || c == '\r') {
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                ++line;
                endOfRecord = true;
            } else {
                if (quotedField)
                    return std::unexpected(line);
                field.push_back(c);
            }
        }
        if (inQuotes)
            return std::unexpected(record.line);
        record.fields.push_back(std::move(field));
        if (!(record.fields.size() == 1 && record.fields[0].empty())) // blank lines
            all.push_back(std::move(record));
    }
    return all;
}

std::optional<bool> flag(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(g_ascii_tolower(c));
    if (lower.empty() || lower == "no" || lower == "false" || lower == "0")
        return false;
    if (lower == "yes" || lower == "true" || lower == "1")
        return true;
    return std::nullopt;
}

std::string at(std::size_t line) {
    return "第 " + std::to_string(line) + " 行：";
}

} // namespace

std::string glossaryCsv(const std::vector<GlossaryTerm>& terms) {
    std::string csv = std::string(kGlossaryCsvHeader) + "\n";
    for (const auto& term : terms)
        csv += quoted(term.account.value_or("")) + "," + quoted(term.source) + "," +
               quoted(term.target) + "," + quoted(term.sourceLanguage) + "," +
               quoted(term.targetLanguage) + "," + (term.ignoreCase ? "yes" : "no") + "\n";
    return csv;
}

std::expected<std::vector<GlossaryTerm>, std::string> parseGlossaryCsv(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) // a byte-order mark, as spreadsheets write
        text.remove_prefix(3);
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return std::unexpected("文件不是 UTF-8 文本。");
    auto parsed = records(text);
    if (!parsed)
        return std::unexpected(at(parsed.error()) + "引号不成对。");
    if (parsed->empty())
        return std::unexpected("文件为空，至少需要表头：" + std::string(kGlossaryCsvHeader));
    std::string header;
    for (const auto& field : parsed->front().fields)
        header += (header.empty() ? "" : ",") + field;
    if (header != kGlossaryCsvHeader)
        return std::unexpected(at(parsed->front().line) + "表头应为 " + kGlossaryCsvHeader);
    std::vector<GlossaryTerm> terms;
    std::map<std::tuple<std::string, std::string, std::string, std::string>, std::size_t> seen;
    for (std::size_t r = 1; r < parsed->size(); ++r) {
        const Record& record = (*parsed)[r];
        if (record.fields.size() != 6)
            return std::unexpected(at(record.line) + "应有 6 个字段，实有 " +
                                   std::to_string(record.fields.size()) + " 个。");
        const auto& f = record.fields;
        auto ignoreCase = flag(f[5]);
        if (!ignoreCase)
            return std::unexpected(at(record.line) + "ignore_case 应为 yes 或 no。");
        GlossaryTerm term{
            0,          f[0].empty() ? std::nullopt : std::optional<std::string>(f[0]),
            f[1],       f[2],
            f[3],       f[4],
            *ignoreCase};
        if (auto problem = glossaryTermProblem(term))
            return std::unexpected(at(record.line) + *problem);
        auto [it, fresh] = seen.try_emplace({f[0], f[1], f[3], f[4]}, record.line);
        if (!fresh)
            return std::unexpected(at(record.line) + "与第 " + std::to_string(it->second) +
                                   " 行是同一术语。");
        terms.push_back(std::move(term));
    }
    return terms;
}

} // namespace aurelo::service
