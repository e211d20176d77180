#include "views/CloseDialog.hpp"

namespace aurelo {

CloseDialog::CloseDialog(Gtk::Window& parent)
    : Gtk::MessageDialog(parent, "关闭Aurelo翻译器", false, Gtk::MessageType::QUESTION,
                         Gtk::ButtonsType::NONE, true) {
    set_secondary_text("你可以隐藏到后台并保留所有登录状态，或者完全退出应用。");
    add_button("隐藏到后台", Hide);
    add_button("完全退出", Quit);
    add_button("取消", Cancel);
    set_default_response(Hide);
}

} // namespace aurelo
