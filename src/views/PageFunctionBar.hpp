#pragma once

// The page functions of the selected account as a row of icon buttons, named by tooltip and
// for screen readers, that sits beside the tabs instead of taking a row of its own.

#include "viewmodels/ContentViewModel.hpp"

#include <gtkmm/box.h>

#include <functional>

namespace aurelo {

class PageFunctionBar : public Gtk::Box {
public:
    explicit PageFunctionBar(ContentViewModel& model);

private:
    // Runs `action` with the selected session, when there is one.
    void withSelection(const std::function<void(const ChatSession&)>& action);
    void addButton(std::string_view symbol, const Glib::ustring& title,
                   std::function<void(const ChatSession&)> action, bool destructive = false);

    ContentViewModel& m_model;
};

} // namespace aurelo
