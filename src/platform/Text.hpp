#pragma once

// Text helpers that the client and the reference service share, so that both sides agree on
// what counts as blank and how identifiers are case-folded.

#include <string>
#include <string_view>

#include <glib.h>

namespace aurelo::text {

// True for the characters `trimmed` removes: the Unicode space, line and paragraph separators
// (U+00A0, U+1680, U+2028, U+3000, …), the ASCII controls \t \n \v \f \r, U+0085 (next line),
// U+180E (Mongolian vowel separator, a space before Unicode 6.3) and U+200B (zero-width space,
// which pasted text often carries). This is the union of what the client and the service each
// trimmed before, so a name or a text the client considers blank is blank to the service too.
bool isTrimmedSpace(gunichar c);

// `text` without leading and trailing white space and line breaks. Invalid UTF-8 cannot be
// walked by character; such text is trimmed of ASCII white space only, and its bytes are kept.
std::string trimmed(std::string_view text);

// ASCII case conversion for protocol tokens (schemes, hosts, MIME types, hex digests, UUIDs);
// bytes outside A–Z / a–z, including every byte of a multi-byte UTF-8 character, are unchanged,
// whatever the process locale.
std::string asciiLowercased(std::string_view text);
std::string asciiUppercased(std::string_view text);

// Unicode lower case for what a person reads and compares ("ÄNNE" and "änne" name the same
// person). Invalid UTF-8 is repaired first (U+FFFD), so every input has a folded form.
std::string lowercased(std::string_view text);

// `text` with the characters HTML and XML give a meaning (& < > ") written as entities.
std::string escapedMarkup(std::string_view text);

} // namespace aurelo::text
