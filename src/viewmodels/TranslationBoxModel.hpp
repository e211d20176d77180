#pragma once

// The translation box under the pages: the user types, the box translates with the global
// engine, and the English result can be put into the selected chat's composer. A result that
// comes back after the request was superseded (a new request, clearing, another session) is
// dropped.

#include "models/SessionStore.hpp"
#include "models/SettingsStore.hpp"
#include "models/WebPageCommand.hpp"
#include "platform/Cancellable.hpp"
#include "translation/TranslationService.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

class TranslationBoxModel {
public:
    enum class Field {
        Input,
        Output,
        Detected,
        ErrorMessage,
        Translating,
        ReadyToInsert,
        TextInsertion,
        Focus,
        Placeholder,
        PreferredTarget,
    };

    // The start of the field's placeholder; the selected account's platform name follows it.
    static constexpr std::string_view kPlaceholderPrefix =
        "点击任意位置输入中文 → 回车翻译英文 → 确认填入";
    // An engine that cannot translate Chinese answers with the Chinese it was given; a chat
    // must never receive that as the translation.
    static constexpr std::string_view kStillChinese = "译文仍含中文，未填入";

    TranslationBoxModel(SessionStore& store, SettingsStore& settings,
                        const TranslationService& translator);
    TranslationBoxModel(const TranslationBoxModel&) = delete;
    TranslationBoxModel& operator=(const TranslationBoxModel&) = delete;
    ~TranslationBoxModel();

    const std::string& input() const { return m_input; }
    const std::string& output() const { return m_output; }
    const std::string& detected() const { return m_detected; }
    const std::string& errorMessage() const { return m_errorMessage; }
    bool translating() const { return m_translating; }
    bool readyToInsert() const { return m_readyToInsert; }
    const std::string& translatedSource() const { return m_translatedSource; }
    const std::string& translationRequestID() const { return m_translationRequestID; }
    const std::optional<WebTextInsertion>& textInsertion() const { return m_textInsertion; }
    // The page put the text into its composer: it is not handed out again. An insertion that
    // has been replaced by a newer one stays.
    void textInsertionTaken(const std::string& insertionID);

    // What the empty field says: how the box is used, ending with the platform the text goes
    // to (the selected account's), or without a platform when no account is selected. For an
    // account that follows its customer, "英文" is the open conversation's language.
    std::string placeholderText() const;
    // The insert button and the line beside it, naming the same platform.
    std::string insertButtonLabel() const;
    std::string insertNote() const;

    // The box's "翻译方向". Only this choice is stored: the other settings are the settings
    // page's to save, with its key checks and status line.
    TargetLanguage preferredTarget() const { return m_settings.preferredTarget(); }
    void setPreferredTarget(TargetLanguage target);

    // The language Chinese in the box goes out in for an account that follows its customer
    // (the open conversation's); nullopt keeps English, as for every other account.
    using FollowedLanguage =
        std::function<std::optional<std::string>(const std::string& sessionID)>;
    void setFollowedLanguage(FollowedLanguage followed) { m_followed = std::move(followed); }
    // The open conversation's language may have changed: the placeholder names it.
    void followedLanguageChanged();

    void setInput(std::string text);
    void performTranslation();
    void insertOutput();
    // Puts `text` into the composer of the session `sessionID` (a phrase from the library), the
    // way insertOutput puts the box's result.
    void insertText(const std::string& sessionID, std::string text);
    // The text to put on the clipboard, or nothing.
    std::optional<std::string> copyOutput() const;
    void clearTranslation();
    // The selection changed: whatever the box was doing belongs to the previous account.
    void cancelTranslationForSessionSwitch();

    // The "检测到：" text for the reported language: "中文" for any Chinese code, "英语" for
    // English, the code itself otherwise; nothing when no code was reported.
    std::optional<std::string> detectedLabel() const { return detectedLanguageLabel(m_detected); }
    static std::optional<std::string> detectedLanguageLabel(const std::string& code);

    // Whether a text holds Chinese: a Han character (Unicode script Han, which covers every CJK
    // ideograph block, the page's U+3400…U+9FFF among them).
    static bool containsChinese(std::string_view text);
    // Whether `result`, a translation into the language `targetCode`, is unfit to be put into a
    // chat because it still holds Chinese. Chinese and Japanese are written with Han characters,
    // so a translation into them is never refused for holding some.
    static bool stillChinese(std::string_view result, std::string_view targetCode);

    // Asks the view to move the keyboard focus into the input field, or out of it.
    sigc::signal<void(bool)>& signalFocusRequested() { return m_focusRequested; }
    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void reset();
    std::string outgoingTarget(const std::string& sessionID) const;
    // The selected account's platform name; nothing when no account is selected.
    std::optional<std::string> selectedPlatformName() const;
    template <typename T> void assign(T& member, T value, Field field);

    SessionStore& m_store;
    SettingsStore& m_settings;
    const TranslationService& m_translator;
    Cancellable m_cancellable;

    std::string m_input;
    std::string m_output;
    std::string m_detected;
    std::string m_errorMessage;
    bool m_translating = false;
    std::string m_translationRequestID;
    std::string m_translatedSource;
    bool m_readyToInsert = false;
    std::optional<WebTextInsertion> m_textInsertion;
    FollowedLanguage m_followed;
    // The language of `m_output`.
    std::string m_outputTarget;

    std::vector<sigc::connection> m_connections;
    sigc::signal<void(bool)> m_focusRequested;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
