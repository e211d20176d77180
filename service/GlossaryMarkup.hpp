#pragma once

// How a text with glossary terms is written for an engine that takes markup (HTML or XML, with
// the parts it must leave alone marked), and how its marked-up answer becomes plain text again.
// Only a text in which terms occur is sent as markup; every other text goes as before.

#include "service/Glossary.hpp"

#include <functional>
#include <string>
#include <vector>

namespace aurelo::service {

// An answer to a marked-up request as plain text: every tag dropped (the request escaped every
// '<' of its own, so any tag in the answer is one of ours) but line breaks ("<br/>"), which
// become "\n" again, and entities decoded. An entity that
// is not well formed stays as it is.
std::string plainFromMarkup(const std::string& markup);

// The segments as markup: plain runs escaped and their line breaks written as "<br/>", each term
// written by `writeTerm`.
std::string markupFromSegments(const std::vector<GlossarySegment>& segments,
                               const std::function<std::string(const GlossarySegment&)>& writeTerm);

// The terms that occur in the segments, once each, in order of appearance.
std::vector<const GlossaryTerm*> termsIn(const std::vector<GlossarySegment>& segments);

} // namespace aurelo::service
