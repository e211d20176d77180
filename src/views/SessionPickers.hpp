#pragma once

#include "views/ChoicePicker.hpp"
#include "viewmodels/AccountFieldsForm.hpp"

namespace aurelo {

// The account's languages, engine and proxy type as six pickers bound to an account form.
// Each sheet lays them out under its own captions.
struct SessionPickers {
    // The accessible names, in the order of the pickers below.
    struct Names {
        Glib::ustring input, outgoing, incoming, ownMessage, provider, proxyType;
    };

    explicit SessionPickers(const Names& names);

    // A choice goes straight to the form.
    void bind(AccountFieldsForm& form);
    void show(const AccountFieldsForm& form);

    ChoicePicker input;
    ChoicePicker outgoing;
    ChoicePicker incoming;
    ChoicePicker ownMessage;
    ChoicePicker provider;
    ChoicePicker proxyType;
};

} // namespace aurelo
