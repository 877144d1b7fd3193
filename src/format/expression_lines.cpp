#include "format/expression_lines.hpp"

#include <array>
#include <cctype>

namespace quarel {

namespace {

constexpr std::array<std::string_view, 3> raw_elements = {"pre", "textarea", "script"};

bool same_letters(std::string_view text, std::string_view lower) noexcept {
    if (text.size() < lower.size()) return false;
    for (std::size_t i = 0; i < lower.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    return true;
}

// Whether an element's name ends at `at`: `>`, `/`, a space, or the end.
bool name_ends(std::string_view text, std::size_t at) noexcept {
    return at == text.size() || text[at] == '>' || text[at] == '/' ||
           std::isspace(static_cast<unsigned char>(text[at]));
}

} // namespace

ExpressionLines::ExpressionLines(std::string_view key, std::string_view text) noexcept
    : rest_(text), html_(key == "html") {}

std::optional<ExpressionLine> ExpressionLines::next() noexcept {
    if (done_) return std::nullopt;
    const bool verbatim = quote_ || !raw_.empty();
    const std::size_t lf = rest_.find('\n');
    std::string_view line = rest_.substr(0, lf);
    if (lf == std::string_view::npos) {
        done_ = true;
    } else {
        while (line.ends_with('\r')) line.remove_suffix(1);
    }
    ExpressionLine found{line, line_break_, verbatim};
    read(line);
    if (!done_) {
        line_break_ = rest_.substr(line.size(), lf + 1 - line.size());
        rest_.remove_prefix(lf + 1);
    }
    return found;
}

void ExpressionLines::read(std::string_view line) noexcept {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote_) {
            if (c != quote_) continue;
            if (i + 1 < line.size() && line[i + 1] == quote_) { // a doubled quote stands for one
                ++i;
                continue;
            }
            quote_ = 0;
            continue;
        }
        if (!raw_.empty()) {
            if (c == '<' && i + 1 < line.size() && line[i + 1] == '/' &&
                same_letters(line.substr(i + 2), raw_) && name_ends(line, i + 2 + raw_.size()))
                raw_ = {};
            continue;
        }
        if (c == '\'' || c == '"') {
            quote_ = c;
        } else if (html_ && c == '<') {
            for (std::string_view name : raw_elements)
                if (same_letters(line.substr(i + 1), name) && name_ends(line, i + 1 + name.size()))
                    raw_ = name;
        }
    }
}

} // namespace quarel
