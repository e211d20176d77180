#pragma once

// What every account sheet's form shares: the flag that shows its sheet and the change signal of
// its fields. The sheets bind to a form; the form knows no widget.

#include <sigc++/sigc++.h>

#include <utility>

namespace aurelo {

class FormModel {
public:
    enum class Field {
        Showing,
        Name,
        PlatformID,
        ProxyEnabled,
        SendTranslation,
        ReceiveTranslation,
        FontSize,
        FontColor,
        SetupSection,
        InputLanguage,
        OutgoingLanguage,
        IncomingLanguage,
        OwnMessageLanguage,
        Provider,
        ProxyType,
        ProxyHost,
        ProxyPort,
        ProxyUsername,
        ProxyPassword,
        ProxyCheck,
        Address,
        HibernateMinutes,
        SpellChecking,
        Notifications,
        Error,
    };

    FormModel(const FormModel&) = delete;
    FormModel& operator=(const FormModel&) = delete;
    virtual ~FormModel() = default;

    bool showing() const { return m_showing; }
    // Closing the sheet any way clears the flag without saving.
    void setShowing(bool value) { assign(m_showing, value, Field::Showing); }

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

protected:
    FormModel() = default;

    template <typename T> void assign(T& member, T value, Field field) {
        if (member == value)
            return;
        member = std::move(value);
        m_changed.emit(field);
    }

private:
    bool m_showing = false;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo
