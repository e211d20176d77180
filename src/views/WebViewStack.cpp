#include "views/WebViewStack.hpp"

#include <gtkmm/box.h>

#include <set>

namespace aurelo {

WebViewStack::WebViewStack(ContentViewModel& model, WebEnvironment& environment)
    : m_model(model), m_environment(environment) {
    // The overlay's own child only gives the stack its size; the pages lie over it.
    auto* base = Gtk::make_managed<Gtk::Box>();
    base->set_hexpand(true);
    base->set_vexpand(true);
    set_child(*base);

    m_connections.push_back(m_model.store().signalChanged().connect(
        [this](SessionStore::Field field) {
            if (field != SessionStore::Field::UnreadCounts)
                synchronize();
        }));
    m_connections.push_back(m_model.signalChanged().connect([this](ContentViewModel::Field field) {
        using F = ContentViewModel::Field;
        if (field == F::ReloadToken || field == F::PageCommand || field == F::TextInsertion ||
            field == F::ShowAppCenter || field == F::ShowingInlineSettings)
            synchronize();
    }));
    m_connections.push_back(m_model.translationBox().signalChanged().connect(
        [this](TranslationBoxModel::Field field) {
            if (field == TranslationBoxModel::Field::TextInsertion)
                synchronize();
        }));
    m_connections.push_back(m_model.settings().signalChanged().connect(
        [this](SettingsStore::Field) { synchronize(); }));
    m_connections.push_back(m_model.preferences().signalChanged().connect(
        [this](MainWindowPreferences::Field field) {
            if (field == MainWindowPreferences::Field::DoNotDisturb)
                m_environment.doNotDisturb = m_model.preferences().doNotDisturb();
            synchronize();
        }));
    m_environment.doNotDisturb = m_model.preferences().doNotDisturb();
    synchronize();
}

WebViewStack::~WebViewStack() {
    for (auto& connection : m_connections)
        connection.disconnect();
    // When the window goes first, GTK has already taken the pages out of the disposed overlay
    // (and gtkmm has let go of it); only a stack destroyed on its own removes them here.
    if (gobj())
        for (auto& [id, page] : m_pages)
            remove_overlay(*page.view);
}

ChatWebView* WebViewStack::pageFor(const std::string& sessionID) const {
    auto it = m_pages.find(sessionID);
    return it == m_pages.end() ? nullptr : it->second.view.get();
}

void WebViewStack::updatePage(const ChatSession& session, Page& page) {
    ChatWebViewInputs inputs = m_model.webViewInputs(session);
    inputs.textInsertion = &m_model.textInsertion();
    // Only the selected page takes whole-page commands; the others see a constant "none".
    m_noCommand.reset();
    inputs.pageCommand = inputs.isActive ? &m_model.pageCommand() : &m_noCommand;
    page.view->update(inputs);

    const bool shown = m_model.isPageShown(session.id);
    page.view->set_opacity(shown ? 1.0 : 0.0);
    page.view->set_can_target(shown);
    page.view->set_can_focus(shown);
    Glib::Value<bool> hidden;
    hidden.init(hidden.value_type());
    hidden.set(!shown);
    page.view->update_state(Gtk::Accessible::State::HIDDEN, hidden);
}

void WebViewStack::synchronize() {
    const auto& sessions = m_model.store().sessions();
    std::set<std::string> present;
    for (const auto& session : sessions)
        present.insert(session.id);
    for (auto it = m_pages.begin(); it != m_pages.end();) {
        if (present.contains(it->first)) {
            ++it;
            continue;
        }
        remove_overlay(*it->second.view);
        it = m_pages.erase(it);
    }

    for (const auto& session : sessions) {
        const std::string identity = m_model.webViewIdentity(session);
        auto it = m_pages.find(session.id);
        if (it != m_pages.end() && it->second.identity != identity) {
            remove_overlay(*it->second.view);
            m_pages.erase(it);
            it = m_pages.end();
        }
        if (it == m_pages.end()) {
            ChatWebViewInputs inputs = m_model.webViewInputs(session);
            SessionStore& store = m_model.store();
            const std::string id = session.id;
            inputs.onUnreadCountChanged = [&store, id](int count) { store.setUnreadCount(count, id); };
            Page page{identity, std::make_unique<ChatWebView>(inputs, m_environment)};
            page.view->set_hexpand(true);
            page.view->set_vexpand(true);
            add_overlay(*page.view);
            it = m_pages.emplace(session.id, std::move(page)).first;
        }
        updatePage(session, it->second);
    }
}

} // namespace aurelo
