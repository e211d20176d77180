#pragma once

// The content of the settings card "常用语": the phrases in their order, each with 编辑, 上移,
// 下移 and 删除, and 添加常用语. A phrase is written in a small sheet with a title and a text.

#include "models/QuickReplyStore.hpp"

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/listbox.h>
#include <gtkmm/textview.h>
#include <gtkmm/window.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class QuickReplyEditor : public Gtk::Box {
public:
    explicit QuickReplyEditor(QuickReplyStore& replies);
    ~QuickReplyEditor() override;

    // For the widget tests.
    Gtk::ListBox& list() { return m_list; }
    Gtk::Button& addButton() { return m_add; }
    Gtk::Window* sheet() { return m_sheet.get(); }
    Gtk::Entry& titleField() { return m_title; }
    Gtk::TextView& textField() { return m_text; }
    Gtk::Button& saveButton() { return m_save; }
    Gtk::Label& sheetError() { return m_sheetError; }

private:
    void showReplies();
    // Opens the sheet for a new phrase (no id) or for the phrase `id`.
    void openSheet(std::optional<std::string> id);
    void save();

    QuickReplyStore& m_replies;
    Gtk::ListBox m_list;
    Gtk::Label m_empty{"还没有常用语"};
    Gtk::Button m_add;

    std::unique_ptr<Gtk::Window> m_sheet;
    std::optional<std::string> m_editedID;
    Gtk::Entry m_title;
    Gtk::TextView m_text;
    Gtk::Label m_sheetError;
    Gtk::Button m_save{"保存"};
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
