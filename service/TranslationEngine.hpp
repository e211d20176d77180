#pragma once

// The common face of every engine the service translates with: a provider adapter calling an
// upstream HTTP API, or the offline demonstration engine. An engine takes an ordered list of
// texts and answers with as many results, in the same order, or one failure for the whole list.

#include "translation/TranslationTypes.hpp"

#include <expected>
#include <functional>
#include <string>
#include <vector>

namespace aurelo::service {

// Why an engine could not translate. `status` is the HTTP status the service answers with,
// `message` the Chinese sentence the desktop client shows its user unchanged.
struct EngineFailure {
    unsigned status = 502;
    std::string message;
};

using EngineOutcome = std::expected<std::vector<TranslationResult>, EngineFailure>;
using EngineCompletion = std::function<void(EngineOutcome)>;

class TranslationEngine {
public:
    virtual ~TranslationEngine() = default;

    // What distinguishes this engine's translations from another's, for the result cache: the
    // backend and, where it matters, the model.
    virtual std::string identity() const = 0;
    // The version of the glossary the engine applies, also part of every cached result's key;
    // empty without one.
    virtual std::string glossaryVersion() const { return {}; }

    // Translates `texts` into `target`. `completion` runs exactly once on the main loop, never
    // inside this call. The engine keeps itself alive until then.
    virtual void translate(std::vector<std::string> texts, std::string target,
                           EngineCompletion completion) = 0;
};

} // namespace aurelo::service
