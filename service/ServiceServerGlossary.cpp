// ServiceServer's glossary route: the terms in force for the calling account, for the desktop
// client's read-only list.
#include "service/ServiceServer.hpp"

#include "service/ServiceExchange.hpp"

namespace aurelo::service {

// {"version": "…", "terms": [{"source": "Aurelo Pro", "target": "", "sourceLanguage": "",
//  "targetLanguage": "", "ignoreCase": false, "scope": "service" | "account"}, …]}
void ServiceServer::handleGlossary(const ExchangePtr& exchange) {
    authenticated<std::vector<GlossaryTerm>>(
        exchange,
        [this](const Account& account) { return m_database.effectiveGlossary(account.id); },
        [this, exchange](const Account&, std::vector<GlossaryTerm> terms) {
            Glossary glossary(std::move(terms));
            nlohmann::json list = nlohmann::json::array();
            for (const auto& term : glossary.terms())
                list.push_back({{"source", term.source},
                                {"target", term.target},
                                {"sourceLanguage", term.sourceLanguage},
                                {"targetLanguage", term.targetLanguage},
                                {"ignoreCase", term.ignoreCase},
                                {"scope", term.account ? "account" : "service"}});
            respond(exchange, 200, {{"version", glossary.version()}, {"terms", list}});
        });
}

} // namespace aurelo::service
