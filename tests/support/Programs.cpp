#include "support/Programs.hpp"

#include "platform/GRef.hpp"

namespace aurelo::test {

ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& input,
                      const std::vector<std::pair<std::string, std::string>>& environment) {
    std::vector<const gchar*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    ProgramRun run;
    GErrorHolder error;
    auto launcher = adoptGRef(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE |
        G_SUBPROCESS_FLAGS_STDERR_PIPE)));
    for (const auto& [name, value] : environment)
        g_subprocess_launcher_setenv(launcher.get(), name.c_str(), value.c_str(), TRUE);
    auto process =
        adoptGRef(g_subprocess_launcher_spawnv(launcher.get(), argv.data(), error.out()));
    gchar *out = nullptr, *err = nullptr;
    if (process && g_subprocess_communicate_utf8(process.get(), input.c_str(), nullptr, &out, &err,
                                                 error.out()))
        run.status = g_subprocess_get_if_signaled(process.get())
                         ? 128 + g_subprocess_get_term_sig(process.get())
                         : g_subprocess_get_exit_status(process.get());
    run.output = adoptString(out);
    run.errors = err ? adoptString(err) : error ? error->message : "";
    run.succeeded = run.status == 0;
    return run;
}

bool hasProgram(const std::string& name) {
    return !adoptString(g_find_program_in_path(name.c_str())).empty();
}

} // namespace aurelo::test
