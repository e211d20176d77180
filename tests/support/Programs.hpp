#pragma once

#include <string>
#include <vector>

namespace aurelo::test {

struct ProgramRun {
    bool succeeded = false; // started, and exited with status 0
    std::string output;     // standard output
    std::string errors;     // standard error, or why it could not start
};

// Runs a program (searched on PATH) to its end with `input` on its standard input. It blocks the
// main loop, so it is only for programs that need nothing from this process while they run.
ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& input = {});

bool hasProgram(const std::string& name);

} // namespace aurelo::test
