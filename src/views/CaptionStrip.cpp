#include "views/CaptionStrip.hpp"

#include "views/WidgetHelpers.hpp"

#include <gdkmm/clipboard.h>
#include <gtkmm/scrolledwindow.h>

namespace aurelo {

namespace {

// An empty column keeps its height and says what will appear in it.
void showText(Gtk::Label& label, const std::string& text, const char* placeholder) {
    label.set_text(text.empty() ? placeholder : text);
    if (text.empty())
        label.add_css_class("aurelo-placeholder");
    else
        label.remove_css_class("aurelo-placeholder");
}

} // namespace

CaptionStrip::CaptionStrip(LiveCaptionManager& manager)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 6), m_manager(manager) {
    add_css_class("aurelo-caption-strip");
    set_size_request(kWidth, -1);

    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    header->set_margin_start(12);
    header->set_margin_end(12);
    header->set_margin_top(10);
    header->append(*symbolImage("captions.bubble"));
    m_title.add_css_class("heading");
    header->append(m_title);
    append(*header);
    m_status.add_css_class("aurelo-subtitle");
    m_status.set_xalign(0);
    m_status.set_wrap(true);
    m_status.set_margin_start(12);
    m_status.set_margin_end(12);
    append(m_status);
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_margin_start(12);
    buttons->set_margin_end(12);
    auto* clear = Gtk::make_managed<Gtk::Button>("清空");
    clear->signal_clicked().connect([this] { m_manager.clearTexts(); });
    auto* copy = Gtk::make_managed<Gtk::Button>("复制文字");
    copy->signal_clicked().connect([this] {
        if (auto text = m_manager.copyText())
            get_clipboard()->set_text(*text);
    });
    auto* close = Gtk::make_managed<Gtk::Button>("关闭");
    close->signal_clicked().connect([this] { m_manager.closePanel(); });
    buttons->append(*clear);
    buttons->append(*copy);
    buttons->append(*close);
    append(*buttons);

    // Docked beside the pages, the two texts stack; they scroll when a long run outgrows the
    // window's height.
    auto* columns = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
    columns->set_margin(12);
    m_translated.add_css_class("aurelo-gold");
    columns->append(*column("原文", m_source));
    columns->append(*column("中文", m_translated));
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_vexpand(true);
    scroller->set_child(*columns);
    append(*scroller);

    setIconButtonContent(m_start, "captions.bubble", LiveCaptionManager::kTitle);
    m_start.set_tooltip_text("识别本应用播放的英语声音并翻译成中文");
    m_start.signal_clicked().connect([this] { m_manager.start(); });

    for (auto* signal :
         {&m_manager.signalIsRunningChanged(), &m_manager.signalSourceTextChanged(),
          &m_manager.signalTranslatedTextChanged(), &m_manager.signalStatusTextChanged()})
        m_connections.push_back(signal->connect([this] { refresh(); }));
    refresh();
}

CaptionStrip::~CaptionStrip() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

Gtk::Box* CaptionStrip::column(const Glib::ustring& caption, Gtk::Label& text) {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* label = Gtk::make_managed<Gtk::Label>(caption);
    label->add_css_class("aurelo-subtitle");
    label->set_xalign(0);
    text.set_xalign(0);
    text.set_wrap(true);
    text.set_selectable(true);
    // Announced with its column's name, so a screen reader says which text it is reading.
    setAccessibleLabel(text, caption);
    box->append(*label);
    box->append(text);
    return box;
}

void CaptionStrip::refresh() {
    set_visible(m_manager.panelShown());
    m_title.set_text(m_manager.panelTitle());
    m_status.set_text(m_manager.statusText());
    showText(m_source, m_manager.sourceText(), kSourcePlaceholder);
    showText(m_translated, m_manager.translatedText(), kTranslationPlaceholder);
    m_start.set_sensitive(!m_manager.isRunning());
}

} // namespace aurelo
