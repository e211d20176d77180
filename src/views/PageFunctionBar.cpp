#include "views/PageFunctionBar.hpp"

#include "views/WidgetHelpers.hpp"

#include <gtkmm/label.h>

namespace aurelo {

PageFunctionBar::PageFunctionBar(ContentViewModel& model)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 2), m_model(model) {
    add_css_class("aurelo-page-functions");
    set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*this, "页面功能");
    auto* title = Gtk::make_managed<Gtk::Label>("页面功能");
    title->add_css_class("aurelo-subtitle");
    title->set_margin_end(4);
    append(*title);
    addButton("arrow.clockwise", "刷新",
              [this](const ChatSession& s) { m_model.selectAndReload(s.id); });
    addButton("globe", "整页翻译",
              [this](const ChatSession& s) { m_model.translateWholePage(s.id); });
    addButton("doc.text", "恢复原文",
              [this](const ChatSession& s) { m_model.restoreWholePage(s.id); });
    addButton("plus.magnifyingglass", "放大", [this](const ChatSession&) { m_model.zoomIn(); });
    addButton("minus.magnifyingglass", "缩小", [this](const ChatSession&) { m_model.zoomOut(); });
    addButton("pencil", "修改名称", [this](const ChatSession& s) { m_model.beginRename(s.id); });
    addButton(
        "trash", "删除页面", [this](const ChatSession& s) { m_model.deleteNow(s); }, true);
}

void PageFunctionBar::addButton(std::string_view symbol, const Glib::ustring& title,
                                std::function<void(const ChatSession&)> action, bool destructive) {
    auto* button = iconOnlyButton(symbol, title);
    if (destructive)
        button->add_css_class("aurelo-destructive-icon");
    button->signal_clicked().connect([this, action = std::move(action)] { withSelection(action); });
    append(*button);
}

void PageFunctionBar::withSelection(const std::function<void(const ChatSession&)>& action) {
    const auto& id = m_model.store().selectedID();
    for (const auto& session : m_model.store().sessions())
        if (session.id == id) {
            const ChatSession copy = session; // the action may remove it from the store
            action(copy);
            return;
        }
}

} // namespace aurelo
