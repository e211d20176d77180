#include "viewmodels/SymbolIcons.hpp"

#include <utility>

namespace aurelo {

std::string symbolIconName(std::string_view symbol) {
    static constexpr std::pair<std::string_view, std::string_view> kIcons[]{
        {"square.grid.2x2.fill", "view-app-grid-symbolic"},
        {"gearshape.fill", "emblem-system-symbolic"},
        {"bell.slash", "notifications-disabled-symbolic"},
        {"bell.slash.fill", "notifications-disabled-symbolic"},
        {"lock.fill", "system-lock-screen-symbolic"},
        {"lock.open.fill", "changes-allow-symbolic"},
        {"lock.shield.fill", "security-high-symbolic"},
        {"arrow.clockwise.circle.fill", "view-refresh-symbolic"},
        {"arrow.clockwise", "view-refresh-symbolic"},
        {"server.rack", "network-server-symbolic"},
        {"chevron.down", "pan-down-symbolic"},
        {"chevron.up", "pan-up-symbolic"},
        {"plus", "list-add-symbolic"},
        {"xmark", "window-close-symbolic"},
        {"message", "mail-unread-symbolic"},
        {"phone.bubble.fill", "phone-symbolic"},
        {"paperplane.fill", "mail-send-symbolic"},
        {"camera.fill", "camera-photo-symbolic"},
        {"bolt.bubble.fill", "user-available-symbolic"},
        {"person.2.fill", "system-users-symbolic"},
        {"bubble.left.and.bubble.right.fill", "user-available-symbolic"},
        {"ellipsis.bubble.fill", "user-available-symbolic"},
        {"at", "mail-unread-symbolic"},
        {"music.note", "audio-x-generic-symbolic"},
        {"globe", "web-browser-symbolic"},
        {"character.book.closed", "accessories-dictionary-symbolic"},
        {"character.book.closed.fill", "accessories-dictionary-symbolic"},
        {"checkmark.circle", "object-select-symbolic"},
        {"doc.text", "text-x-generic-symbolic"},
        {"plus.magnifyingglass", "zoom-in-symbolic"},
        {"minus.magnifyingglass", "zoom-out-symbolic"},
        {"pencil", "document-edit-symbolic"},
        {"trash", "user-trash-symbolic"},
        {"network", "network-workgroup-symbolic"},
        {"paintpalette.fill", "applications-graphics-symbolic"},
        {"person.text.rectangle.fill", "x-office-address-book-symbolic"},
        {"square.stack.3d.up.fill", "view-paged-symbolic"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"},
        {"plus.circle.fill", "list-add-symbolic"},
        {"person.crop.circle.badge.gearshape", "avatar-default-symbolic"},
        {"bolt.horizontal.circle.fill", "network-transmit-receive-symbolic"},
        {"bell.badge.fill", "preferences-system-notifications-symbolic"},
        {"key.fill", "dialog-password-symbolic"},
        {"arrow.triangle.2.circlepath", "emblem-synchronizing-symbolic"},
        {"info.circle", "dialog-information-symbolic"},
        {"arrow.down.app", "software-update-available-symbolic"},
        {"captions.bubble", "media-view-subtitles-symbolic"},
    };
    for (const auto& [name, icon] : kIcons)
        if (name == symbol)
            return std::string(icon);
    return "web-browser-symbolic";
}

} // namespace aurelo
