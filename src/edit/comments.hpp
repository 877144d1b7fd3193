// The comment lines above a pair, read from and written into its leading.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarel {

// The comments in a pair's leading, one per line, trimmed, each with its `#`.
// An end-of-line comment of the previous pair is among them.
std::vector<std::string> comments_of(std::string_view leading);

// The leading with `lines` as the comment lines above the pair, at the key's
// indentation; the blank lines before the first comment stay. A line without
// `#` gets "# " in front; a line holding line breaks becomes several comment
// lines. The pair stays as separated from what precedes it as before, except
// the document's first pair, which has nothing before it.
std::string with_comments(std::string_view old_leading, const std::vector<std::string>& lines,
                          bool document_first);

} // namespace quarel
