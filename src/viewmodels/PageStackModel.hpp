#pragma once

// What the page stack shows: one page per session, all alive at once. This model decides which
// pages to build, which to build again because the page's identity changed (what a page reads
// only when it is built: its address, its script's settings, its proxy), which to drop, which
// one is on show, and which page takes a pending whole-page command or text insertion. The
// widget only carries the decision out.

#include "viewmodels/ContentViewModel.hpp"
#include "web/ChatWebViewInputs.hpp"

#include <sigc++/sigc++.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class PageStackModel {
public:
    enum class Step { Keep, Create, Rebuild };

    // A session's page as it should be, in the store's order.
    struct Page {
        std::string sessionID;
        std::string identity;
        Step step = Step::Keep;
        // The selected page with no panel over it.
        bool shown = false;
        ChatWebViewInputs inputs;
        // Only the selected page takes whole-page commands.
        std::optional<WebPageCommand> command;
        // Only the page of the insertion's own session is offered it.
        std::optional<WebTextInsertion> insertion;
    };

    struct Plan {
        std::vector<std::string> drop; // pages whose session is gone
        std::vector<Page> pages;
    };

    // The session id and identity of a page that should exist.
    struct Wanted {
        std::string sessionID;
        std::string identity;
    };
    struct Decision {
        std::vector<std::string> drop;
        std::vector<Step> steps; // one per wanted page
        friend bool operator==(const Decision&, const Decision&) = default;
    };

    explicit PageStackModel(ContentViewModel& content);
    PageStackModel(const PageStackModel&) = delete;
    PageStackModel& operator=(const PageStackModel&) = delete;
    ~PageStackModel();

    // `built`: the identity each existing page was built with, by session id.
    Plan plan(const std::map<std::string, std::string>& built) const;
    // The decision alone: a page whose session is gone is dropped, a missing one created, one
    // whose identity differs rebuilt, any other kept.
    static Decision decide(const std::vector<Wanted>& wanted,
                           const std::map<std::string, std::string>& built);

    // The inputs of a session's page, and the text that identifies the page: when it changes,
    // the page is rebuilt.
    ChatWebViewInputs inputs(const ChatSession& session) const;
    std::string identity(const ChatSession& session) const;

    // A page took the request: it is not handed out again. An id that is no longer pending
    // (a newer request replaced it) changes nothing.
    void pageCommandTaken(const std::string& commandID);
    void textInsertionTaken(const std::string& insertionID);

    bool doNotDisturb() const { return m_content.preferences().doNotDisturb(); }

    // What assistive technology calls a session's page: the account's name, or "聊天网页" for
    // a session that is gone or has none.
    std::string pageName(const std::string& sessionID) const;

    // Something the pages show changed: plan again.
    sigc::signal<void()>& signalChanged() { return m_changed; }

private:
    ContentViewModel& m_content;
    std::vector<sigc::connection> m_connections;
    sigc::signal<void()> m_changed;
};

} // namespace aurelo
