#pragma once

// The line under the quick-settings strip for an account that follows its customers' language:
// the open conversation's language and where it came from, with a picker to override it.

#include "viewmodels/ConversationLanguageModel.hpp"
#include "views/ChoicePicker.hpp"

#include <gtkmm/box.h>
#include <gtkmm/label.h>

#include <vector>

namespace aurelo {

class ConversationLanguageRow : public Gtk::Box {
public:
    explicit ConversationLanguageRow(ConversationLanguageModel& model);
    ~ConversationLanguageRow() override;

private:
    void refresh();

    ConversationLanguageModel& m_model;
    Gtk::Label m_text;
    ChoicePicker m_override;
    bool m_refreshing = false;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
