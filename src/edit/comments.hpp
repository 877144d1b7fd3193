// The comment lines above a pair, read from and written into its leading.
//
// They are the pair's attached comment lines (edit/comment_text.hpp): neither the
// comment that ends the line before it nor comments set off from it by a
// blank line. `opens_document` is set for the document's first pair.
#pragma once

#include "edit/style.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quarel {

// A comment line as written: trimmed, with "# " in front when it does not
// start with `#`.
std::string comment_line(std::string_view text);

// The comments directly above the pair, one per line, trimmed, each with
// its `#`.
std::vector<std::string> comments_of(std::string_view leading, bool opens_document);

// The leading with `lines` as the comment lines directly above the pair, at
// the key's indentation; what precedes them stays. A line without `#` gets
// "# " in front; a line holding line breaks becomes several comment lines.
// A pair that shares its line with what precedes it is moved to a line of
// its own at `indent` to take comments.
std::string with_comments(std::string_view old_leading, const std::vector<std::string>& lines,
                          bool opens_document, std::string_view indent, const Style& style);

} // namespace quarel
