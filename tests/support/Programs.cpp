#include "support/Programs.hpp"

#include "platform/GRef.hpp"

namespace aurelo::test {

ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& input) {
    std::vector<const gchar*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    ProgramRun run;
    GErrorHolder error;
    auto process =
        adoptGRef(g_subprocess_newv(argv.data(),
                                    static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                  G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                  G_SUBPROCESS_FLAGS_STDERR_PIPE),
                                    error.out()));
    if (!process) {
        run.errors = error->message;
        return run;
    }
    gchar* out = nullptr;
    gchar* err = nullptr;
    const bool ran = g_subprocess_communicate_utf8(process.get(), input.c_str(), nullptr, &out,
                                                   &err, error.out());
    run.output = out ? out : "";
    run.errors = err ? err : (error ? error->message : "");
    g_free(out);
    g_free(err);
    run.succeeded = ran && g_subprocess_get_successful(process.get());
    return run;
}

bool hasProgram(const std::string& name) {
    gchar* path = g_find_program_in_path(name.c_str());
    g_free(path);
    return path != nullptr;
}

} // namespace aurelo::test
