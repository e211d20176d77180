#include "views/WebViewStack.hpp"

#include <glibmm/main.h>
#include <gtkmm/box.h>

#include <algorithm>

namespace aurelo {

WebViewStack::WebViewStack(ContentViewModel& model, WebEnvironment& environment)
    : m_content(model), m_model(model), m_environment(environment) {
    // The overlay's own child only gives the stack its size; the pages lie over it.
    auto* base = Gtk::make_managed<Gtk::Box>();
    base->set_hexpand(true);
    base->set_vexpand(true);
    set_child(*base);

    m_modelConnection = m_model.signalChanged().connect([this] { synchronize(); });
    m_memoryReloadConnection =
        model.memory().signalReload().connect([this](const std::string& sessionID) {
            if (auto* page = pageFor(sessionID))
                page->reload();
        });
    m_memoryOfferConnection =
        model.memory().signalChanged().connect([this](const std::string& sessionID) {
            if (auto* page = pageFor(sessionID))
                page->setMemoryOffer(m_content.memory().offer(sessionID));
        });
    constexpr unsigned kHibernationCheckSeconds = 30;
    m_hibernationTimer = Glib::signal_timeout().connect_seconds(
        [&model] {
            model.hibernation().tick();
            return true;
        },
        kHibernationCheckSeconds);
    synchronize();
}

WebViewStack::~WebViewStack() {
    m_modelConnection.disconnect();
    m_memoryReloadConnection.disconnect();
    m_memoryOfferConnection.disconnect();
    m_hibernationTimer.disconnect();
    m_pacingTimer.disconnect();
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

void WebViewStack::synchronize() {
    m_environment.doNotDisturb = m_model.doNotDisturb();
    std::map<std::string, std::string> built;
    for (const auto& [id, page] : m_pages)
        built.emplace(id, page.identity);
    const PageStackModel::Plan plan = m_model.plan(built);
    for (const auto& id : plan.drop)
        drop(id);
    // The selected page is built at once, panel over it or not; new hidden ones at the start's
    // pace. A page to be rebuilt (its proxy or data changed) never waits with its old self.
    const auto selected = m_content.store().selectedID();
    const auto waits = [&](const PageStackModel::Page& planned) {
        return planned.step == PageStackModel::Step::Create && !planned.shown &&
               selected != planned.sessionID;
    };
    const std::size_t allowed =
        m_pacing.allowance(static_cast<std::size_t>(std::ranges::count_if(plan.pages, waits)));
    std::size_t builtHidden = 0;
    for (const auto& planned : plan.pages) {
        if (waits(planned)) {
            if (builtHidden == allowed)
                continue;
            ++builtHidden;
        }
        if (planned.step == PageStackModel::Step::Rebuild)
            drop(planned.sessionID);
        if (planned.step != PageStackModel::Step::Keep)
            build(planned);
        bind(planned, *m_pages.at(planned.sessionID).view);
    }
    m_pacing.built(builtHidden);
    constexpr unsigned kPacingStepMilliseconds = 500;
    if (m_pacing.pacing() && !m_pacingTimer.connected())
        m_pacingTimer = Glib::signal_timeout().connect(
            [this] {
                m_pacing.step();
                synchronize();
                return m_pacing.pacing();
            },
            kPacingStepMilliseconds);
}

void WebViewStack::drop(const std::string& sessionID) {
    auto it = m_pages.find(sessionID);
    if (it == m_pages.end())
        return;
    remove_overlay(*it->second.view);
    m_pages.erase(it);
}

void WebViewStack::build(const PageStackModel::Page& planned) {
    Page page{planned.identity, std::make_unique<ChatWebView>(planned.inputs, m_environment)};
    page.view->set_hexpand(true);
    page.view->set_vexpand(true);
    add_overlay(*page.view);
    ChatWebView& view = *m_pages.emplace(planned.sessionID, std::move(page)).first->second.view;
    view.setMemoryOffer(m_content.memory().offer(planned.sessionID));
    view.signalMemoryReloadClicked().connect(
        [this, id = planned.sessionID] { m_content.memory().reloadChosen(id); });
    m_pageBuilt.emit(planned.sessionID, view);
}

void WebViewStack::bind(const PageStackModel::Page& planned, ChatWebView& view) {
    view.update(planned.inputs);
    if (planned.command) {
        m_model.pageCommandTaken(planned.command->id);
        view.runPageCommand(*planned.command);
    }
    if (planned.insertion && view.insertText(*planned.insertion))
        m_model.textInsertionTaken(planned.insertion->id);

    if (m_environment.hiddenPages == HiddenPages::Unmapped) {
        // Hidden, not only child-invisible: a child that GTK was told is child-invisible and
        // then child-visible again is mapped, but the window goes on drawing what it drew
        // without it, and the page stayed blank however often it was selected.
        view.set_visible(planned.shown);
    } else
        view.set_opacity(planned.shown ? 1.0 : 0.0);
    view.set_can_target(planned.shown);
    view.set_can_focus(planned.shown);
    Glib::Value<bool> hidden;
    hidden.init(hidden.value_type());
    hidden.set(!planned.shown);
    view.update_state(Gtk::Accessible::State::HIDDEN, hidden);
    // The page is the account's document to assistive technology, named after the account.
    if (view.webView())
        gtk_accessible_update_property(GTK_ACCESSIBLE(view.webView()),
                                       GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       m_model.pageName(planned.sessionID).c_str(), -1);
}

} // namespace aurelo
