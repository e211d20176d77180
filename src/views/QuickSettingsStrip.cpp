#include "views/QuickSettingsStrip.hpp"

#include "views/AccountTabFlowLayout.hpp"
#include "views/ConversationLanguageRow.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/popover.h>
#include <gtkmm/stringlist.h>

#include <cmath>

namespace aurelo {

namespace {

// A titled group of controls; each control is preceded by its caption.
Gtk::Box* section(const Glib::ustring& title) {
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    box->add_css_class("aurelo-quick-section");
    auto* label = Gtk::make_managed<Gtk::Label>(title);
    label->add_css_class("heading");
    box->append(*label);
    return box;
}

void addCaptioned(Gtk::Box& box, const Glib::ustring& caption, Gtk::Widget& control) {
    auto* label = Gtk::make_managed<Gtk::Label>(caption);
    label->add_css_class("aurelo-subtitle");
    box.append(*label);
    control.set_valign(Gtk::Align::CENTER);
    box.append(control);
}

} // namespace

QuickSettingsStrip::QuickSettingsStrip(ContentViewModel& model)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8), m_model(model), m_quick(model.quickSettings()) {
    add_css_class("aurelo-quick-settings");
    set_margin_start(14);
    set_margin_end(14);
    set_margin_top(4);
    set_margin_bottom(4);

    // The summary line: what this account receives and sends in, through which engine, and
    // the promise about Chinese text; its last button opens the controls under it.
    auto& header = m_summaryLine;
    header.append(*symbolImage("character.book.closed.fill"));
    auto* title = Gtk::make_managed<Gtk::Label>("当前账号翻译设置");
    title->add_css_class("heading");
    header.append(*title);
    m_summary.add_css_class("aurelo-subtitle");
    m_summary.set_halign(Gtk::Align::START);
    m_summary.set_xalign(0);
    m_summary.set_ellipsize(Pango::EllipsizeMode::END);
    header.append(m_summary);
    // With 跟随客户语言, the open conversation's language and its override, on the same line.
    header.append(*Gtk::make_managed<ConversationLanguageRow>(m_model.conversationLanguages()));
    m_engineSummary.add_css_class("aurelo-subtitle");
    m_engineSummary.set_xalign(0);
    m_engineSummary.set_hexpand(true);
    m_engineSummary.set_halign(Gtk::Align::START);
    m_engineSummary.set_ellipsize(Pango::EllipsizeMode::END);
    header.append(m_engineSummary);
    m_recognition.add_css_class("aurelo-notice");
    m_recognition.set_hexpand(true);
    m_recognition.set_xalign(0);
    m_recognition.set_ellipsize(Pango::EllipsizeMode::END);
    header.append(m_recognition);
    auto* badge = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
    badge->add_css_class("aurelo-guard-badge");
    badge->append(*symbolImage("lock.shield.fill"));
    badge->append(*Gtk::make_managed<Gtk::Label>("中文原文禁止直接发送"));
    header.append(*badge);
    m_expander.add_css_class("flat");
    m_expander.signal_clicked().connect([this] {
        auto& preferences = m_model.preferences();
        preferences.setQuickSettingsExpanded(!preferences.quickSettingsExpanded());
    });
    header.append(m_expander);
    append(header);

    // The groups fill each line and wrap like words, so a laptop screen takes two or three
    // lines where a grid of equal columns would stack every group on a line of its own.
    auto* flow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    flow->set_layout_manager(AccountTabFlowLayout::create(kGroupSpacing));

    auto* send = section("发送翻译");
    setAccessibleLabel(m_send, "启用发送翻译");
    addCaptioned(*send, "启用", m_send);
    addCaptioned(*send, "原文语言", m_input);
    addCaptioned(*send, "翻译为", m_outgoing);
    setAccessibleLabel(m_group, "群组翻译");
    addCaptioned(*send, "群组翻译", m_group);
    flow->append(*send);

    auto* receive = section("接收翻译");
    setAccessibleLabel(m_receive, "启用接收翻译");
    addCaptioned(*receive, "启用", m_receive);
    auto* automatic = Gtk::make_managed<Gtk::Label>("自动检测");
    addCaptioned(*receive, "原文语言", *automatic);
    addCaptioned(*receive, "翻译为", m_incoming);
    flow->append(*receive);

    auto* engine = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    engine->append(*symbolImage("server.rack"));
    auto* engineTitle = Gtk::make_managed<Gtk::Label>("翻译引擎");
    engineTitle->add_css_class("heading");
    engine->append(*engineTitle);
    auto* popover = Gtk::make_managed<Gtk::Popover>();
    m_engineList.set_margin(4);
    popover->set_child(m_engineList);
    m_engine.set_popover(*popover);
    setAccessibleLabel(m_engine, "翻译引擎");
    engine->append(m_engine);
    flow->append(*engine);

    auto* look = section("译文显示");
    std::vector<Glib::ustring> sizes;
    for (int size : kTranslationFontSizes)
        sizes.emplace_back(fontSizeLabel(size));
    m_fontSize.set_model(Gtk::StringList::create(sizes));
    setAccessibleLabel(m_fontSize, "字体大小");
    addCaptioned(*look, "字体大小", m_fontSize);
    m_color.set_use_alpha(false);
    m_color.set_modal(true);
    setAccessibleLabel(m_color, "文字颜色");
    addCaptioned(*look, "文字颜色", m_color);
    flow->append(*look);

    auto* apply = iconButton("checkmark.circle", "应用设置");
    apply->add_css_class("aurelo-primary");
    apply->set_halign(Gtk::Align::START);
    apply->set_valign(Gtk::Align::CENTER);
    apply->signal_clicked().connect([this] { m_quick.applySettings(); });
    flow->append(*apply);

    m_controls.append(*flow);
    append(m_controls);

    // The user's changes go to the selected account; refresh() shows what the model holds and
    // must not write it back.
    m_send.property_active().signal_changed().connect([this] {
        if (!m_refreshing)
            m_quick.setSendTranslationEnabled(m_send.get_active());
    });
    m_group.property_active().signal_changed().connect([this] {
        if (!m_refreshing)
            m_quick.setGroupTranslationEnabled(m_group.get_active());
    });
    m_receive.property_active().signal_changed().connect([this] {
        if (!m_refreshing)
            m_quick.setReceiveTranslationEnabled(m_receive.get_active());
    });
    m_input.signalChosen().connect([this](const std::string& code) {
        if (!m_refreshing)
            m_quick.setInputLanguageCode(code);
    });
    m_outgoing.signalChosen().connect([this](const std::string& code) {
        if (!m_refreshing)
            m_quick.setOutgoingLanguageCode(code);
    });
    m_incoming.signalChosen().connect([this](const std::string& code) {
        if (!m_refreshing)
            m_quick.setIncomingLanguageCode(code);
    });
    m_fontSize.property_selected().signal_changed().connect([this] {
        const guint position = m_fontSize.get_selected();
        if (!m_refreshing && position < kTranslationFontSizes.size())
            m_quick.setTranslationFontSize(kTranslationFontSizes[position]);
    });
    m_color.signal_color_set().connect([this] {
        const Gdk::RGBA color = m_color.get_rgba();
        m_quick.setTranslationFontColor({color.get_red(), color.get_green(), color.get_blue()});
    });

    refreshLayout();
    m_connections.push_back(
        m_model.preferences().signalChanged().connect([this](MainWindowPreferences::Field field) {
            using F = MainWindowPreferences::Field;
            if (field == F::ShowQuickTranslationSettings || field == F::QuickSettingsExpanded ||
                field == F::FocusLayout)
                refreshLayout();
        }));
    m_connections.push_back(m_quick.signalChanged().connect([this] { refresh(); }));
    refresh();
}

QuickSettingsStrip::~QuickSettingsStrip() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void QuickSettingsStrip::refreshLayout() {
    const auto layout = m_model.preferences().layout();
    set_visible(layout.quickSettings);
    m_controls.set_visible(layout.quickControls);
    const bool open = m_model.preferences().quickSettingsExpanded();
    setIconButtonContent(m_expander, open ? "chevron.up" : "chevron.down",
                         open ? "收起设置" : "展开设置");
    m_expander.set_tooltip_text(open ? "收起翻译设置" : "展开全部翻译设置");
    gtk_accessible_update_state(GTK_ACCESSIBLE(m_expander.gobj()), GTK_ACCESSIBLE_STATE_EXPANDED,
                                open, -1);
}

void QuickSettingsStrip::refresh() {
    m_refreshing = true;
    m_summary.set_text(m_quick.summaryLine());
    m_engineSummary.set_text("   ·   " + m_quick.selectedProviderLabel());
    const Glib::ustring recognition(std::string(m_quick.recognitionNote()));
    m_recognition.set_text(recognition.empty() ? "" : "ⓘ " + recognition);
    m_recognition.set_tooltip_text(recognition);
    m_recognition.set_visible(!recognition.empty());
    // The note, when shown, takes the spare width.
    m_engineSummary.set_hexpand(recognition.empty());
    // Where sending is never translated the switch shows off and cannot be turned on; the
    // account's own choice is kept for a page that could use it.
    const bool sendAvailable = m_quick.sendTranslationAvailable();
    m_send.set_active(sendAvailable && m_quick.sendTranslationEnabled());
    m_send.set_sensitive(sendAvailable);
    const Glib::ustring sendNote(std::string(QuickSettingsModel::kSendTranslationUnavailable));
    gtk_widget_set_tooltip_text(GTK_WIDGET(m_send.gobj()),
                                sendAvailable ? nullptr : sendNote.c_str());
    Glib::Value<Glib::ustring> description;
    description.init(description.value_type());
    description.set(sendAvailable ? Glib::ustring() : sendNote);
    m_send.update_property(Gtk::Accessible::Property::DESCRIPTION, description);
    m_input.setValue(m_quick.inputLanguageCode());
    m_outgoing.setValue(m_quick.outgoingLanguageCode());
    m_group.set_active(m_quick.groupTranslationEnabled());
    m_receive.set_active(m_quick.receiveTranslationEnabled());
    m_incoming.setValue(m_quick.incomingLanguageCode());
    guint sizePosition = GTK_INVALID_LIST_POSITION;
    for (std::size_t i = 0; i < kTranslationFontSizes.size(); ++i)
        if (std::abs(kTranslationFontSizes[i] - m_quick.translationFontSize()) < 0.01)
            sizePosition = guint(i);
    m_fontSize.set_selected(sizePosition);
    const RgbColor color = m_quick.translationFontColor();
    Gdk::RGBA rgba;
    rgba.set_rgba(color.red, color.green, color.blue, 1.0);
    m_color.set_rgba(rgba);
    m_engine.set_label(m_quick.selectedProviderLabel());
    rebuildEngineMenu();
    m_refreshing = false;
}

void QuickSettingsStrip::rebuildEngineMenu() {
    while (auto* child = m_engineList.get_first_child())
        m_engineList.remove(*child);
    for (const auto& engine : m_model.account().availableEngines()) {
        auto* button = Gtk::make_managed<Gtk::Button>(engine.label);
        button->add_css_class("flat");
        button->signal_clicked().connect([this, provider = engine.provider] {
            m_engine.popdown();
            m_quick.setProvider(provider);
        });
        m_engineList.append(*button);
    }
}

} // namespace aurelo
