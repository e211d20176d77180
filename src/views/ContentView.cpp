#include "views/ContentView.hpp"

#include "views/AppCenter.hpp"
#include "views/CaptionStrip.hpp"
#include "views/FocusLayoutButton.hpp"
#include "views/NewAccountSheet.hpp"
#include "views/QuickReplyButton.hpp"
#include "views/QuickSettingsStrip.hpp"
#include "views/SessionBar.hpp"
#include "views/SessionSettingsSheet.hpp"
#include "views/SettingsPanel.hpp"
#include "views/SheetLayout.hpp"
#include "views/Sidebar.hpp"
#include "views/TranslationBox.hpp"
#include "views/WebsiteDialog.hpp"

#include "views/WidgetHelpers.hpp"

#include <glibmm/main.h>
#include <gtkmm/applicationwindow.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/separator.h>

namespace aurelo {

namespace {

Gtk::Button* addButton(Gtk::Box& row, const Glib::ustring& label, bool primary = false) {
    auto* button = Gtk::make_managed<Gtk::Button>(label);
    if (primary)
        button->add_css_class("aurelo-primary");
    row.append(*button);
    return button;
}

} // namespace

ContentView::ContentView(ContentViewModel& model, WebEnvironment& environment, LogoCache& logos,
                         QuickReplyStore& quickReplies, std::function<void()> restart,
                         std::function<void()> quit)
    : m_model(model), m_logos(logos),
      m_captions(environment.translationService,
                 [&model] { return model.settings().configuration(model.settings().provider()); }),
      m_quickReplies(quickReplies, model, environment.translationService),
      m_updates(std::move(quit)), m_lockScreen(model) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    row->append(*Gtk::make_managed<Sidebar>(model, logos));

    auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    column->set_hexpand(true);
    auto* sessionBar = Gtk::make_managed<SessionBar>(model, logos, std::move(restart),
                                                     [this] { addCurrentPlatformSession(); });
    column->append(*sessionBar);
    auto* captions = Gtk::make_managed<CaptionStrip>(m_captions);
    sessionBar->addToolbarItem(captions->startButton());
    column->append(*Gtk::make_managed<QuickSettingsStrip>(model));

    m_pages = Gtk::make_managed<WebViewStack>(model, environment);
    m_content.set_child(*m_pages);
    m_content.set_vexpand(true);
    m_content.set_hexpand(true);

    auto* empty = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    empty->add_css_class("aurelo-empty-state");
    empty->set_valign(Gtk::Align::CENTER);
    auto* emptyIcon = Gtk::make_managed<Gtk::Image>();
    emptyIcon->set_from_icon_name("mail-unread-symbolic");
    emptyIcon->set_pixel_size(48);
    empty->append(*emptyIcon);
    empty->append(*Gtk::make_managed<Gtk::Label>("请选择会话"));
    m_emptyState = empty;
    m_content.add_overlay(*empty);

    auto* appCenter = Gtk::make_managed<AppCenter>(
        logos, [this](const PlatformEntry& entry) { addPlatform(entry); });
    appCenter->add_css_class("background");
    m_appCenter = appCenter;
    m_content.add_overlay(*appCenter);

    auto* settings = Gtk::make_managed<SettingsPanel>(
        model.settings(), model.account(), model.appLock(), m_notifications,
        [this] { m_model.closePanels(); }, &quickReplies);
    m_updateButton = &settings->updateButton();
    m_updateButton->signal_clicked().connect([this] { m_updates.checkForUpdates(); });
    m_settingsPanel = settings;
    m_content.add_overlay(*settings);

    // Captions dock beside the pages: a chat needs its height more than its width.
    auto* pageRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    pageRow->append(m_content);
    pageRow->append(*captions);
    column->append(*pageRow);
    auto* divider = Gtk::make_managed<Gtk::Separator>();
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    auto* translationBox = Gtk::make_managed<TranslationBox>(model.translationBox());
    translationBox->set_hexpand(true);
    auto* quickReplyButton = Gtk::make_managed<QuickReplyButton>(m_quickReplies);
    quickReplyButton->set_valign(Gtk::Align::START);
    quickReplyButton->set_margin_top(6);
    quickReplyButton->set_margin_end(12);
    box->append(*translationBox);
    box->append(*quickReplyButton);
    auto showBox = [this, divider, box] {
        const bool shown = m_model.preferences().layout().translationBox;
        divider->set_visible(shown);
        box->set_visible(shown);
    };
    column->append(*divider);
    column->append(*box);
    showBox();
    m_connections.push_back(m_model.preferences().signalChanged().connect(
        [this, showBox](MainWindowPreferences::Field field) {
            if (field == MainWindowPreferences::Field::ShowTranslationBox ||
                field == MainWindowPreferences::Field::FocusLayout)
                showBox();
            if (field == MainWindowPreferences::Field::FocusLayout &&
                m_model.preferences().focusLayout())
                focusPageSoon();
        }));
    row->append(*column);
    set_child(*row);
    m_underLock = row;

    add_overlay(m_lockScreen);
    // Ctrl+Shift+1…9 put the first nine phrases, translated, into the selected account.
    addQuickReplyShortcuts(*this, m_quickReplies, [this] { return m_model.appLocked(); });
    FocusLayoutButton::addShortcut(*this, m_model.preferences(),
                                   [this] { return m_model.appLocked(); });
    // One notification per account, replaced when the same account breaks again.
    m_connections.push_back(m_model.health().signalNotification().connect(
        [this](const std::string& sessionID, const std::string& title, const std::string& body) {
            auto& notice = m_healthNotices[sessionID];
            if (!notice)
                notice = std::make_unique<ApplicationNotice>("account-health-" + sessionID);
            notice->show(title, body);
        }));

    m_connections.push_back(
        m_model.signalChanged().connect([this](ContentViewModel::Field field) { bind(field); }));
    m_connections.push_back(m_model.store().signalChanged().connect(
        [this](SessionStore::Field) { updateContentLayers(); }));
    m_connections.push_back(m_updates.signalChanged().connect([this] {
        refreshUpdateButton();
        syncUpdateAlert();
    }));
    refreshUpdateButton();
    updateContentLayers();
    m_lockScreen.set_visible(false);
    m_model.appear();
}

ContentView::~ContentView() {
    for (auto& connection : m_connections)
        connection.disconnect();
    m_lockSetupMessage.disconnect();
    // The page refers to m_notifications, which goes before the child widgets do.
    m_settingsPanel->setShown(false);
}

void ContentView::applyLock() {
    const bool locked = m_model.appLocked();
    // Covering the window is not enough: the keyboard still walks the focus chain under an
    // overlay, so Tab would reach the toolbar and the pages and Space would press what it found.
    // An insensitive subtree takes neither focus nor key and pointer events (GTK swallows them
    // at the first insensitive ancestor), and that includes the web views and what their pages
    // try to focus. The window's menu bar sits outside this view; it goes while locked as well.
    m_underLock->set_sensitive(!locked);
    m_underLock->set_can_focus(!locked);
    if (auto* applicationWindow = dynamic_cast<Gtk::ApplicationWindow*>(get_root()))
        applicationWindow->set_show_menubar(!locked);
    m_lockScreen.set_visible(locked);
    if (locked)
        m_lockScreen.prepare();
}

void ContentView::focusPageSoon() {
    // After every panel has followed the change: the keyboard may have been in one that went.
    Glib::signal_idle().connect_once([this, cancellation = m_cancellable.token()] {
        if (cancellation.isCancelled())
            return;
        auto* root = window();
        auto* focus = root ? root->get_focus() : nullptr;
        if (!focus || !focus->is_ancestor(m_content))
            m_content.child_focus(Gtk::DirectionType::TAB_FORWARD);
    });
}

Gtk::Window* ContentView::window() {
    return dynamic_cast<Gtk::Window*>(get_root());
}

void ContentView::updateContentLayers() {
    m_appCenter->set_visible(m_model.showAppCenter());
    m_settingsPanel->set_visible(!m_model.showAppCenter() && m_model.showingInlineSettings());
    m_settingsPanel->setShown(m_settingsPanel->get_visible());
    m_emptyState->set_visible(m_model.store().sessions().empty() && !m_model.showAppCenter() &&
                              !m_model.showingInlineSettings());
}

void ContentView::bind(ContentViewModel::Field field) {
    using F = ContentViewModel::Field;
    switch (field) {
    case F::ShowAppCenter:
    case F::ShowingInlineSettings:
        updateContentLayers();
        break;
    case F::AppLocked:
        applyLock();
        break;
    case F::ShowingRename:
        if (m_model.showingRename())
            showRenameDialog();
        break;
    case F::PendingDeleteSession:
        if (m_model.pendingDeleteSession())
            showDeleteDialog();
        break;
    case F::ShowingAddSession:
    case F::ShowingAddWebsite:
    case F::ShowingSessionSettings:
        showAccountSheet(field);
        break;
    case F::ShowingLockSetup:
        if (m_model.showingLockSetup())
            showLockSetupDialog();
        else if (m_dialog)
            m_dialog->hide();
        break;
    default:
        break;
    }
}

void ContentView::showRenameDialog() {
    Gtk::Box *body = nullptr, *buttons = nullptr;
    const std::string title = m_model.renameTitle();
    m_dialog = makeSheet(window(), title, body, buttons);
    auto* heading = Gtk::make_managed<Gtk::Label>(title);
    heading->add_css_class("aurelo-title");
    auto* entry = Gtk::make_managed<Gtk::Entry>();
    entry->set_placeholder_text("例如：王磊客户");
    setAccessibleLabel(*entry, Glib::ustring("名称"));
    entry->set_text(m_model.renameText());
    auto* error = Gtk::make_managed<Gtk::Label>();
    auto showError = [this, error, entry] {
        SheetLayout::showFieldError(*error, *entry, m_model.renameError());
    };
    SheetLayout::errorLine(*error);
    showError();
    entry->signal_changed().connect([this, entry, showError] {
        m_model.setRenameText(entry->get_text());
        showError();
    });
    body->append(*heading);
    body->append(*entry);
    body->append(*error);
    auto* dialog = m_dialog.get();
    addButton(*buttons, "取消")->signal_clicked().connect([this, dialog] {
        m_model.cancelRename();
        dialog->hide();
    });
    auto* save = addButton(*buttons, "保存", true);
    save->signal_clicked().connect([this, dialog] {
        m_model.saveRename();
        if (!m_model.showingRename())
            dialog->hide();
    });
    entry->signal_activate().connect([save] { save->activate(); });
    m_dialog->signal_hide().connect([this] { m_model.cancelRename(); });
    m_dialog->present();
}

void ContentView::showDeleteDialog() {
    auto dialog = std::make_unique<Gtk::MessageDialog>(m_model.deleteConfirmationTitle(), false,
                                                       Gtk::MessageType::QUESTION,
                                                       Gtk::ButtonsType::NONE, true);
    if (auto* parent = window())
        dialog->set_transient_for(*parent);
    dialog->set_secondary_text("删除后将关闭这个独立页面。为避免误触，请再次确认。");
    dialog->add_button("取消", Gtk::ResponseType::CANCEL);
    auto* confirm = dialog->add_button("删除多开账号", Gtk::ResponseType::OK);
    confirm->add_css_class("destructive-action");
    dialog->set_default_response(Gtk::ResponseType::CANCEL);
    dialog->signal_response().connect([this](int response) {
        if (response == Gtk::ResponseType::OK)
            m_model.confirmDelete();
        else
            m_model.cancelDelete();
        if (m_dialog)
            m_dialog->hide();
    });
    m_dialog = std::move(dialog);
    m_dialog->present();
}

void ContentView::showLockSetupDialog() {
    Gtk::Box *body = nullptr, *buttons = nullptr;
    m_dialog = makeSheet(window(), "设置个人锁屏密码", body, buttons);
    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("security-high-symbolic");
    icon->set_pixel_size(40);
    auto* heading = Gtk::make_managed<Gtk::Label>("设置个人锁屏密码");
    heading->add_css_class("aurelo-title");
    auto* note = Gtk::make_managed<Gtk::Label>("首次使用锁屏前必须设置，密码仅属于当前软件账号。");
    note->add_css_class("aurelo-subtitle");
    note->set_wrap(true);
    auto* password = Gtk::make_managed<Gtk::PasswordEntry>();
    password->set_property("placeholder-text", Glib::ustring("输入新密码（至少 4 个字符）"));
    setAccessibleLabel(*password, Glib::ustring("新密码"));
    auto* confirmation = Gtk::make_managed<Gtk::PasswordEntry>();
    confirmation->set_property("placeholder-text", Glib::ustring("再次输入新密码"));
    setAccessibleLabel(*confirmation, Glib::ustring("再次输入新密码"));
    auto* message = Gtk::make_managed<Gtk::Label>();
    message->add_css_class("aurelo-error");
    message->set_visible(false);
    for (Gtk::Widget* widget :
         std::initializer_list<Gtk::Widget*>{icon, heading, note, password, confirmation, message})
        body->append(*widget);
    auto* dialog = m_dialog.get();
    addButton(*buttons, "取消")->signal_clicked().connect([this] { m_model.cancelLockSetup(); });
    auto* save = addButton(*buttons, "保存并锁屏", true);
    auto showMessage = [this, message] {
        showStatusLine(*message, m_model.appLock().message(), m_model.appLock().messageIsError());
    };
    save->signal_clicked().connect([this, password, confirmation, showMessage] {
        if (!m_model.saveLockSetup(password->get_text(), confirmation->get_text()))
            showMessage();
    });
    m_lockSetupMessage.disconnect();
    m_lockSetupMessage =
        m_model.appLock().signalChanged().connect([showMessage](AppLockStore::Field field) {
            if (field == AppLockStore::Field::Message)
                showMessage();
        });
    message->signal_destroy().connect([this] { m_lockSetupMessage.disconnect(); });
    onPasswordActivate(*confirmation, [save] { save->activate(); });
    dialog->signal_hide().connect([this] { m_model.cancelLockSetup(); });
    m_dialog->present();
}

void ContentView::refreshUpdateButton() {
    std::string title = m_updates.buttonTitle();
    if (auto progress = m_updates.downloadProgress())
        title += " " + std::to_string(int(*progress * 100)) + "%";
    m_settingsPanel->setUpdateTitle(title);
    m_updateButton->set_sensitive(!m_updates.isBusy());
}

void ContentView::syncUpdateAlert() {
    using Step = UpdateAlertPresenter::Step;
    switch (m_updateAlertPresenter.next(m_updates.showingAlert(), m_updates.alert())) {
    case Step::None:
        break;
    case Step::Open:
        showUpdateAlert();
        break;
    case Step::Refresh:
        if (m_updateAlert) {
            const UpdateAlert alert = m_updates.alert();
            m_updateAlert->set_message(alert.title);
            m_updateAlert->set_secondary_text(alert.message);
        }
        break;
    case Step::Rebuild:
        retireUpdateAlert();
        showUpdateAlert();
        break;
    case Step::Close:
        retireUpdateAlert();
        break;
    }
}

void ContentView::retireUpdateAlert() {
    if (!m_updateAlert)
        return;
    m_updateAlert->hide();
    m_retiredAlerts.push_back(std::move(m_updateAlert));
    // The next idle turn may come after this view is gone.
    Glib::signal_idle().connect_once([this, cancellation = m_cancellable.token()] {
        if (cancellation.isCancelled())
            return;
        m_retiredAlerts.clear();
    });
}

void ContentView::showUpdateAlert() {
    const UpdateAlert alert = m_updates.alert();
    auto dialog = std::make_unique<Gtk::MessageDialog>(alert.title, false, Gtk::MessageType::INFO,
                                                       Gtk::ButtonsType::NONE, true);
    if (auto* parent = window())
        dialog->set_transient_for(*parent);
    dialog->set_secondary_text(alert.message);
    for (std::size_t i = 0; i < alert.buttons.size(); ++i)
        dialog->add_button(alert.buttons[i].label, int(i));
    dialog->set_default_response(0);
    dialog->signal_response().connect([this, buttons = alert.buttons](int response) {
        // Closing the alert any other way is the cancel button.
        const auto action = response >= 0 && std::size_t(response) < buttons.size()
                                ? buttons[std::size_t(response)].action
                                : UpdateAlertAction::Dismiss;
        m_updateAlertPresenter.closed();
        retireUpdateAlert();
        m_updates.chooseAlertAction(action);
    });
    m_updateAlert = std::move(dialog);
    m_updateAlert->present();
}

void ContentView::addPlatform(const PlatformEntry& entry) {
    m_model.addPlatform(entry);
}

void ContentView::addCurrentPlatformSession() {
    m_model.newSessionForm().beginForCurrentPlatform();
}

void ContentView::showAccountSheet(ContentViewModel::Field field) {
    using F = ContentViewModel::Field;
    if (field == F::ShowingAddSession && m_model.showingAddSession() && !m_newAccountSheet) {
        m_newAccountSheet = std::make_unique<NewAccountSheet>(m_model.newSessionForm(), window());
        m_newAccountSheet->syncVisibility();
    } else if (field == F::ShowingAddWebsite && m_model.showingAddWebsite() && !m_websiteDialog) {
        m_websiteDialog = std::make_unique<WebsiteDialog>(m_model.websiteForm(), window());
        m_websiteDialog->syncVisibility();
    } else if (field == F::ShowingSessionSettings && m_model.showingSessionSettings() &&
               !m_sessionSettingsSheet) {
        m_sessionSettingsSheet =
            std::make_unique<SessionSettingsSheet>(m_model.sessionSettingsForm(), window());
        m_sessionSettingsSheet->syncVisibility();
    }
}

} // namespace aurelo
