#include "views/CaptionStrip.hpp"

#include "views/WidgetHelpers.hpp"

#include <gdkmm/clipboard.h>

namespace aurelo {

CaptionStrip::CaptionStrip(LiveCaptionManager& manager)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 6), m_manager(manager) {
    add_css_class("aurelo-caption-strip");
    set_margin_start(14);
    set_margin_end(14);
    set_margin_bottom(8);

    for (Gtk::Label* label : {&m_source, &m_translated, &m_status}) {
        label->set_xalign(0);
        label->set_wrap(true);
        label->set_selectable(true);
    }
    m_translated.add_css_class("aurelo-gold");
    m_status.add_css_class("aurelo-subtitle");
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    buttons->set_halign(Gtk::Align::END);
    auto* copy = Gtk::make_managed<Gtk::Button>("复制文字");
    copy->signal_clicked().connect([this] {
        if (auto text = m_manager.copyText())
            get_clipboard()->set_text(*text);
    });
    auto* clear = Gtk::make_managed<Gtk::Button>("清空");
    clear->signal_clicked().connect([this] { m_manager.clearTexts(); });
    auto* close = Gtk::make_managed<Gtk::Button>("关闭");
    close->signal_clicked().connect([this] {
        if (m_manager.isRunning())
            m_manager.stop();
        else
            m_manager.clearTexts();
    });
    buttons->append(*copy);
    buttons->append(*clear);
    buttons->append(*close);
    m_strip.append(m_source);
    m_strip.append(m_translated);
    m_strip.append(m_status);
    m_strip.append(*buttons);
    append(m_strip);

    m_start.set_halign(Gtk::Align::START);
    setAccessibleLabel(m_start, "实时字幕");
    m_start.set_tooltip_text("识别本应用播放的英语声音并翻译成中文");
    m_start.signal_clicked().connect([this] { m_manager.start(); });
    append(m_start);

    for (auto* signal : {&m_manager.signalIsRunningChanged(), &m_manager.signalSourceTextChanged(),
                         &m_manager.signalTranslatedTextChanged(),
                         &m_manager.signalStatusTextChanged()})
        m_connections.push_back(signal->connect([this] { refresh(); }));
    refresh();
}

CaptionStrip::~CaptionStrip() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void CaptionStrip::refresh() {
    m_strip.set_visible(m_manager.isRunning() || !m_manager.sourceText().empty());
    m_start.set_sensitive(!m_manager.isRunning());
    m_source.set_text(m_manager.sourceText());
    m_source.set_visible(!m_manager.sourceText().empty());
    m_translated.set_text(m_manager.translatedText());
    m_translated.set_visible(!m_manager.translatedText().empty());
    m_status.set_text(m_manager.statusText());
}

} // namespace aurelo
