// What stays on one line: a one-line list or block when it fits in the
// column width, and pairs sharing a line when they all fit there.
#include "format/trivia_text.hpp"
#include "format/width.hpp"
#include "format/writer.hpp"

namespace quarel {

namespace {

// Whether a line of the text is wider than `limit`.
bool any_too_wide(std::string_view text, std::size_t limit) noexcept {
    for (;;) {
        const std::size_t lf = text.find('\n');
        if (columns(text.substr(0, lf)) > limit) return true;
        if (lf == std::string_view::npos) return false;
        text.remove_prefix(lf + 1);
    }
}

// A pair that shares the line of the pair before it: nothing but spaces in
// front of it.
bool shares_line(const Pair& pair) noexcept {
    return !has_line_break(pair.leading) && !has_comment(pair.leading);
}

} // namespace

// Measured from where it was measured last on the same line: every byte of
// a line is measured once, however often its column is asked.
std::size_t Formatter::column() {
    if (measured_ < line_start_ || measured_ > out.size()) {
        measured_ = line_start_;
        columns_ = 0;
    }
    columns_ += columns(std::string_view(out).substr(measured_));
    measured_ = out.size();
    return columns_;
}

Formatter::Mark Formatter::mark() const {
    return {out.size(), line_start_, old_line_,          measured_,
            columns_,   old_indent_, previous_formatted_};
}

void Formatter::back_to(const Mark& mark) {
    out.resize(mark.size);
    line_start_ = mark.line_start;
    old_line_ = mark.old_line;
    measured_ = mark.measured;
    columns_ = mark.columns;
    old_indent_ = mark.old_indent;
    previous_formatted_ = mark.previous_formatted;
}

bool Formatter::too_wide(std::size_t from) {
    return any_too_wide(std::string_view(out).substr(from), options_.column_width);
}

// A structure written flat measures its text, which does not depend on
// where it stands; asked again (once what holds it has expanded), it is
// measured already.
bool Formatter::write(const List* list, const Body* body, std::size_t depth, bool flat) {
    const std::size_t start = out.size();
    const std::size_t start_column = flat ? column() : 0;
    const bool done = list ? items(*list, depth, flat)
                           : this->body(*body, depth + 1, flat ? Layout::flat : Layout::expanded);
    if (!done || !flat) return done;
    const std::string_view text = std::string_view(out).substr(start);
    const std::size_t lf = text.find('\n');
    FlatWidth width{0, false};
    if (lf == std::string_view::npos) {
        width.columns = column() - start_column;
    } else {
        width.columns = columns(text.substr(0, lf));
        width.rest_too_wide = any_too_wide(text.substr(lf + 1), options_.column_width);
    }
    flat_widths_.set(list ? static_cast<const void*>(list) : body, width);
    return true;
}

bool Formatter::fit(const List* list, const Body* body, std::size_t depth) {
    if (flat_) return write(list, body, depth, true);
    const void* node = list ? static_cast<const void*>(list) : body;
    if (const FlatWidth* known = flat_widths_.find(node)) {
        const FlatWidth width = *known;
        const bool fits = !width.rest_too_wide && column() + width.columns <= options_.column_width;
        return write(list, body, depth, fits);
    }
    const std::size_t start_column = column();
    const Mark before = mark();
    flat_ = true;
    const bool done = write(list, body, depth, true);
    flat_ = false;
    if (!done) return false;
    const FlatWidth width = *flat_widths_.find(node);
    if (!width.rest_too_wide && start_column + width.columns <= options_.column_width) return true;
    back_to(before);
    return write(list, body, depth, false);
}

// A run is tried on one line, every structure in it flat; when its line is
// too wide, or a structure in it stands on lines of its own, each pair goes
// on a line of its own (and the run's structures are fitted there).
bool Formatter::run(const Body& body, std::size_t& first, std::size_t depth, bool root,
                    bool starts_line) {
    const std::size_t from = first;
    std::size_t end = from + 1;
    while (end < body.pairs.size() && !body.pairs[end].lock().writing() &&
           shares_line(*body.pairs[end]))
        ++end;
    // Only runs of pairs whose values stand on one line are tried on one.
    bool one_line = end - from > 1;
    for (std::size_t i = from; one_line && i < end; ++i) {
        const PairRef& ref = body.pairs[i];
        if (ref.lock().writing()) return false;
        // (A brace joins the line of its name unless a comment comes between.)
        if (const Block* block = block_of(ref->value))
            one_line =
                !has_comment(block->before_brace) &&
                (!spanning_(block->body) || holds_nothing(block->body.pairs, block->body.trailing));
        else if (const List* list = list_of(ref->value))
            one_line = !spanning_(*list) || holds_nothing(list->items, list->trailing);
    }
    first = end;
    auto write_run = [&](bool own_lines) {
        for (std::size_t i = from; i < end; ++i) {
            Gap lead{depth, depth, " "};
            lead.opens = i == 0;
            lead.file_start = root && i == 0;
            lead.line = (i == from && starts_line) || (i > from && own_lines);
            if (!pair(body.pairs[i], depth, lead)) return false;
        }
        return true;
    };
    // In a range, pairs sharing a line are all in it or all out of it.
    const bool selected =
        whole_ || in_range(old_line_ + count_line_feeds(body.pairs[from]->leading));
    if (!one_line || flat_ || !selected) return write_run(false);
    const Mark before = mark();
    std::size_t key_line = 0;
    key_line_ = &key_line;
    flat_ = true;
    const bool done = write_run(false);
    flat_ = false;
    if (!done) return false;
    if (!too_wide(key_line)) return true;
    back_to(before);
    return write_run(true);
}

} // namespace quarel
