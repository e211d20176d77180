#include "web/FileManagerReveal.hpp"

#include "platform/ForeignLaunch.hpp"
#include "platform/GRef.hpp"

#include <gio/gio.h>

#include <memory>
#include <string>
#include <utility>

namespace aurelo {

namespace {

void openFolder(const std::string& folderUri) {
    // The file manager is not ours: its sound (a media preview) must not reach live captions.
    auto context = foreignLaunchContext();
    g_app_info_launch_default_for_uri_async(folderUri.c_str(), context.get(), nullptr, nullptr,
                                            nullptr);
}

void showItemsFinishedCallback(GObject* bus, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::string> folderUri(static_cast<std::string*>(data));
    GErrorHolder error;
    auto reply =
        adoptGRef(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, error.out()));
    if (!reply)
        openFolder(*folderUri);
}

void busReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::pair<std::string, std::string>> uris(
        static_cast<std::pair<std::string, std::string>*>(data));
    GErrorHolder error;
    auto bus = adoptGRef(g_bus_get_finish(result, error.out()));
    if (!bus) {
        openFolder(uris->second);
        return;
    }
    const char* items[] = {uris->first.c_str(), nullptr};
    g_dbus_connection_call(bus.get(), "org.freedesktop.FileManager1",
                           "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
                           "ShowItems", g_variant_new("(^ass)", items, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, showItemsFinishedCallback,
                           new std::string(uris->second));
}

std::string fileUri(const std::filesystem::path& path) {
    return adoptString(g_filename_to_uri(path.c_str(), nullptr, nullptr));
}

} // namespace

void revealInFileManager(const std::filesystem::path& file) {
    auto* uris =
        new std::pair<std::string, std::string>(fileUri(file), fileUri(file.parent_path()));
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, busReadyCallback, uris);
}

} // namespace aurelo
