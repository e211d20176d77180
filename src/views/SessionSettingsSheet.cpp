#include "views/SessionSettingsSheet.hpp"

#include "views/SheetLayout.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/grid.h>
#include <gtkmm/stringlist.h>

namespace aurelo {

namespace {

// The error line (two lines of text at most) and the buttons under the scrolling groups.
constexpr int kFooterHeight = 120;

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

SessionSettingsSheet::SessionSettingsSheet(SessionSettingsForm& form, Gtk::Window* parent)
    : FormSheet(form, parent, "账号独立设置"), m_form(form),
      m_pickers({"输入语言", "发送语言", "对方消息与语音译为", "我的已发送消息译为", "当前账号引擎",
                 "代理类型"}),
      m_proxy(form, m_pickers.proxyType,
              {"代理主机，例如 127.0.0.1", "端口，例如 7890", 12,
               "留空表示直接连接。代理只应用于当前账号的独立网页会话，保存后会重新载入该账号。"}) {
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    column->set_margin(22);
    column->set_margin_bottom(8);
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

    // A custom website's address; other platforms open their own and show no field.
    m_website = SheetLayout::labeled("网站地址", *SheetLayout::websiteAddress(m_address, m_schemeNote));
    column->append(*m_website);

    auto* languages = group(*column, "翻译语言");
    auto* grid = Gtk::make_managed<Gtk::Grid>();
    grid->set_column_spacing(12);
    grid->set_row_spacing(8);
    grid->set_column_homogeneous(true);
    grid->attach(*SheetLayout::labeled("输入语言", m_pickers.input), 0, 0);
    grid->attach(*SheetLayout::labeled("发送语言", m_pickers.outgoing), 1, 0);
    grid->attach(*SheetLayout::labeled("对方消息与语音译为", m_pickers.incoming), 0, 1);
    grid->attach(*SheetLayout::labeled("我的已发送消息译为", m_pickers.ownMessage), 1, 1);
    languages->append(*grid);
    // Checks the composer in the outgoing language and English.
    bindSwitch(m_spellChecking, "拼写检查", &SessionSettingsForm::spellChecking,
               &SessionSettingsForm::setSpellChecking);
    languages->append(*SheetLayout::labeled("拼写检查", m_spellChecking));

    group(*column, "翻译引擎")->append(*SheetLayout::labeled("当前账号引擎", m_pickers.provider));

    group(*column, "独立代理 IP")->append(m_proxy);
    bindSwitch(m_notifications, "消息通知", &SessionSettingsForm::notifications,
               &SessionSettingsForm::setNotifications);
    group(*column, "消息通知")->append(*SheetLayout::labeled("消息通知", m_notifications));
    auto* sleep = group(*column, "自动休眠");
    std::vector<Glib::ustring> labels;
    for (auto minutes : SessionSettingsForm::hibernationChoices())
        labels.emplace_back(SessionSettingsForm::hibernationLabel(minutes));
    m_hibernation.set_model(Gtk::StringList::create(labels));
    setAccessibleLabel(m_hibernation, "自动休眠");
    m_hibernation.property_selected().signal_changed().connect([this] {
        const auto choices = SessionSettingsForm::hibernationChoices();
        const guint selected = m_hibernation.get_selected();
        if (selected < choices.size() && choices[selected] != m_form.hibernateMinutes())
            m_form.setHibernateMinutes(choices[selected]);
    });
    sleep->append(*SheetLayout::labeled("自动休眠", m_hibernation));
    sleep->append(*SheetLayout::note(std::string(SessionSettingsForm::kHibernationNote)));
    // The error and the buttons stay under the groups, which scroll on a small screen.
    auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    footer->set_margin_start(22);
    footer->set_margin_end(22);
    footer->set_margin_bottom(22);
    footer->append(SheetLayout::errorLine(m_error));
    footer->append(*SheetLayout::buttonRow(m_cancel, m_save));
    auto* sheet = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    sheet->append(*sheetScroller(*column, kFooterHeight));
    sheet->append(*footer);
    set_child(*sheet);

    m_pickers.bind(m_form);
    bindEntry(m_address, m_form, &SessionSettingsForm::setAddress);
    m_proxy.portField().signal_activate().connect([this] { m_form.save(); });
    m_cancel.signal_clicked().connect([this] { dismiss(); });
    m_save.signal_clicked().connect([this] { m_form.save(); });

    followForm(m_pickers.input);
}

void SessionSettingsSheet::bindSwitch(Gtk::Switch& toggle, const Glib::ustring& name,
                                      bool (SessionSettingsForm::*get)() const,
                                      void (SessionSettingsForm::*set)(bool)) {
    toggle.set_halign(Gtk::Align::START);
    setAccessibleLabel(toggle, name);
    toggle.property_active().signal_changed().connect([this, &toggle, get, set] {
        if (toggle.get_active() != (m_form.*get)())
            (m_form.*set)(toggle.get_active());
    });
}

void SessionSettingsSheet::redraw() {
    m_pickers.show(m_form);
    m_website->set_visible(m_form.hasAddress());
    showText(m_address, m_form.address());
    SheetLayout::showError(m_schemeNote, m_form.addressNote());
    m_proxy.redraw();
    SheetLayout::showError(m_error, m_form.error());
    for (auto [toggle, on] : {std::pair{&m_spellChecking, m_form.spellChecking()},
                              std::pair{&m_notifications, m_form.notifications()}})
        if (toggle->get_active() != on)
            toggle->set_active(on);
    const auto choices = SessionSettingsForm::hibernationChoices();
    for (guint i = 0; i < choices.size(); ++i)
        if (choices[i] == m_form.hibernateMinutes() && m_hibernation.get_selected() != i)
            m_hibernation.set_selected(i);
}

} // namespace aurelo
