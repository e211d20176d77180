#pragma once

// Starting programs that are not ours (a file manager, the desktop's settings) without the tag
// that marks our own processes' audio, so that live captions never record their sound.

#include "platform/GRef.hpp"

#include <gio/gio.h>

namespace aurelo {

// The sound client library copies every `PULSE_PROP_<key>` variable of a process's environment
// into its stream properties; our processes carry this one with our process id.
inline constexpr const char* kOwnAudioTagVariable = "PULSE_PROP_aurelo.captions.owner";

// A launch context whose programs do not inherit the audio tag.
GRef<GAppLaunchContext> foreignLaunchContext();

// The environment of this process without the audio tag, for spawning a program that is not
// ours (a NULL-terminated list, freed with g_strfreev).
char** foreignEnvironment();

} // namespace aurelo
