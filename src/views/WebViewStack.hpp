#pragma once

// One page per session, all alive at once: only the selected page is shown, can be clicked and
// is seen by assistive technology; the others keep running underneath, so every account keeps
// its login, its unread count and its background translation.

#include "viewmodels/ContentViewModel.hpp"
#include "webview/WebEnvironment.hpp"
#include "webview/ChatWebView.hpp"

#include <gtkmm/overlay.h>

#include <map>
#include <memory>
#include <string>

namespace aurelo {

class WebViewStack : public Gtk::Overlay {
public:
    WebViewStack(ContentViewModel& model, WebEnvironment& environment);
    ~WebViewStack() override;

    // Brings the pages in line with the sessions: new sessions get a page, removed ones lose
    // theirs, a session whose identity changed gets a new page, every page gets the current
    // inputs.
    void synchronize();

    ChatWebView* pageFor(const std::string& sessionID) const;
    std::size_t pageCount() const { return m_pages.size(); }

private:
    struct Page {
        std::string identity;
        std::unique_ptr<ChatWebView> view;
    };

    void updatePage(const ChatSession& session, Page& page);

    ContentViewModel& m_model;
    WebEnvironment& m_environment;
    std::map<std::string, Page> m_pages;
    std::optional<WebPageCommand> m_noCommand;
    std::vector<sigc::connection> m_connections;
};

} // namespace aurelo
