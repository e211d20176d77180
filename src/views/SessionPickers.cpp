#include "views/SessionPickers.hpp"

namespace aurelo {

SessionPickers::SessionPickers(const Names& names)
    : input(ChoicePicker::languages(LanguagePicker::Input), names.input),
      outgoing(ChoicePicker::accountOutgoing(), names.outgoing),
      incoming(ChoicePicker::languages(LanguagePicker::Incoming), names.incoming),
      ownMessage(ChoicePicker::languages(LanguagePicker::Incoming), names.ownMessage),
      provider({}, names.provider), proxyType(ChoicePicker::proxyTypes(), names.proxyType) {}

void SessionPickers::bind(AccountFieldsForm& form) {
    const auto connect = [&form](ChoicePicker& picker,
                                 void (AccountFieldsForm::*setter)(std::string)) {
        picker.signalChosen().connect(
            [&form, setter](const std::string& value) { (form.*setter)(value); });
    };
    connect(input, &AccountFieldsForm::setInputLanguage);
    connect(outgoing, &AccountFieldsForm::setOutgoingLanguage);
    connect(incoming, &AccountFieldsForm::setIncomingLanguage);
    connect(ownMessage, &AccountFieldsForm::setOwnMessageLanguage);
    connect(provider, &AccountFieldsForm::setProvider);
    connect(proxyType, &AccountFieldsForm::setProxyType);
}

void SessionPickers::show(const AccountFieldsForm& form) {
    input.setValue(form.inputLanguage());
    outgoing.setValue(form.outgoingLanguage());
    incoming.setValue(form.incomingLanguage());
    ownMessage.setValue(form.ownMessageLanguage());
    std::vector<ChoicePicker::Choice> engines;
    for (const auto& engine : form.providerChoices())
        engines.push_back({engine.provider, Glib::ustring(engine.label)});
    provider.setChoices(std::move(engines));
    provider.setValue(form.provider());
    proxyType.setValue(form.proxyType());
}

} // namespace aurelo
