#pragma once

#include <gtkmm/messagedialog.h>

#include <functional>
#include <memory>

namespace aurelo {

// The question when the main window is closed: hide and keep every login, quit, or cancel.
// "隐藏到后台" is the default, so Return hides.
class CloseDialog : public Gtk::MessageDialog {
public:
    enum Response { Hide = 1, Quit = 2, Cancel = 3 };

    explicit CloseDialog(Gtk::Window& parent);
};

} // namespace aurelo
