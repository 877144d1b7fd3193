#include "parser/scanner.hpp"

#include "parser/lexer.hpp"

namespace quarel::lex {

namespace {

// The length of the line break at p, or 0.
std::size_t line_break_len(const char* p, const char* end) noexcept {
    if (*p == '\n') return 1;
    return *p == '\r' && end - p >= 2 && p[1] == '\n' ? 2 : 0;
}

const char* skip_whitespace(const char* p, const char* end) noexcept {
    for (std::size_t n; p < end && !line_break_len(p, end) && (n = whitespace_len(p, end));) p += n;
    return p;
}

} // namespace

std::optional<Region> Scanner::next() noexcept {
    const char* p = p_;
    if (p == expression_at_) {
        expression_at_ = nullptr;
        std::size_t stop = std::string_view(p, static_cast<std::size_t>(end_ - p)).find(";;");
        return take(RegionKind::expression, stop == std::string_view::npos ? end_ : p + stop);
    }
    if (p == end_) return std::nullopt;
    if (std::size_t n = line_break_len(p, end_)) return take(RegionKind::line_break, p + n);
    if (whitespace_len(p, end_)) return take(RegionKind::whitespace, skip_whitespace(p, end_));
    if (*p == '"') {
        const char* after = skip_quoted(p, end_);
        return take(RegionKind::string, after ? after : end_);
    }
    if (*p == '#') return take(RegionKind::comment, skip_comment(p, end_));
    if (is_bare_char(p, end_)) {
        const char* token_end = skip_bare_token(p, end_);
        const char* colon = skip_inline_space(token_end, end_);
        if (list_depth_ == 0 && colon < end_ && *colon == ':' &&
            is_expr_key(std::string_view(p, static_cast<std::size_t>(token_end - p))))
            expression_at_ = colon + 1;
        return take(RegionKind::bare_token, token_end);
    }
    if (*p == '[') ++list_depth_;
    if (*p == ']' && list_depth_ > 0) --list_depth_;
    bool terminator = *p == ';' && end_ - p >= 2 && p[1] == ';';
    return take(RegionKind::punctuation, p + (terminator ? 2 : 1));
}

Region Scanner::take(RegionKind kind, const char* to) noexcept {
    Region region{kind, static_cast<std::size_t>(p_ - begin_),
                  static_cast<std::size_t>(to - begin_)};
    p_ = to;
    return region;
}

} // namespace quarel::lex
