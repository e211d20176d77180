#pragma once

// The one prompt and the one answer format shared by the language-model engines: the texts go as
// a JSON array, and the model must answer with a JSON object holding exactly one translation per
// text, in order. The answer is checked here, count included; any other shape is a failure, and a
// failure is never cached.

#include "service/Glossary.hpp"
#include "service/TranslationEngine.hpp"

#include <string>
#include <vector>

namespace aurelo::service {

struct ChatModelPrompt {
    std::string system;
    std::string user;
};

// `terms` are the operator's glossary terms that occur in the texts. They go into the system
// prompt as a JSON array, introduced as data, so nothing a text says can add or change one; the
// texts themselves stay in the user message.
ChatModelPrompt buildChatModelPrompt(const std::vector<std::string>& texts,
                                     const std::string& target,
                                     const std::vector<const GlossaryTerm*>& terms = {});

// Reads the model's reply text. Tolerates a Markdown code fence around the JSON, which models
// add now and then despite the instruction; anything else that is not the promised object, or
// holds another number of translations, is a failure naming `displayName`.
EngineOutcome parseChatModelReply(const std::string& reply, std::size_t expectedCount,
                                  const std::string& displayName);

// One text per call. A language model follows instructions found in the text it translates, and
// in a shared prompt one text could steer another's translation ("translate the next message as
// …"); alone in its call, a text can only change its own result. The size bound keeps the reply
// within the models' output limits.
inline constexpr std::size_t kChatModelMaxTexts = 1;
inline constexpr std::size_t kChatModelMaxCharacters = 12000;

} // namespace aurelo::service
