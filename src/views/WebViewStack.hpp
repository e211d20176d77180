#pragma once

// One page per session, all alive at once: only the selected page is shown, can be clicked and
// is seen by assistive technology; the others keep running underneath, so every account keeps
// its login, its unread count and its background translation. Which pages exist, and what each
// is handed, is the page stack model's decision; this widget carries it out.

#include "viewmodels/PageStackModel.hpp"
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

private:
    struct Page {
        std::string identity;
        std::unique_ptr<ChatWebView> view;
    };

    void build(const PageStackModel::Page& planned);
    void drop(const std::string& sessionID);
    void bind(const PageStackModel::Page& planned, ChatWebView& view);

    PageStackModel m_model;
    WebEnvironment& m_environment;
    std::map<std::string, Page> m_pages;
    sigc::connection m_modelConnection;
};

} // namespace aurelo
