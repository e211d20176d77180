#pragma once

#include "platform/BuildConfig.hpp"

#include <string_view>

namespace aurelo::webLogger {

// The web integration logs exactly three events, through GLib's structured log with the
// application's domain and the field CATEGORY=WhatsApp, so that `journalctl` and our own tests
// can pick them out by field rather than by parsing text.
inline constexpr const char* kDomain = build::kApplicationId;
inline constexpr const char* kCategory = "WhatsApp";

void malformedBridgeMessage();
void downloadCompleted(std::string_view fileName);
void downloadFailed(std::string_view description);

} // namespace aurelo::webLogger
