#include "views/SettingsView.hpp"

#include "viewmodels/SymbolIcons.hpp"
#include "viewmodels/TranslationLook.hpp"
#include "views/QuickReplyEditor.hpp"
#include "views/SettingsGlossaryList.hpp"
#include "views/WidgetHelpers.hpp"

#include <gtkmm/separator.h>
#include <gtkmm/viewport.h>

namespace aurelo {

namespace {

constexpr guint kNoSelection = GTK_INVALID_LIST_POSITION;

Gtk::Label* makeLabel(const Glib::ustring& text, const char* cssClass = nullptr) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->set_halign(Gtk::Align::START);
    label->set_xalign(0);
    label->set_wrap(true);
    if (cssClass)
        label->add_css_class(cssClass);
    return label;
}

// settingsCard: an icon, a title and a subtitle, then the card's content (the returned box).
Gtk::Box* settingsCard(Gtk::Box& column, std::string_view symbol, const Glib::ustring& title,
                       const Glib::ustring& subtitle) {
    auto* card = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    card->add_css_class("aurelo-settings-card");
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* icon = symbolImage(symbol, 24);
    icon->add_css_class("aurelo-gold");
    auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
    titles->append(*makeLabel(title, "aurelo-card-title"));
    titles->append(*makeLabel(subtitle, "aurelo-subtitle"));
    header->append(*icon);
    header->append(*titles);
    card->append(*header);
    column.append(*card);
    return card;
}

// settingValue: a label on the left and a value on the right.
void settingValue(Gtk::Box& card, const Glib::ustring& label, Gtk::Widget& value) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* name = makeLabel(label);
    name->set_hexpand(true);
    value.set_halign(Gtk::Align::END);
    value.set_valign(Gtk::Align::CENTER);
    row->append(*name);
    row->append(value);
    card.append(*row);
}

void settingValue(Gtk::Box& card, const Glib::ustring& label, const Glib::ustring& value) {
    auto* text = Gtk::make_managed<Gtk::Label>(value);
    text->add_css_class("dim-label");
    text->set_selectable(true);
    settingValue(card, label, *text);
}

// statusPill: green when active, the secondary colour otherwise.
void showPill(Gtk::Label& pill, const Glib::ustring& text, bool active) {
    pill.add_css_class("aurelo-pill");
    pill.set_text(text);
    if (active)
        pill.add_css_class("active");
    else
        pill.remove_css_class("active");
}

void addNote(Gtk::Box& card, const Glib::ustring& text) {
    card.append(*note(text, "aurelo-note"));
}

void fillPicker(Gtk::DropDown& picker, const std::vector<Glib::ustring>& titles,
                const Glib::ustring& name) {
    picker.set_model(Gtk::StringList::create(titles));
    setAccessibleLabel(picker, name);
}

template <typename T> guint indexOf(const std::vector<T>& values, const T& value) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == value)
            return guint(i);
    return kNoSelection;
}

std::vector<Glib::ustring> languageTitles(const std::vector<ChatLanguage>& languages) {
    std::vector<Glib::ustring> titles;
    for (auto language : languages)
        titles.emplace_back(std::string(title(language)));
    return titles;
}

const std::vector<TargetLanguage> kTargets{TargetLanguage::Automatic, TargetLanguage::English,
                                           TargetLanguage::Chinese};
const std::vector<AppAppearance> kAppearances{AppAppearance::System, AppAppearance::Light,
                                              AppAppearance::Dark};

} // namespace

SettingsView::SettingsView(SettingsStore& settings, AccountStore& account, AppLockStore& appLock,
                           NotificationCenter& notifications, QuickReplyStore* quickReplies,
                           SettingsGlossaryModel::Fetch fetchGlossary)
    : m_model(settings, account, appLock, notifications, std::move(fetchGlossary)) {
    set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    set_vexpand(true);
    set_hexpand(true);
    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 16);
    column->set_margin(24);
    column->add_css_class("aurelo-settings");
    auto* viewport = Gtk::make_managed<Gtk::Viewport>(Glib::RefPtr<Gtk::Adjustment>(),
                                                      Glib::RefPtr<Gtk::Adjustment>());
    // Tabbing to a control below the fold brings it into view.
    viewport->set_scroll_to_focus(true);
    viewport->set_child(*column);
    set_child(*viewport);

    m_connections.push_back(m_model.settings().signalChanged().connect(
        [this](SettingsStore::Field field) { showSettings(field); }));
    m_connections.push_back(
        m_model.account().signalChanged().connect([this](AccountStore::Field field) {
            if (field == AccountStore::Field::AvailableEngines)
                showProviders();
            if (field == AccountStore::Field::EngineListError ||
                field == AccountStore::Field::IsLoggedIn)
                showEngineListError();
            if (field == AccountStore::Field::Username || field == AccountStore::Field::IsLoggedIn)
                showAccount();
        }));
    m_connections.push_back(
        m_model.appLock().signalChanged().connect([this](AppLockStore::Field) { showLock(); }));
    m_connections.push_back(m_model.signalChanged().connect([this](SettingsViewModel::Field field) {
        if (field == SettingsViewModel::Field::NotificationStatus)
            showNotifications();
        else
            showLockFields();
    }));

    engineCard(*column);
    languageCard(*column);
    if (quickReplies)
        quickReplyCard(*column, *quickReplies);
    glossaryCard(*column);
    notificationCard(*column);
    appearanceCard(*column);
    accountCard(*column);
    lockCard(*column);

    showProviders();
    for (auto field :
         {SettingsStore::Field::StatusMessage, SettingsStore::Field::ConnectionStatus,
          SettingsStore::Field::InputLanguage, SettingsStore::Field::OutgoingLanguage,
          SettingsStore::Field::IncomingLanguage, SettingsStore::Field::PreferredTarget,
          SettingsStore::Field::AutomaticMessageTranslation, SettingsStore::Field::Appearance,
          SettingsStore::Field::RenderingMode, SettingsStore::Field::PageMemoryLimit,
          SettingsStore::Field::QuietHours})
        showSettings(field);
    showNotifications();
    showAccount();
    showEngineListError();
    showLock();
    m_model.start();
}

SettingsView::~SettingsView() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

void SettingsView::quickReplyCard(Gtk::Box& column, QuickReplyStore& replies) {
    auto& card = *settingsCard(column, "ellipsis.bubble.fill", "常用语",
                               "常用回复：选一条，翻译成对方的语言后填入对话");
    card.append(*Gtk::make_managed<QuickReplyEditor>(replies));
}

void SettingsView::glossaryCard(Gtk::Box& column) {
    auto& card = *settingsCard(column, "character.book.closed.fill", "术语表",
                               "管理员设定的术语：各翻译引擎都按此处理品牌、产品名和固定用语");
    card.append(*Gtk::make_managed<SettingsGlossaryList>(m_model.glossary()));
}

void SettingsView::engineCard(Gtk::Box& column) {
    auto& card =
        *settingsCard(column, "bolt.horizontal.circle.fill", "翻译引擎", "选择系统提供的翻译服务");
    setAccessibleLabel(m_provider, "服务商");
    m_provider.property_selected().signal_changed().connect([this] {
        const guint selected = m_provider.get_selected();
        if (m_syncing || selected >= m_providerChoices.size())
            return;
        m_model.chooseProvider(m_providerChoices[selected].provider);
    });
    auto* providerValue = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_providerFallback.add_css_class("aurelo-subtitle");
    providerValue->append(m_providerFallback);
    providerValue->append(m_provider);
    settingValue(card, "服务商", *providerValue);
    // Why the choice above may be stale or empty: the engine list could not be read.
    m_engineListError.add_css_class("aurelo-error");
    m_engineListError.set_xalign(0);
    m_engineListError.set_wrap(true);
    m_engineListError.set_selectable(true);
    m_engineListError.set_visible(false);
    card.append(m_engineListError);
    addNote(card, "API Key 由管理员在网站后台维护，软件不会显示或保存密钥。");

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* refresh = Gtk::make_managed<Gtk::Button>();
    setIconButtonContent(*refresh, "arrow.clockwise", "刷新可用引擎");
    refresh->signal_clicked().connect([this] { m_model.refreshEngines(); });
    m_validate.set_label("验证后台翻译服务");
    m_validate.add_css_class("aurelo-primary");
    setAccessibleLabel(m_validate, "验证后台翻译服务");
    m_validate.signal_clicked().connect([this] { m_model.validate(); });
    buttons->append(*refresh);
    buttons->append(m_validate);
    card.append(*buttons);

    auto* status = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    status->add_css_class("aurelo-status-line");
    m_statusMessage.set_xalign(0);
    m_statusMessage.set_wrap(true);
    status->append(m_statusIcon);
    status->append(m_statusMessage);
    card.append(*status);
}

void SettingsView::languageCard(Gtk::Box& column) {
    auto& card = *settingsCard(column, "character.book.closed.fill", "语言与翻译",
                               "分别设置发送、接收和独立翻译框");
    struct LanguagePickerBinding {
        Gtk::DropDown& picker;
        LanguagePicker kind;
        const char* name;
        void (SettingsViewModel::*choose)(ChatLanguage);
    };
    const LanguagePickerBinding pickers[] = {
        {m_inputLanguage, LanguagePicker::Input, "我的输入语言",
         &SettingsViewModel::chooseInputLanguage},
        {m_outgoingLanguage, LanguagePicker::Outgoing, "发送给客户",
         &SettingsViewModel::chooseOutgoingLanguage},
        {m_incomingLanguage, LanguagePicker::Incoming, "客户消息与语音译为",
         &SettingsViewModel::chooseIncomingLanguage},
    };
    for (const auto& binding : pickers) {
        const auto languages = pickerLanguages(binding.kind);
        fillPicker(binding.picker, languageTitles(languages), binding.name);
        binding.picker.property_selected().signal_changed().connect(
            [this, &picker = binding.picker, languages, choose = binding.choose] {
                const guint selected = picker.get_selected();
                if (!m_syncing && selected < languages.size())
                    (m_model.*choose)(languages[selected]);
            });
        settingValue(card, binding.name, binding.picker);
    }
    addNote(card, "文字与语音可使用不同于输入语言的目标语言；语音会同时显示原文和译文。");

    std::vector<Glib::ustring> targets;
    for (auto target : kTargets)
        targets.emplace_back(std::string(title(target)));
    fillPicker(m_target, targets, "目标语言");
    m_target.property_selected().signal_changed().connect([this] {
        const guint selected = m_target.get_selected();
        if (!m_syncing && selected < kTargets.size())
            m_model.choosePreferredTarget(kTargets[selected]);
    });
    settingValue(card, "目标语言", m_target);

    setAccessibleLabel(m_automaticTranslation, "打开发送前自动翻译");
    m_automaticTranslation.property_active().signal_changed().connect([this] {
        if (!m_syncing)
            m_model.chooseAutomaticMessageTranslation(m_automaticTranslation.get_active());
    });
    settingValue(card, "打开发送前自动翻译", m_automaticTranslation);
    addNote(card, "客户发来的文字与语音始终支持翻译；关闭后仅停止发送前自动翻译。");
}

void SettingsView::notificationCard(Gtk::Box& column) {
    auto& card = *settingsCard(column, "bell.badge.fill", "消息通知", "接收新消息与重要状态提醒");
    settingValue(card, "通知权限", m_notificationPill);
    m_notificationButton.set_halign(Gtk::Align::START);
    m_notificationButton.signal_clicked().connect(
        [this] { m_model.requestNotificationPermission(); });
    card.append(m_notificationButton);
    // Desktop notifications are shown by the desktop's notification service and managed in its
    // own settings; there is no list that an application joins on first use.
    addNote(card, "通知由桌面的通知服务显示，可在桌面的“设置 → 通知”中管理 Aurelo翻译器的提醒。");

    std::vector<Glib::ustring> clocks;
    for (int minute = 0; minute < QuietHours::kMinutesPerDay; minute += QuietHours::kStepMinutes)
        clocks.emplace_back(QuietHours::clockText(minute));
    fillPicker(m_quietFrom, clocks, "勿扰开始时间");
    fillPicker(m_quietTo, clocks, "勿扰结束时间");
    setAccessibleLabel(m_quietHours, "定时勿扰");
    m_quietHours.set_valign(Gtk::Align::CENTER);
    auto choose = [this] {
        if (m_syncing)
            return;
        m_model.settings().setQuietHours(
            {m_quietHours.get_active(),
             static_cast<int>(m_quietFrom.get_selected()) * QuietHours::kStepMinutes,
             static_cast<int>(m_quietTo.get_selected()) * QuietHours::kStepMinutes});
    };
    m_quietHours.property_active().signal_changed().connect(choose);
    m_quietFrom.property_selected().signal_changed().connect(choose);
    m_quietTo.property_selected().signal_changed().connect(choose);
    settingValue(card, "定时勿扰", m_quietHours);
    settingValue(card, "开始时间", m_quietFrom);
    settingValue(card, "结束时间", m_quietTo);
    addNote(card, "每天在这段时间内自动开启勿扰，可跨越午夜（如 22:00 至 08:00）。");
}

template <typename T>
void SettingsView::choiceRow(Gtk::Box& card, Gtk::DropDown& picker, const char* name,
                             const std::vector<T>& (*values)(), std::string (*label)(T),
                             void (SettingsViewModel::*choose)(T)) {
    std::vector<Glib::ustring> labels;
    for (auto value : values())
        labels.emplace_back(label(value));
    fillPicker(picker, labels, name);
    picker.property_selected().signal_changed().connect([this, &picker, values, choose] {
        const guint selected = picker.get_selected();
        if (!m_syncing && selected < values().size())
            (m_model.*choose)(values()[selected]);
    });
    settingValue(card, name, picker);
}

void SettingsView::appearanceCard(Gtk::Box& column) {
    auto& card =
        *settingsCard(column, "paintpalette.fill", "外观", "选择最适合当前工作环境的显示方式");
    std::vector<Glib::ustring> labels;
    for (auto appearance : kAppearances)
        labels.emplace_back(SettingsViewModel::appearanceLabel(appearance));
    fillPicker(m_appearance, labels, "颜色模式");
    m_appearance.property_selected().signal_changed().connect([this] {
        const guint selected = m_appearance.get_selected();
        if (!m_syncing && selected < kAppearances.size())
            m_model.chooseAppearance(kAppearances[selected]);
    });
    settingValue(card, "颜色模式", m_appearance);
    addNote(card, "默认跟随系统外观，也可以固定为浅色或深色模式。");

    choiceRow(card, m_renderingMode, "渲染方式", &SettingsViewModel::renderingModes,
              &SettingsViewModel::renderingModeLabel, &SettingsViewModel::chooseRenderingMode);
    addNote(card,
            "自动：在没有显卡加速的电脑、虚拟机和远程桌面上以软件绘制页面，账号多时明显节省内存；"
            "有显卡时使用显卡加速。更改在下次启动时生效。");

    choiceRow(card, m_pageMemoryLimit, "页面内存上限", &SettingsViewModel::pageMemoryLimits,
              &SettingsViewModel::pageMemoryLimitLabel, &SettingsViewModel::choosePageMemoryLimit);
    addNote(card, "每个账号的网页最多可用的内存。自动：按本机内存和打开的账号数分配。"
                  "后台页面超过上限时自动重新加载，正在查看的页面只提示，不会自动刷新。");
}

void SettingsView::accountCard(Gtk::Box& column) {
    auto& card =
        *settingsCard(column, "lock.shield.fill", "账号与隐私", "登录信息和敏感配置受到隔离保护");
    m_loggedIn.set_halign(Gtk::Align::START);
    card.append(m_loggedIn);
    m_username.add_css_class("dim-label");
    settingValue(card, "当前账号", m_username);
    settingValue(card, "登录数据", "每个账号本机隔离");
    settingValue(card, "API Key", "仅由后台加密维护");
    addNote(card, "软件不会在前台显示管理员 API Key；账号登录数据、语言和代理配置彼此隔离。");
    m_logout.set_label("退出登录");
    m_logout.add_css_class("destructive-action");
    m_logout.set_halign(Gtk::Align::START);
    setAccessibleLabel(m_logout, "退出登录");
    m_logout.signal_clicked().connect([this] { m_model.logout(); });
    card.append(m_logout);
}

void SettingsView::lockCard(Gtk::Box& column) {
    auto& card =
        *settingsCard(column, "key.fill", "个人锁屏密码", "每位软件账号拥有自己的聊天解锁密码");
    settingValue(card, "当前状态", m_lockPill);
    struct FieldBinding {
        Gtk::PasswordEntry& field;
        const char* placeholder;
        void (SettingsViewModel::*set)(std::string);
    };
    const FieldBinding fields[] = {
        {m_currentPassword, "当前锁屏密码", &SettingsViewModel::setCurrentLockPassword},
        {m_newPassword, "新密码（至少 4 个字符）", &SettingsViewModel::setNewLockPassword},
        {m_confirmPassword, "再次输入新密码", &SettingsViewModel::setConfirmLockPassword},
    };
    for (const auto& binding : fields) {
        binding.field.set_property("placeholder-text", Glib::ustring(binding.placeholder));
        binding.field.set_show_peek_icon(true);
        setAccessibleLabel(binding.field, binding.placeholder);
        binding.field.signal_changed().connect([this, &field = binding.field, set = binding.set] {
            if (!m_syncing)
                (m_model.*set)(field.get_text());
        });
        onPasswordActivate(binding.field, [this] { m_lockButton.activate(); });
        card.append(binding.field);
    }
    m_lockMessage.set_xalign(0);
    m_lockMessage.set_wrap(true);
    card.append(m_lockMessage);
    addNote(card, "该密码只用于隐藏和解锁本机聊天界面，不会修改软件登录密码或后台管理员密码。");
    m_lockButton.set_halign(Gtk::Align::START);
    m_lockButton.signal_clicked().connect([this] { m_model.saveLockPassword(); });
    card.append(m_lockButton);
}

void SettingsView::showSettings(SettingsStore::Field field) {
    using F = SettingsStore::Field;
    SettingsStore& settings = m_model.settings();
    m_syncing = true;
    switch (field) {
    case F::Provider: {
        const auto index = m_model.selectedProviderIndex();
        m_provider.set_selected(index.value_or(kNoSelection));
        m_provider.set_visible(!m_providerChoices.empty());
        m_providerFallback.set_text(std::string(displayName(settings.provider())));
        m_providerFallback.set_visible(!index);
        break;
    }
    case F::StatusMessage:
        m_statusMessage.set_text(settings.statusMessage());
        // Selectable for copying an error, but an empty line is no place for the focus to stop.
        m_statusMessage.set_selectable(!settings.statusMessage().empty());
        break;
    case F::ConnectionStatus: {
        const auto& status = settings.connectionStatus();
        m_statusIcon.set_from_icon_name(symbolIconName(SettingsViewModel::statusSymbol(status)));
        if (status.kind() == ProviderConnectionStatus::Kind::Connected)
            m_statusIcon.add_css_class("aurelo-success");
        else
            m_statusIcon.remove_css_class("aurelo-success");
        m_validate.set_sensitive(m_model.canValidate());
        break;
    }
    case F::InputLanguage:
        m_inputLanguage.set_selected(
            indexOf(pickerLanguages(LanguagePicker::Input), settings.inputLanguage()));
        break;
    case F::OutgoingLanguage:
        m_outgoingLanguage.set_selected(
            indexOf(pickerLanguages(LanguagePicker::Outgoing), settings.outgoingLanguage()));
        break;
    case F::IncomingLanguage:
        m_incomingLanguage.set_selected(
            indexOf(pickerLanguages(LanguagePicker::Incoming), settings.incomingLanguage()));
        break;
    case F::PreferredTarget:
        m_target.set_selected(indexOf(kTargets, settings.preferredTarget()));
        break;
    case F::AutomaticMessageTranslation:
        m_automaticTranslation.set_active(settings.automaticMessageTranslation());
        break;
    case F::Appearance:
        m_appearance.set_selected(indexOf(kAppearances, settings.appearance()));
        break;
    case F::RenderingMode:
        m_renderingMode.set_selected(
            indexOf(SettingsViewModel::renderingModes(), settings.renderingMode()));
        break;
    case F::PageMemoryLimit:
        m_pageMemoryLimit.set_selected(
            indexOf(SettingsViewModel::pageMemoryLimits(), settings.pageMemoryLimit()));
        break;
    case F::QuietHours: {
        const QuietHours& hours = settings.quietHours();
        m_quietHours.set_active(hours.enabled);
        m_quietFrom.set_selected(static_cast<guint>(hours.fromMinute / QuietHours::kStepMinutes));
        m_quietTo.set_selected(static_cast<guint>(hours.toMinute / QuietHours::kStepMinutes));
        m_quietFrom.set_sensitive(hours.enabled);
        m_quietTo.set_sensitive(hours.enabled);
        break;
    }
    default:
        break;
    }
    m_syncing = false;
}

void SettingsView::showProviders() {
    m_syncing = true;
    m_providerChoices = m_model.providerChoices();
    std::vector<Glib::ustring> labels;
    for (const auto& engine : m_providerChoices)
        labels.emplace_back(engine.label);
    m_providerNames->splice(0, m_providerNames->get_n_items(), labels);
    m_syncing = false;
    showSettings(SettingsStore::Field::Provider);
}

void SettingsView::showNotifications() {
    showPill(m_notificationPill, m_model.notificationStatus(), m_model.notificationAuthorized());
    m_notificationButton.set_label(m_model.notificationButtonTitle());
    setAccessibleLabel(m_notificationButton, m_model.notificationButtonTitle());
}

void SettingsView::showEngineListError() {
    // Only a logged-in account has an engine list to read; the login view shows its own errors.
    const auto& error = m_model.account().engineListError();
    m_engineListError.set_text(error);
    m_engineListError.set_visible(m_model.account().isLoggedIn() && !error.empty());
}

void SettingsView::showAccount() {
    // The settings window can be opened from the login view too; it must not claim a login then.
    const bool loggedIn = m_model.account().isLoggedIn();
    showPill(m_loggedIn, loggedIn ? "已登录" : "未登录", loggedIn);
    m_logout.set_sensitive(loggedIn);
    m_username.set_text(m_model.account().username());
    // Selectable for copying, but an empty line is no place for the focus to stop.
    m_username.set_selectable(!m_model.account().username().empty());
}

void SettingsView::showLock() {
    const bool hasPassword = m_model.appLock().hasPassword();
    showPill(m_lockPill, m_model.lockStatusText(), hasPassword);
    m_currentPassword.set_visible(hasPassword);
    showStatusLine(m_lockMessage, m_model.appLock().message(), m_model.appLock().messageIsError());
    m_lockButton.set_label(m_model.lockButtonTitle());
    setAccessibleLabel(m_lockButton, m_model.lockButtonTitle());
}

void SettingsView::showLockFields() {
    // Only a successful save clears the fields; otherwise they already hold what was typed.
    m_syncing = true;
    const std::pair<Gtk::PasswordEntry*, const std::string*> fields[] = {
        {&m_currentPassword, &m_model.currentLockPassword()},
        {&m_newPassword, &m_model.newLockPassword()},
        {&m_confirmPassword, &m_model.confirmLockPassword()},
    };
    for (auto [field, text] : fields)
        if (field->get_text().raw() != *text)
            field->set_text(*text);
    m_syncing = false;
}

} // namespace aurelo
