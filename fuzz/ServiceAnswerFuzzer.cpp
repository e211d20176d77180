// The managed service's answers: the translation answers (single and batch), the error text of
// a failed answer, and the engine list. The input is "<status>\n<body>"; an input without a
// first line is a body answered with 200.

#include "FuzzSupport.hpp"

#include "models/AccountStore.hpp"
#include "platform/Text.hpp"
#include "translation/JsonCoding.hpp"
#include "translation/ManagedTranslationClient.hpp"

#include <charconv>

namespace {

using aurelo::fuzz::require;

aurelo::HttpResponse responseFrom(std::string_view input) {
    aurelo::HttpResponse response{200, std::string(input)};
    const auto newline = input.find('\n');
    if (newline == std::string_view::npos || newline > 3)
        return response;
    unsigned status = 0;
    const auto [end, error] = std::from_chars(input.data(), input.data() + newline, status);
    if (error != std::errc() || end != input.data() + newline)
        return response;
    return {status, std::string(input.substr(newline + 1))};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    aurelo::fuzz::installGLibLogPolicy();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto response = responseFrom(aurelo::fuzz::asText(data, size));
    const bool success = response.status >= 200 && response.status <= 299;

    const auto single = aurelo::ManagedTranslationClient::readSingleAnswer(response);
    require(!single || success, "a failed answer was read as a translation");
    require(!single || !single->text.empty(), "an empty translation was accepted");
    if (!single)
        require(!aurelo::text::trimmed(aurelo::describe(single.error())).empty(),
                "a refused answer has no message");

    const auto batch = aurelo::ManagedTranslationClient::readBatchAnswer(response);
    require(!batch || success, "a failed answer was read as a batch");
    if (!batch)
        require(!aurelo::text::trimmed(aurelo::describe(batch.error())).empty(),
                "a refused batch has no message");

    (void)aurelo::json::errorMessage(response.body);
    if (const auto engines = aurelo::AccountStore::decodeEngineResponse(response.body)) {
        for (const auto& engine : *engines)
            (void)aurelo::json::serialize(aurelo::json::Json{{"provider", engine.provider}});
    }
    return 0;
}
