#include "edit/snippet.hpp"

#include "parser/lexer.hpp"
#include "parser/parser.hpp"
#include "parser/scanner.hpp"

#include <algorithm>
#include <variant>
#include <vector>

namespace quarel {

namespace {

// Text that keeps its own layout: a quoted string, or an expression, whose
// lines move with the line of its key (starting at offset `key_line`).
struct Kept {
    std::size_t begin;
    std::size_t end;
    bool quoted;
    std::size_t key_line;
};

// What fitting needs to know of a snippet's regions.
struct Scanned {
    std::vector<Kept> kept;
    bool braced; // whether a `{` stands outside strings and expressions
};

Scanned scanned(std::string_view text) {
    Scanned found{{}, false};
    std::size_t key = 0; // the last bare token, which is an expression's key
    // The start of the line holding an offset, found moving forward only.
    std::size_t line_start = 0, seen = 0;
    auto line_of = [&](std::size_t at) {
        std::size_t lf = text.substr(seen, at - seen).rfind('\n');
        if (lf != std::string_view::npos) line_start = seen + lf + 1;
        seen = at;
        return line_start;
    };
    lex::Scanner scanner(text);
    while (std::optional<lex::Region> region = scanner.next()) {
        switch (region->kind) {
        case lex::RegionKind::bare_token: key = region->begin; break;
        case lex::RegionKind::string:
            found.kept.push_back({region->begin, region->end, true, 0});
            break;
        case lex::RegionKind::expression:
            found.kept.push_back({region->begin, region->end, false, line_of(key)});
            break;
        case lex::RegionKind::punctuation: found.braced |= text[region->begin] == '{'; break;
        default: break;
        }
    }
    return found;
}

struct Line {
    std::size_t start;     // offset of its first byte
    std::string_view text; // without its line break
    std::string_view brk;  // the line break that ends it; empty for the last
    const Kept* within;    // the region its line break lies in, if any
    const Kept* starts_in; // the region the line begins inside, if any
};

std::vector<Line> lines_of(std::string_view text, const std::vector<Kept>& found) {
    std::vector<Line> lines;
    auto region = found.begin();
    const Kept* previous = nullptr;
    std::size_t start = 0;
    for (;;) {
        std::size_t lf = text.find('\n', start);
        Line line{start, text.substr(start, lf - start), {}, nullptr, previous};
        if (lf == std::string_view::npos) {
            lines.push_back(line);
            return lines;
        }
        while (region != found.end() && region->end <= lf) ++region;
        if (region != found.end() && region->begin <= lf) line.within = &*region;
        // Outside a quoted string the carriage returns in front of a line
        // feed belong to the line break: one left on the line would make a
        // CR LF of the document's LF.
        std::size_t brk = lf;
        if (!(line.within && line.within->quoted))
            while (brk > start && text[brk - 1] == '\r') --brk;
        line.text = text.substr(start, brk - start);
        line.brk = text.substr(brk, lf + 1 - brk);
        lines.push_back(line);
        previous = line.within;
        start = lf + 1;
    }
}

std::string_view indentation_of(std::string_view line) noexcept {
    return line.substr(0, std::min(line.find_first_not_of(" \t"), line.size()));
}

// `indent` without as much of `prefix` as it starts with.
std::string_view without_prefix(std::string_view indent, std::string_view prefix) noexcept {
    std::size_t n = 0;
    while (n < indent.size() && n < prefix.size() && indent[n] == prefix[n]) ++n;
    return indent.substr(n);
}

// A line that fitting leaves as it is: one inside a quoted string, or of
// whitespace alone (which gets no indentation).
bool stays(const Line& line) noexcept {
    return (line.starts_in && line.starts_in->quoted) || lex::is_all_whitespace(line.text);
}

// A line whose indentation is the snippet's layout: one that holds more than
// whitespace and starts outside strings and expressions.
bool is_laid_out(const Line& line) noexcept {
    return !line.starts_in && !lex::is_all_whitespace(line.text);
}

// How deep the snippet stood where it was cut from.
struct Depths {
    std::string_view first;  // the indentation of its first line
    std::string_view shared; // what every line stands at, taken off all of them
};

// `text` is `source` trimmed. The indentation its lines share, its first
// line's (before trimming) included: siblings cut out of a block stay
// siblings. A block printed out of a nested body without its first line's
// indentation shows its depth in the `}` that ends it.
Depths depths_of(std::string_view source, std::string_view text, const std::vector<Line>& lines) {
    std::string_view before =
        source.substr(0, static_cast<std::size_t>(text.data() - source.data()));
    const std::string_view first = indentation_of(before.substr(before.rfind('\n') + 1));
    std::string_view shared = first;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!is_laid_out(lines[i])) continue;
        std::string_view indent = indentation_of(lines[i].text);
        shared = shared.substr(0, shared.size() - without_prefix(shared, indent).size());
    }
    const Line& last = lines.back();
    if (shared.empty() && lines.size() > 1 && !last.starts_in &&
        lex::trim_whitespace(last.text) == "}") {
        std::string_view brace = indentation_of(last.text);
        return {brace, brace};
    }
    return {first, shared};
}

// The snippet as it reads with `dedent` taken off its lines.
std::string dedented(const std::vector<Line>& lines, std::string_view dedent) {
    std::string out(lines[0].text);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line& line = lines[i];
        out += '\n';
        std::string_view indent = indentation_of(line.text);
        out += is_laid_out(line)
                   ? line.text.substr(indent.size() - without_prefix(indent, dedent).size())
                   : line.text;
    }
    return out;
}

// The snippet's own indentation step: the one its blocks show, read the way
// a document's is (a snippet without a `{` has none, and is spared the
// parse); when none does, `fallback`, or else the smallest indentation of
// its lines (a list's or an expression's next line).
std::string own_step(const std::vector<Line>& lines, std::string_view dedent, bool braced,
                     std::optional<std::string_view> fallback) {
    if (braced) {
        std::variant<Body, ParseError> parsed = parse(dedented(lines, dedent));
        if (auto* body = std::get_if<Body>(&parsed))
            if (std::optional<std::string> step = shown_style(*body).step) return std::move(*step);
    }
    if (fallback) return std::string(*fallback);
    std::string_view smallest;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (stays(lines[i])) continue;
        std::string_view rest = without_prefix(indentation_of(lines[i].text), dedent);
        if (!rest.empty() && (smallest.empty() || rest.size() < smallest.size())) smallest = rest;
    }
    return std::string(smallest);
}

} // namespace

std::string fit_snippet(std::string_view source, std::string_view indentation, const Style& style,
                        std::optional<std::string_view> old_depth) {
    const std::string_view text = lex::trim_whitespace(source);
    const Scanned found = scanned(text);
    const std::vector<Line> lines = lines_of(text, found.kept);
    const Depths depths =
        old_depth ? Depths{*old_depth, *old_depth} : depths_of(source, text, lines);
    const std::string step =
        own_step(lines, depths.shared, found.braced,
                 old_depth ? std::optional(std::string_view(style.step)) : std::nullopt);

    // An indentation below a line, in the document's steps: whole steps of
    // the snippet become the document's, and what is left aligns, where a
    // tab still counts as a step and the spaces before it go.
    auto in_steps = [&](std::string_view rest) {
        std::string out;
        for (; !step.empty() && rest.starts_with(step); rest.remove_prefix(step.size()))
            out += style.step;
        const std::size_t tabbed = rest.rfind('\t') + 1; // 0 without a tab
        for (char c : rest.substr(0, tabbed))
            if (c == '\t') out += style.step;
        return out += rest.substr(tabbed);
    };

    std::vector<std::string> placed(lines.size()); // each line's new indentation
    placed[0] = indentation;
    auto line_at = [&](std::size_t offset) {
        auto it = std::upper_bound(lines.begin(), lines.end(), offset,
                                   [](std::size_t o, const Line& l) { return o < l.start; });
        return static_cast<std::size_t>(it - lines.begin()) - 1;
    };
    std::string out(lines[0].text);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const Line& before = lines[i - 1];
        out += before.within && before.within->quoted ? before.brk : style.newline;
        if (stays(line)) {
            out += line.text;
            continue;
        }
        std::string_view indent = indentation_of(line.text);
        if (line.starts_in) {
            // An expression's next line: as deep below its key's line as before.
            std::size_t key = line_at(line.starts_in->key_line);
            std::string_view key_indent = key == 0 ? depths.first : indentation_of(lines[key].text);
            placed[i] = placed[key];
            placed[i] += in_steps(indent.starts_with(key_indent) ? indent.substr(key_indent.size())
                                                                 : std::string_view());
        } else {
            placed[i] = indentation;
            placed[i] += in_steps(without_prefix(indent, depths.shared));
        }
        out += placed[i];
        out += line.text.substr(indent.size());
    }
    return out;
}

std::string outdent(std::string_view text, std::string_view indentation) {
    std::string out;
    out.reserve(text.size());
    // Lines point into the regions: they must outlive the loop.
    const Scanned found = scanned(text);
    for (const Line& line : lines_of(text, found.kept)) {
        std::string_view rest = line.text;
        bool moves = line.start > 0 && !(line.starts_in && line.starts_in->quoted);
        if (moves && rest.starts_with(indentation)) rest.remove_prefix(indentation.size());
        out += rest;
        out += line.brk;
    }
    return out;
}

} // namespace quarel
