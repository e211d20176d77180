#pragma once

#include <string>
#include <utility>
#include <vector>

namespace aurelo::test {

struct ProgramRun {
    bool succeeded = false; // started, and exited with status 0
    int status = -1;        // exit status, 128 + the signal that ended it, -1 when it never ran
    std::string output;     // standard output
    std::string errors;     // standard error, or why it could not start
};

// Runs a program (searched on PATH) to its end with `input` on its standard input, and
// `environment` replacing inherited variables. It blocks the main loop, so it is only for
// programs that need nothing from this process while they run.
ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& input = {},
                      const std::vector<std::pair<std::string, std::string>>& environment = {});

bool hasProgram(const std::string& name);

} // namespace aurelo::test
