#pragma once

// One page per session, all alive at once (starting with many accounts, within seconds of each
// other: PageStartPacing): only the selected page is shown, can be clicked and
// is seen by assistive technology; the others keep running underneath, so every account keeps
// its login, its unread count and its background translation. Which pages exist, and what each
// is handed, is the page stack model's decision; this widget carries it out. Hidden pages are
// unmapped in software rendering and laid at opacity 0 with accelerated compositing, as
// HiddenPagePolicy explains.
// A sleeping account ("自动休眠", "立即休眠") has no page at all. A page over its memory ceiling is
// reloaded here when the watchdog says so, and the page on show carries the watchdog's offer.

#include "viewmodels/PageStackModel.hpp"
#include "viewmodels/PageStartPacing.hpp"
#include "webview/ChatWebView.hpp"
#include "webview/WebEnvironment.hpp"

#include <gtkmm/overlay.h>

#include <map>
#include <memory>
#include <string>

namespace aurelo {

class WebViewStack : public Gtk::Overlay {
public:
    WebViewStack(ContentViewModel& model, WebEnvironment& environment);
    ~WebViewStack() override;

    // Brings the pages in line with the model's plan.
    void synchronize();

    ChatWebView* pageFor(const std::string& sessionID) const;
    std::size_t pageCount() const { return m_pages.size(); }

    // A page was built for a session: its first, or a new one after its identity changed. The
    // page has started loading, but nothing of it has reached the network yet.
    sigc::signal<void(const std::string&, ChatWebView&)>& signalPageBuilt() { return m_pageBuilt; }

private:
    struct Page {
        std::string identity;
        std::unique_ptr<ChatWebView> view;
    };

    void build(const PageStackModel::Page& planned);
    void drop(const std::string& sessionID);
    void bind(const PageStackModel::Page& planned, ChatWebView& view);

    ContentViewModel& m_content;
    PageStackModel m_model;
    WebEnvironment& m_environment;
    std::map<std::string, Page> m_pages;
    sigc::connection m_modelConnection;
    sigc::connection m_memoryReloadConnection;
    sigc::connection m_memoryOfferConnection;
    sigc::signal<void(const std::string&, ChatWebView&)> m_pageBuilt;
    PageStartPacing m_pacing;
    sigc::connection m_pacingTimer;
    // Puts accounts to sleep when their delay has passed; a minute's lateness does not matter.
    sigc::connection m_hibernationTimer;
};

} // namespace aurelo
