#include "platform/ForeignLaunch.hpp"

namespace aurelo {

GRef<GAppLaunchContext> foreignLaunchContext() {
    auto context = adoptGRef(g_app_launch_context_new());
    g_app_launch_context_unsetenv(context.get(), kOwnAudioTagVariable);
    return context;
}

char** foreignEnvironment() {
    return g_environ_unsetenv(g_get_environ(), kOwnAudioTagVariable);
}

} // namespace aurelo
