#pragma once

#include "platform/HttpSession.hpp"

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace aurelo {

// The engine's own failures, each with the fixed text the user sees.
class TranslationError {
public:
    enum class Kind { InvalidResponse, Server };

    static TranslationError invalidResponse(std::optional<std::string> detail = std::nullopt) {
        return TranslationError(Kind::InvalidResponse, std::move(detail));
    }
    static TranslationError server(std::string message) {
        return TranslationError(Kind::Server, std::move(message));
    }

    Kind kind() const { return m_kind; }
    // The detail of InvalidResponse or the message of Server.
    const std::optional<std::string>& payload() const { return m_payload; }
    std::string description() const;

    friend bool operator==(const TranslationError&, const TranslationError&) = default;

private:
    TranslationError(Kind kind, std::optional<std::string> payload)
        : m_kind(kind), m_payload(std::move(payload)) {}

    Kind m_kind;
    std::optional<std::string> m_payload;
};

// A success body that is not the JSON it should be. Its description is our own sentence, never
// the parser's internal message.
struct DecodingError {
    std::string description;

    static DecodingError dataCorrupted();
    static DecodingError keyNotFound(const std::string& key);
    static DecodingError typeMismatch(const std::string& key);
    static DecodingError valueNotFound(const std::string& key);
};

// Any way a translation (or another managed-service call) can fail: the engine's own errors,
// and transport and decoding errors that pass through unchanged.
using ServiceFailure = std::variant<TranslationError, TransportError, DecodingError>;

std::string describe(const ServiceFailure& failure);

template <typename T> using ServiceOutcome = std::expected<T, ServiceFailure>;
template <typename T> using ServiceCompletion = std::function<void(ServiceOutcome<T>)>;

} // namespace aurelo
