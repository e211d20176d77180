#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

// Decides which playback streams of the sound server are this application's own, so that live
// captions hear the hosted pages (a customer's voice message, a call) and nothing else on the
// desktop. A stream is ours when it comes from this process or from a process below it — the
// web content processes that actually play the pages' audio — or when it carries our owner tag.
//
// The tag covers children that the sound server sees under another process id, as happens when
// the web processes run in a sandbox with a process namespace of its own: the sound client
// library copies every `PULSE_PROP_<key>` environment variable into the client's properties, and
// children inherit our environment. WebKit's sandboxed web process, which plays the pages'
// audio, reports itself as process 2 of its namespace and is recognised by the tag alone.
//
// A process id that a client reports is only a number in the client's own process namespace.
// Every sandboxed WebKit web process on the desktop says "2", and every Flatpak application
// reports a small id of its sandbox, so an id is trusted only when the process we know under
// that id runs the program the client names; otherwise it belongs to someone else's namespace.
class OwnPlaybackStreamRule {
public:
    static constexpr const char* kOwnerProperty = "aurelo.captions.owner";

    using ParentLookup = std::function<std::optional<pid_t>(pid_t)>;
    // The names a process is known by here: its executable's file name and its command name.
    // Empty when the process is gone or cannot be inspected.
    using NameLookup = std::function<std::vector<std::string>(pid_t)>;

    // The properties of a playback stream the rule reads, as the server reports them.
    struct StreamProperties {
        std::optional<std::string> processId;          // "application.process.id"
        std::optional<std::string> ownerTag;           // kOwnerProperty
        std::optional<std::string> processBinary = {}; // "application.process.binary"
    };

    // Without `namesOf`, reported process ids are taken as ids of this namespace.
    OwnPlaybackStreamRule(pid_t ownProcess, ParentLookup parentOf, NameLookup namesOf = {});
    // This process, with parents read from /proc.
    static OwnPlaybackStreamRule forThisProcess();

    bool isOwn(const StreamProperties& stream) const;

    // Sets the owner tag in the environment so that processes started from now on carry it.
    // setenv is not thread-safe: call it from main() before any other thread starts.
    static void tagChildProcesses();

    // A positive process id written in decimal and nothing else.
    static std::optional<pid_t> parseProcessId(std::string_view text);
    // The parent of `process` from /proc/<pid>/stat, or nothing when it is gone or unreadable.
    static std::optional<pid_t> parentFromProc(pid_t process);
    // The file name of /proc/<pid>/exe and the contents of /proc/<pid>/comm, where readable.
    static std::vector<std::string> namesFromProc(pid_t process);
    // Whether a process known by `names` can be the one that reports `binary`. The command name
    // is cut to 15 bytes by the kernel, so a name of that length matches any longer binary name
    // it begins.
    static bool runsBinary(const std::vector<std::string>& names, std::string_view binary);
    // The parent field of a /proc/<pid>/stat line. The command name in parentheses may itself
    // contain blanks and parentheses, so parsing starts after the last ')'.
    static std::optional<pid_t> parentFromStatLine(std::string_view line);

private:
    pid_t m_ownProcess;
    ParentLookup m_parentOf;
    NameLookup m_namesOf;
};

} // namespace aurelo
