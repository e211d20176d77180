// Reading and writing the account's outgoing choice, follow-the-customer included.
#include "viewmodels/OutgoingLanguageChoice.hpp"

#include "viewmodels/TranslationLook.hpp"

namespace aurelo {

std::vector<std::pair<std::string, std::string>> OutgoingLanguageChoice::choices() {
    std::vector<std::pair<std::string, std::string>> result{
        {std::string(kFollowCustomer), std::string(kFollowCustomerTitle)}};
    for (ChatLanguage language : pickerLanguages(LanguagePicker::Outgoing))
        result.emplace_back(std::string(code(language)), std::string(title(language)));
    return result;
}

std::string OutgoingLanguageChoice::valueOf(const ChatSession& session, ChatLanguage fallback) {
    if (session.outgoingFollowsCustomer.value_or(false))
        return std::string(kFollowCustomer);
    return std::string(code(safeOutgoingLanguage(session.outgoingLanguageCode, fallback)));
}

void OutgoingLanguageChoice::apply(ChatSession& session, const std::string& value,
                                   ChatLanguage fallback) {
    if (value == kFollowCustomer) {
        session.outgoingFollowsCustomer = true;
        if (!session.outgoingLanguageCode)
            session.outgoingLanguageCode = std::string(code(safeOutgoingLanguage({}, fallback)));
        return;
    }
    session.outgoingLanguageCode =
        value == code(ChatLanguage::Chinese) ? std::string(code(ChatLanguage::English)) : value;
    if (session.outgoingFollowsCustomer)
        session.outgoingFollowsCustomer = false;
}

} // namespace aurelo
