#include "views/SessionSettingsSheet.hpp"

#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/grid.h>

namespace aurelo {

namespace {

// A titled group of controls.
Gtk::Box* group(Gtk::Box& parent, const Glib::ustring& title) {
    auto* heading = Gtk::make_managed<Gtk::Label>(title);
    heading->add_css_class("heading");
    heading->set_xalign(0);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    box->add_css_class("aurelo-info-card");
    parent.append(*heading);
    parent.append(*box);
    return box;
}

} // namespace

SessionSettingsSheet::SessionSettingsSheet(SessionFormModel& form, Gtk::Window* parent)
    : m_form(form), m_inputLanguage(ChoicePicker::languages(LanguagePicker::Input), "输入语言"),
      m_outgoingLanguage(ChoicePicker::languages(LanguagePicker::Outgoing), "发送语言"),
      m_incomingLanguage(ChoicePicker::languages(LanguagePicker::Incoming), "对方消息与语音译为"),
      m_ownMessageLanguage(ChoicePicker::languages(LanguagePicker::Incoming), "我的已发送消息译为"),
      m_provider(ChoicePicker::providers(), "当前账号引擎"),
      m_proxyType(ChoicePicker::proxyTypes(), "代理类型") {
    configureSheet(*this, parent, "账号独立设置");
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    column->set_margin(22);
    column->set_size_request(460, -1);

    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* icon = SheetLayout::symbolImage("person.crop.circle.badge.gearshape", 34);
    icon->add_css_class("aurelo-gold");
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    auto* title = Gtk::make_managed<Gtk::Label>("账号独立设置");
    title->add_css_class("aurelo-title");
    title->set_xalign(0);
    texts->append(*title);
    texts->append(*SheetLayout::note("仅影响当前平台账号，其他账号继续使用各自配置。"));
    header->append(*icon);
    header->append(*texts);
    column->append(*header);

    auto* languages = group(*column, "翻译语言");
    auto* grid = Gtk::make_managed<Gtk::Grid>();
    grid->set_column_spacing(12);
    grid->set_row_spacing(8);
    grid->set_column_homogeneous(true);
    grid->attach(*SheetLayout::labeled("输入语言", m_inputLanguage), 0, 0);
    grid->attach(*SheetLayout::labeled("发送语言", m_outgoingLanguage), 1, 0);
    grid->attach(*SheetLayout::labeled("对方消息与语音译为", m_incomingLanguage), 0, 1);
    grid->attach(*SheetLayout::labeled("我的已发送消息译为", m_ownMessageLanguage), 1, 1);
    languages->append(*grid);

    group(*column, "翻译引擎")->append(*SheetLayout::labeled("当前账号引擎", m_provider));

    auto* proxy = group(*column, "独立代理 IP");
    proxy->append(*SheetLayout::labeled("代理类型", m_proxyType));
    m_proxyHost.set_placeholder_text("代理主机，例如 127.0.0.1");
    setAccessibleLabel(m_proxyHost, "代理主机");
    m_proxyHost.set_hexpand(true);
    m_proxyPort.set_placeholder_text("端口，例如 7890");
    setAccessibleLabel(m_proxyPort, "端口");
    m_proxyPort.set_width_chars(12);
    m_proxyPort.set_input_purpose(Gtk::InputPurpose::DIGITS);
    auto* address = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    address->append(m_proxyHost);
    address->append(m_proxyPort);
    proxy->append(*address);
    proxy->append(*SheetLayout::note(
        "留空表示直接连接。代理只应用于当前账号的独立网页会话，保存后会重新载入该账号。"));
    m_error.add_css_class("aurelo-error");
    m_error.set_xalign(0);
    m_error.set_wrap(true);
    column->append(m_error);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    buttons->set_margin_top(8);
    m_save.add_css_class("aurelo-primary");
    buttons->append(m_cancel);
    buttons->append(m_save);
    column->append(*buttons);
    set_child(*column);

    m_inputLanguage.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionInputLanguage(value); });
    m_outgoingLanguage.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionOutgoingLanguage(value); });
    m_incomingLanguage.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionIncomingLanguage(value); });
    m_ownMessageLanguage.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionOwnMessageLanguage(value); });
    m_provider.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionProvider(value); });
    m_proxyType.signalChosen().connect(
        [this](const std::string& value) { m_form.setSessionProxyType(value); });
    m_proxyHost.signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setSessionProxyHost(m_proxyHost.get_text());
    });
    m_proxyPort.signal_changed().connect([this] {
        if (!m_syncing)
            m_form.setSessionProxyPort(m_proxyPort.get_text());
    });
    m_proxyPort.signal_activate().connect([this] { m_form.saveSessionSettings(); });
    m_cancel.signal_clicked().connect([this] { m_form.setShowingSessionSettings(false); });
    m_save.signal_clicked().connect([this] { m_form.saveSessionSettings(); });

    signal_hide().connect([this] { m_form.setShowingSessionSettings(false); });
    m_formConnection = m_form.signalChanged().connect([this](SessionFormModel::Field field) {
        if (field == SessionFormModel::Field::ShowingSessionSettings)
            syncVisibility();
        else
            refresh();
    });
    refresh();
}

SessionSettingsSheet::~SessionSettingsSheet() {
    m_formConnection.disconnect();
}

void SessionSettingsSheet::syncVisibility() {
    if (m_form.showingSessionSettings()) {
        refresh();
        present();
        m_inputLanguage.grab_focus();
    } else if (get_visible()) {
        hide();
    }
}

void SessionSettingsSheet::refresh() {
    m_syncing = true;
    m_inputLanguage.setValue(m_form.sessionInputLanguage());
    m_outgoingLanguage.setValue(m_form.sessionOutgoingLanguage());
    m_incomingLanguage.setValue(m_form.sessionIncomingLanguage());
    m_ownMessageLanguage.setValue(m_form.sessionOwnMessageLanguage());
    m_provider.setValue(m_form.sessionProvider());
    m_proxyType.setValue(m_form.sessionProxyType());
    if (m_proxyHost.get_text() != Glib::ustring(m_form.sessionProxyHost()))
        m_proxyHost.set_text(m_form.sessionProxyHost());
    if (m_proxyPort.get_text() != Glib::ustring(m_form.sessionProxyPort()))
        m_proxyPort.set_text(m_form.sessionProxyPort());
    m_error.set_text(m_form.sessionSettingsError());
    m_error.set_visible(!m_form.sessionSettingsError().empty());
    m_syncing = false;
}

} // namespace aurelo
