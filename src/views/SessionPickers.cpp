#include "views/SessionPickers.hpp"

namespace aurelo {

SessionPickers::SessionPickers(const Names& names)
    : input(ChoicePicker::languages(LanguagePicker::Input), names.input),
      outgoing(ChoicePicker::languages(LanguagePicker::Outgoing), names.outgoing),
      incoming(ChoicePicker::languages(LanguagePicker::Incoming), names.incoming),
      ownMessage(ChoicePicker::languages(LanguagePicker::Incoming), names.ownMessage),
      provider(ChoicePicker::providers(), names.provider),
      proxyType(ChoicePicker::proxyTypes(), names.proxyType) {}

void SessionPickers::bind(SessionFormModel& form) {
    const auto connect = [&form](ChoicePicker& picker,
                                 void (SessionFormModel::*setter)(std::string)) {
        picker.signalChosen().connect(
            [&form, setter](const std::string& value) { (form.*setter)(value); });
    };
    connect(input, &SessionFormModel::setSessionInputLanguage);
    connect(outgoing, &SessionFormModel::setSessionOutgoingLanguage);
    connect(incoming, &SessionFormModel::setSessionIncomingLanguage);
    connect(ownMessage, &SessionFormModel::setSessionOwnMessageLanguage);
    connect(provider, &SessionFormModel::setSessionProvider);
    connect(proxyType, &SessionFormModel::setSessionProxyType);
}

void SessionPickers::show(const SessionFormModel& form) {
    input.setValue(form.sessionInputLanguage());
    outgoing.setValue(form.sessionOutgoingLanguage());
    incoming.setValue(form.sessionIncomingLanguage());
    ownMessage.setValue(form.sessionOwnMessageLanguage());
    provider.setValue(form.sessionProvider());
    proxyType.setValue(form.sessionProxyType());
}

} // namespace aurelo
