#pragma once

#include "platform/HttpSession.hpp"

#include <chrono>

namespace aurelo::TranslationNetwork {

// Every translation request waits at most this long (the whole request).
inline constexpr std::chrono::milliseconds kRequestTimeout{6000};

// How long the managed service waits for a provider before it answers with its own error. It is
// shorter than the wait above, so that the user reads why (the provider was slow) rather than a
// bare time-out while the service is still working.
inline constexpr std::chrono::milliseconds kServiceTranslationBudget{4500};
static_assert(kServiceTranslationBudget + std::chrono::milliseconds(1000) <= kRequestTimeout,
              "the service must answer before the application stops waiting");

// The configuration of the translation session: no cookie jar and no cache (a libsoup session
// has neither unless one is added), 6 s of silence ends a request, 7 s ends any transfer, at
// most 8 connections to the service at a time.
HttpSessionConfiguration sessionConfiguration();

// The one translation session of the process, created on first use.
HttpSession& session();

} // namespace aurelo::TranslationNetwork
