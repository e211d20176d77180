#include "views/QuickReplyEditor.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/scrolledwindow.h>

namespace aurelo {

QuickReplyEditor::QuickReplyEditor(QuickReplyStore& replies)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8), m_replies(replies) {
    m_list.set_selection_mode(Gtk::SelectionMode::NONE);
    m_list.add_css_class("boxed-list");
    setAccessibleLabel(m_list, "常用语");
    m_empty.add_css_class("aurelo-subtitle");
    m_empty.set_margin(12);
    m_list.set_placeholder(m_empty);
    append(m_list);
    setIconButtonContent(m_add, "plus", "添加常用语");
    m_add.set_halign(Gtk::Align::START);
    m_add.signal_clicked().connect([this] { openSheet(std::nullopt); });
    append(m_add);
    append(*note("在翻译框旁点“常用语”选用；Ctrl+Shift+1…9 把前九条翻译后填入当前对话。",
                 "aurelo-note"));
    m_connections.push_back(m_replies.signalChanged().connect([this] { showReplies(); }));
    showReplies();
}

QuickReplyEditor::~QuickReplyEditor() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void QuickReplyEditor::showReplies() {
    while (auto* row = m_list.get_row_at_index(0))
        m_list.remove(*row);
    const auto& replies = m_replies.replies();
    for (std::size_t index = 0; index < replies.size(); ++index) {
        const QuickReply& reply = replies[index];
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        row->set_margin(6);
        auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
        texts->set_hexpand(true);
        auto* title = Gtk::make_managed<Gtk::Label>(
            index < 9 ? Glib::ustring::compose("%1. %2", index + 1, reply.title)
                      : Glib::ustring(reply.title));
        title->set_xalign(0);
        title->set_ellipsize(Pango::EllipsizeMode::END);
        auto* text = note(reply.text);
        text->set_wrap(false);
        text->set_ellipsize(Pango::EllipsizeMode::END);
        texts->append(*title);
        texts->append(*text);
        row->append(*texts);

        const std::string id = reply.id;
        auto button = [&](std::string_view symbol, const Glib::ustring& name, bool enabled,
                          auto action) {
            auto* b = iconButton(symbol, "");
            setAccessibleLabel(*b, name + "：" + reply.title);
            b->set_tooltip_text(name);
            b->set_sensitive(enabled);
            b->set_valign(Gtk::Align::CENTER);
            b->signal_clicked().connect(action);
            row->append(*b);
            return b;
        };
        button("pencil", "编辑", true, [this, id] { openSheet(id); });
        button("chevron.up", "上移", index > 0,
               [this, id, index] { m_replies.move(id, index - 1); });
        button("chevron.down", "下移", index + 1 < replies.size(),
               [this, id, index] { m_replies.move(id, index + 1); });
        button("trash", "删除", true, [this, id] { m_replies.remove(id); })
            ->add_css_class("destructive-action");
        m_list.append(*row);
    }
}

void QuickReplyEditor::openSheet(std::optional<std::string> id) {
    if (!m_sheet) {
        Gtk::Box* body = nullptr;
        Gtk::Box* buttons = nullptr;
        m_sheet = makeSheet(dynamic_cast<Gtk::Window*>(get_root()), "常用语", body, buttons);
        m_title.set_placeholder_text("标题（可不填）");
        setAccessibleLabel(m_title, "标题");
        body->append(*note("标题"));
        body->append(m_title);
        body->append(*note("内容"));
        auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
        scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
        scroller->set_min_content_height(120);
        scroller->add_css_class("frame");
        m_text.set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
        m_text.set_top_margin(6);
        m_text.set_left_margin(8);
        setAccessibleLabel(m_text, "内容");
        scroller->set_child(m_text);
        body->append(*scroller);
        m_sheetError.add_css_class("aurelo-error");
        m_sheetError.set_wrap(true);
        m_sheetError.set_xalign(0);
        body->append(m_sheetError);
        auto* cancel = Gtk::make_managed<Gtk::Button>("取消");
        cancel->signal_clicked().connect([this] { m_sheet->close(); });
        m_save.add_css_class("aurelo-primary");
        m_save.signal_clicked().connect([this] { save(); });
        buttons->append(*cancel);
        buttons->append(m_save);
    }
    m_editedID = std::move(id);
    const QuickReply* reply = m_editedID ? m_replies.find(*m_editedID) : nullptr;
    m_title.set_text(reply ? reply->title : "");
    m_text.get_buffer()->set_text(reply ? reply->text : "");
    m_sheetError.set_text("");
    m_sheetError.set_visible(false);
    m_sheet->present();
    m_text.grab_focus();
}

void QuickReplyEditor::save() {
    const std::string title = m_title.get_text();
    const std::string text = m_text.get_buffer()->get_text();
    std::string error;
    if (m_editedID) {
        if (auto updated = m_replies.update(*m_editedID, title, text); !updated)
            error = updated.error();
    } else if (auto added = m_replies.add(title, text); !added) {
        error = added.error();
    }
    if (!error.empty()) {
        m_sheetError.set_text(error);
        m_sheetError.set_visible(true);
        return;
    }
    m_sheet->close();
}

} // namespace aurelo
