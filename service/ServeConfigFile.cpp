#include "service/ServeConfigFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>

namespace aurelo::service {

namespace {

constexpr std::string_view kWhitespace = " \t";

std::string_view trimmed(std::string_view text) {
    auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

// Option names as the serve command spells them: lower-case words joined by hyphens. Anything
// else is a typo or an attempt to smuggle in something that is not an option.
bool isOptionName(std::string_view name) {
    if (name.empty() || name.front() == '-' || name.back() == '-')
        return false;
    return std::ranges::all_of(
        name, [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::string lineError(const std::string& origin, std::size_t line, const std::string& what) {
    return "配置文件 " + origin + " 第 " + std::to_string(line) + " 行：" + what;
}

} // namespace

std::expected<ServeConfigFile, std::string> ServeConfigFile::parse(std::string_view text,
                                                                   const std::string& origin) {
    if (text.size() > kMaximumSize)
        return std::unexpected("配置文件 " + origin + " 太大（超过 " +
                               std::to_string(kMaximumSize / 1024) + " KB）。");
    if (text.find('\0') != std::string_view::npos)
        return std::unexpected("配置文件 " + origin + " 不是文本文件。");
    // Editors on other systems may start the file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    ServeConfigFile file;
    std::set<std::string, std::less<>> seen;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        line = trimmed(line);
        // A "#" starts a comment only at the beginning of a line: values such as paths may
        // contain one.
        if (line.empty() || line.front() == '#')
            continue;
        auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::unexpected(lineError(origin, number, "应为“名称 = 值”。"));
        std::string name(trimmed(line.substr(0, equals)));
        std::string value(trimmed(line.substr(equals + 1)));
        if (name.starts_with("--"))
            name.erase(0, 2);
        if (!isOptionName(name))
            return std::unexpected(
                lineError(origin, number,
                          "无效的名称“" + name + "”（应为 serve 命令的选项名，如 listen）。"));
        if (name == "config" || name == "help")
            return std::unexpected(lineError(origin, number, "“" + name + "”不能写在配置文件里。"));
        if (!seen.insert(name).second)
            return std::unexpected(lineError(origin, number, "重复的设置“" + name + "”。"));
        if (!value.empty())
            file.m_settings.emplace_back(std::move(name), std::move(value));
    }
    return file;
}

std::expected<ServeConfigFile, std::string>
ServeConfigFile::read(const std::filesystem::path& path) {
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    if (error)
        return std::unexpected("无法读取配置文件 " + path.string() + "：" + error.message());
    if (!std::filesystem::is_regular_file(status))
        return std::unexpected("配置文件 " + path.string() + " 不是普通文件。");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::unexpected("无法读取配置文件 " + path.string() + "：" + std::strerror(errno));
    // One byte more than allowed, so that an over-long file is recognised without reading it all.
    std::string text(kMaximumSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad())
        return std::unexpected("无法读取配置文件 " + path.string() + "。");
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parse(text, path.string());
}

std::vector<std::string>
ServeConfigFile::argumentsWith(const std::vector<std::string>& commandLine) const {
    std::set<std::string, std::less<>> given;
    for (const auto& argument : commandLine)
        if (argument.starts_with("--"))
            given.insert(argument.substr(2, argument.find('=') - 2));
    std::vector<std::string> arguments;
    for (const auto& [name, value] : m_settings) {
        if (given.contains(name))
            continue;
        arguments.push_back("--" + name);
        arguments.push_back(value);
    }
    arguments.insert(arguments.end(), commandLine.begin(), commandLine.end());
    return arguments;
}

std::expected<std::vector<std::string>, std::string>
ServeConfigFile::expandArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> rest;
    std::optional<std::string> configPath;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::optional<std::string> value;
        if (argument == "--config") {
            if (i + 1 >= arguments.size())
                return std::unexpected("选项 --config 需要一个文件路径。");
            value = arguments[++i];
        } else if (argument.starts_with("--config=")) {
            value = argument.substr(std::strlen("--config="));
        } else {
            rest.push_back(argument);
            continue;
        }
        if (configPath)
            return std::unexpected("只能给出一个 --config 文件。");
        if (value->empty())
            return std::unexpected("选项 --config 需要一个文件路径。");
        configPath = std::move(value);
    }
    if (!configPath)
        return arguments;
    auto file = read(*configPath);
    if (!file)
        return std::unexpected(file.error());
    return file->argumentsWith(rest);
}

} // namespace aurelo::service
