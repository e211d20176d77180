#pragma once

// Environment variables changed for one scope and put back as they were at its end.

#include <glib.h>

#include <map>
#include <optional>
#include <string>

namespace aurelo::test {

// Sets each variable to its value, or removes it for nullopt; the destructor restores every
// variable it changed, removing those that were not set before.
class ScopedEnv {
public:
    using Values = std::map<std::string, std::optional<std::string>>;

    explicit ScopedEnv(const Values& values) {
        for (const auto& [name, value] : values)
            set(name, value);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        for (const auto& [name, value] : m_saved)
            apply(name, value);
    }

    void set(const std::string& name, const std::optional<std::string>& value) {
        if (const char* previous = g_getenv(name.c_str()); !m_saved.contains(name))
            m_saved[name] = previous ? std::optional<std::string>(previous) : std::nullopt;
        apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            g_setenv(name.c_str(), value->c_str(), TRUE);
        else
            g_unsetenv(name.c_str());
    }

    Values m_saved;
};

} // namespace aurelo::test
