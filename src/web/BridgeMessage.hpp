#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <variant>

namespace aurelo {

// The typed forms of what a page posts to "translationBridge". The page's JSCValue becomes JSON
// at the WebKit boundary and one of these here; nothing past this point sees either.

// {kind: "unread", count: number}; the count truncated toward zero and kept within int.
struct UnreadReport {
    int count = 0;
    friend bool operator==(const UnreadReport&, const UnreadReport&) = default;
};

// {kind: "login", loggedOut: boolean}: whether the page shows its platform's log-in view.
struct LoginReport {
    bool loggedOut = false;
    friend bool operator==(const LoginReport&, const LoginReport&) = default;
};

// {kind: "messages", recognised: boolean}: whether the page shows chat messages in a markup the
// page script knows.
struct MessageRecognitionReport {
    bool recognised = false;
    friend bool operator==(const MessageRecognitionReport&,
                           const MessageRecognitionReport&) = default;
};

// {kind: "conversation", id: string | null}: the conversation the page shows, by the platform's
// own id for it (from the address or the open chat's header); null when no chat is open or the
// page has none we recognise. Ids longer than kMaximumConversationBytes are malformed.
struct ConversationReport {
    static constexpr std::size_t kMaximumConversationBytes = 512;
    std::optional<std::string> id = std::nullopt;
    friend bool operator==(const ConversationReport&, const ConversationReport&) = default;
};

// {kind: "voice", id, data, mime, source?, target?}; the defaults stand in for a source or
// target that is absent or not a string.
struct VoiceRequest {
    std::string id;
    std::string data;
    std::string mime;
    std::string source = "auto";
    std::string target = "zh-CN";
    friend bool operator==(const VoiceRequest&, const VoiceRequest&) = default;
};

// Every other form: {id, text, target, kind?, conversation?}; kind "message" when absent or not a
// string. `conversation` names the conversation a customer's message belongs to (a string of at
// most ConversationReport::kMaximumConversationBytes; anything else is dropped).
struct TranslationRequest {
    std::string id;
    std::string text;
    std::string target;
    std::string kind = "message";
    std::optional<std::string> conversation = std::nullopt;
    friend bool operator==(const TranslationRequest&, const TranslationRequest&) = default;

    bool isQueued() const { return kind == "message" || kind == "page"; }
};

// A body that is not an object: ignored without a trace.
struct IgnoredMessage {
    friend bool operator==(const IgnoredMessage&, const IgnoredMessage&) = default;
};

// An object lacking the members of its form: logged, never answered.
struct MalformedMessage {
    friend bool operator==(const MalformedMessage&, const MalformedMessage&) = default;
};

using BridgeMessage =
    std::variant<IgnoredMessage, MalformedMessage, UnreadReport, LoginReport,
                 MessageRecognitionReport, ConversationReport, VoiceRequest, TranslationRequest>;

BridgeMessage bridgeMessageFromJson(const nlohmann::json& body);

// Parses the JSON text that WebKit produces for a posted value; text that is not JSON (an
// undefined body, a function) is ignored like any other non-object.
BridgeMessage bridgeMessageFromJsonText(std::string_view text);

} // namespace aurelo
