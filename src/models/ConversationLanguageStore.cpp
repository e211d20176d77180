// The per-account conversation language files: reading, bounding, hashing and atomic writes.
#include "models/ConversationLanguageStore.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/GRef.hpp"
#include "platform/MainLoop.hpp"

#include <glib.h>
#include <nlohmann/json.hpp>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace aurelo {

namespace {

using StoredJson = nlohmann::json;

constexpr int kFormatVersion = 1;
constexpr std::size_t kSaltBytes = 16;

std::string randomSalt() {
    unsigned char bytes[kSaltBytes];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got > 0)
            filled += static_cast<std::size_t>(got);
        else if (errno != EINTR)
            // No kernel source of randomness: GLib's generator, seeded from the clock and the
            // process, still keeps keys from matching across machines.
            for (; filled < sizeof bytes; ++filled)
                bytes[filled] = static_cast<unsigned char>(g_random_int());
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string salt;
    for (unsigned char byte : bytes) {
        salt += kHex[byte >> 4];
        salt += kHex[byte & 0xF];
    }
    return salt;
}

std::optional<ChatLanguage> storedLanguage(const StoredJson& value) {
    if (!value.is_string())
        return std::nullopt;
    return chatLanguageFromCode(value.get_ref<const std::string&>());
}

// One stored conversation; nullopt for anything that is not the shape we write.
std::optional<std::pair<ConversationLanguageState, std::uint64_t>>
decodeConversation(const StoredJson& value) {
    if (!value.is_object())
        return std::nullopt;
    ConversationLanguageState state;
    for (auto [key, field] :
         {std::pair{"detected", &state.detected}, std::pair{"manual", &state.manual}}) {
        auto it = value.find(key);
        if (it == value.end())
            continue;
        auto language = storedLanguage(*it);
        if (!language)
            return std::nullopt;
        *field = language;
    }
    if (auto recent = value.find("recent"); recent != value.end()) {
        if (!recent->is_array() || recent->size() > 2)
            return std::nullopt;
        for (const auto& code : *recent) {
            auto language = storedLanguage(code);
            if (!language)
                return std::nullopt;
            state.recent.push_back(*language);
        }
    }
    auto used = value.find("used");
    if (used == value.end() || !used->is_number_unsigned())
        return std::nullopt;
    return std::pair{std::move(state), used->get<std::uint64_t>()};
}

const StoredJson* storedMember(const StoredJson& object, const char* key) {
    if (!object.is_object())
        return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool isConversationKey(const std::string& text) {
    return text.size() == 64 && std::ranges::all_of(text, [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

ConversationLanguageStore::ConversationLanguageStore(std::filesystem::path folder,
                                                     std::size_t maximumConversations)
    : m_folder(std::move(folder)), m_maximumConversations(maximumConversations) {}

ConversationLanguageStore::~ConversationLanguageStore() {
    m_cancellable.cancel();
    flush();
}

std::filesystem::path ConversationLanguageStore::standardFolder() {
    return std::filesystem::path(g_get_user_data_dir()) / "aurelo-translator" /
           "conversation-languages";
}

std::filesystem::path ConversationLanguageStore::fileOf(const std::string& sessionID) const {
    return m_folder / (sessionID + ".json");
}

std::optional<std::filesystem::path>
ConversationLanguageStore::setAsideFile(const std::string& sessionID) const {
    auto it = m_accounts.find(sessionID);
    return it == m_accounts.end() ? std::nullopt : it->second.setAside;
}

ConversationLanguageStore::Account&
ConversationLanguageStore::account(const std::string& sessionID) {
    auto [it, inserted] = m_accounts.try_emplace(sessionID);
    if (inserted)
        load(sessionID, it->second);
    return it->second;
}

void ConversationLanguageStore::load(const std::string& sessionID, Account& account) {
    if (m_folder.empty()) {
        account.salt = randomSalt();
        return;
    }
    const auto file = fileOf(sessionID);
    auto contents = readWholeFile(file);
    if (contents && !*contents) {
        account.salt = randomSalt();
        return;
    }
    if (contents) {
        const StoredJson parsed =
            StoredJson::parse(**contents, nullptr, /*allow_exceptions=*/false);
        const StoredJson* salt = storedMember(parsed, "salt");
        const StoredJson* list = storedMember(parsed, "conversations");
        const StoredJson* version = storedMember(parsed, "version");
        bool readable = salt && salt->is_string() && !salt->get_ref<const std::string&>().empty() &&
                        list && list->is_object() && version && *version == kFormatVersion;
        if (readable) {
            for (const auto& [key, value] : list->items()) {
                auto entry = decodeConversation(value);
                if (!isConversationKey(key) || !entry) {
                    readable = false;
                    break;
                }
                account.conversations[key] = Entry{std::move(entry->first), entry->second};
                account.clock = std::max(account.clock, entry->second);
            }
        }
        if (readable) {
            account.salt = salt->get<std::string>();
            return;
        }
        account.conversations.clear();
        account.clock = 0;
    }
    // Not ours to interpret, or not readable at all: kept for the user under a new name.
    const auto aside = unusedFileName(file.string() + ".unreadable-" + utcTimestampForFileName());
    if (::rename(file.c_str(), aside.c_str()) == 0) {
        account.setAside = aside;
        g_warning("Conversation languages of %s could not be read; the file was moved to %s",
                  sessionID.c_str(), aside.c_str());
    } else {
        account.readOnly = true;
        g_warning(
            "Conversation languages of %s are not saved in this run: cannot move %s aside: %s",
            sessionID.c_str(), file.c_str(), std::strerror(errno));
    }
    account.salt = randomSalt();
}

std::string ConversationLanguageStore::keyOf(const Account& account,
                                             const std::string& conversationID) const {
    return adoptString(g_compute_hmac_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(account.salt.data()),
        account.salt.size(), reinterpret_cast<const guchar*>(conversationID.data()),
        conversationID.size()));
}

ConversationLanguageState ConversationLanguageStore::state(const std::string& sessionID,
                                                           const std::string& conversationID) {
    Account& found = account(sessionID);
    auto it = found.conversations.find(keyOf(found, conversationID));
    if (it == found.conversations.end())
        return {};
    it->second.used = ++found.clock;
    return it->second.state;
}

void ConversationLanguageStore::save(const std::string& sessionID,
                                     const std::string& conversationID,
                                     const ConversationLanguageState& state) {
    Account& found = account(sessionID);
    const std::string key = keyOf(found, conversationID);
    if (state.empty())
        found.conversations.erase(key);
    else
        found.conversations[key] = Entry{state, ++found.clock};
    while (found.conversations.size() > m_maximumConversations) {
        auto oldest = std::ranges::min_element(found.conversations, {},
                                               [](const auto& pair) { return pair.second.used; });
        found.conversations.erase(oldest);
    }
    if (m_folder.empty() || found.readOnly)
        return;
    m_unwritten.insert(sessionID);
    if (std::exchange(m_flushPosted, true))
        return;
    postToMainLoop([this, cancellation = m_cancellable.token()] {
        if (!cancellation.isCancelled())
            flush();
    });
}

std::optional<std::string> ConversationLanguageStore::flush() {
    m_flushPosted = false;
    std::optional<std::string> failure;
    for (const auto& sessionID : std::exchange(m_unwritten, {})) {
        auto found = m_accounts.find(sessionID);
        if (found == m_accounts.end())
            continue;
        auto written = writeFileAtomically(fileOf(sessionID), encode(found->second));
        if (!written) {
            g_warning("Conversation languages of %s not saved: %s", sessionID.c_str(),
                      written.error().c_str());
            failure = written.error();
        }
    }
    return failure;
}

void ConversationLanguageStore::removeAccount(const std::string& sessionID) {
    m_accounts.erase(sessionID);
    m_unwritten.erase(sessionID);
    if (m_folder.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove(fileOf(sessionID), ignored);
}

std::string ConversationLanguageStore::encode(const Account& account) const {
    StoredJson list = StoredJson::object();
    for (const auto& [key, entry] : account.conversations) {
        StoredJson value = {{"used", entry.used}};
        if (entry.state.detected)
            value["detected"] = code(*entry.state.detected);
        if (entry.state.manual)
            value["manual"] = code(*entry.state.manual);
        if (!entry.state.recent.empty()) {
            StoredJson recent = StoredJson::array();
            for (ChatLanguage language : entry.state.recent)
                recent.push_back(code(language));
            value["recent"] = std::move(recent);
        }
        list[key] = std::move(value);
    }
    return StoredJson{{"version", kFormatVersion}, {"salt", account.salt}, {"conversations", list}}
        .dump();
}

} // namespace aurelo
