#pragma once

// The glossaries the service keeps at DeepL: one per API key, endpoint, language pair and set of
// entries, made on first use and reused until the terms change; accounts with the same terms share
// one. Changed terms make a new glossary. Past kMaxGlossaries the one made longest ago is deleted
// at DeepL (DeepL limits how many an account may keep). Requests that need the same glossary while
// it is being made wait for that one upload.
//
// DeepL's glossary API: https://developers.deepl.com/docs/api-reference/glossaries
//   POST /v2/glossaries {"name", "source_lang", "target_lang", "entries", "entries_format": "tsv"}
//   -> 201 {"glossary_id": "…", …};  DELETE /v2/glossaries/{id}

#include "service/Glossary.hpp"
#include "service/ProviderHttp.hpp"

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace aurelo::service {

class DeeplGlossaries : public std::enable_shared_from_this<DeeplGlossaries> {
public:
    using Ready = std::function<void(std::expected<std::string, EngineFailure>)>;

    // The id of the glossary holding `glossary`'s fixed translations from `source` into `target`
    // (client codes); `ready` runs on the main loop, never inside this call.
    void glossaryFor(const UpstreamContext& context, const EngineSettings& settings,
                     const Glossary& glossary, const std::string& source, const std::string& target,
                     Ready ready);

    // How many glossaries are known (made, or being made).
    std::size_t size() const { return m_entries.size(); }

private:
    static constexpr std::size_t kMaxGlossaries = 200;
    struct Entry {
        std::string id;             // empty while it is being made
        std::vector<Ready> waiting; // requests waiting for it
        std::uint64_t made = 0;
        EngineSettings settings; // where it lives
    };
    void created(const std::string& key, std::expected<std::string, EngineFailure> outcome,
                 const UpstreamContext& context);

    // By API key, address, language pair and a digest of the entries.
    std::map<std::string, Entry> m_entries;
    std::uint64_t m_made = 0;
};

// DeepL's address for `settings`: keys of the free plan end in ":fx" and belong to
// api-free.deepl.com.
std::string deeplBaseURL(const EngineSettings& settings);

// The tab-separated entries of `glossary`'s fixed translations from `source` into `target`.
std::string deeplGlossaryEntries(const Glossary& glossary, const std::string& source,
                                 const std::string& target);

} // namespace aurelo::service
