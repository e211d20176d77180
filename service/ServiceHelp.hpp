#pragma once

// The help texts of `aurelo-service`: the program, the serve command's configuration file, and
// each admin verb. The serve command's own options are listed by the serve command itself.

#include <optional>
#include <string>
#include <string_view>

namespace aurelo::service {

// `aurelo-service --help`.
std::string programHelp();

// What `serve --help` adds to the serve command's option list: the configuration file.
std::string serveConfigHelp();

// `aurelo-service admin VERB --help` for users, engines, providers, tokens and apertium;
// nothing for any other word.
std::optional<std::string> adminVerbHelp(std::string_view verb);

} // namespace aurelo::service
