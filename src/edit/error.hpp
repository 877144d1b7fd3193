// EditError: why the engine refuses an edit, as a value.
//
// Every refusal has a code, which tells the caller what kind of failure it is
// (the Python binding picks the exception type from it), and a message made
// from the code's wording in one table, so that a refusal reads the same
// whichever caller meets it.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quarel {

enum class ErrorCode {
    invalid_token, // text that must stand as a bare token cannot
    expr_key_needs_expr,
    expr_for_other_key,
    rename_across_kinds,
    expr_terminator, // an expression holding `;;`
    too_deep,        // nesting the parser would not read back
    not_a_block,     // a pair used as a container holds no block
    unknown_kind,
    index_out_of_range,
    pair_busy, // a lock found taken (see cst/shared.hpp)
    document_busy,
    changed_meanwhile, // a pair changed while its new value was made
    line_break_in_comment,
    move_into_itself, // a block moved into itself or a block inside it
    moved_away,       // a pair is no longer where its Python object found it
    unreadable_move,  // a moved pair's text would not read back as the pair
    format_changes_meaning,
};

struct EditError {
    ErrorCode code;
    std::string message;
};

// The error with its message: the code's wording with each `{}` replaced by
// the next of `args`.
EditError make_error(ErrorCode code, std::initializer_list<std::string_view> args = {});

// The text between double quotes, with quotes, backslashes and characters
// that would not print escaped: how a message shows text it refuses.
std::string debug_quoted(std::string_view text);

} // namespace quarel
