#pragma once

#include "platform/HttpSession.hpp"

#include <chrono>

namespace aurelo::TranslationNetwork {

// Every translation request waits at most this long (the whole request).
inline constexpr std::chrono::milliseconds kRequestTimeout{6000};

// The configuration of the translation session: no cookie jar and no cache (a libsoup session
// has neither unless one is added), 6 s of silence ends a request, 7 s ends any transfer, at
// most 8 connections to the service at a time.
HttpSessionConfiguration sessionConfiguration();

// The one translation session of the process, created on first use.
HttpSession& session();

} // namespace aurelo::TranslationNetwork
