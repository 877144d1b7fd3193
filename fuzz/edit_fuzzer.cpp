// The editing engine under arbitrary edit sequences. An input is a document
// followed by edits, decoded as
//
//   input  := u16 length (little-endian), document text, edit*
//   edit   := opcode byte, then the operands the opcode reads
//   text   := length byte, bytes
//
// where a pair or a container is chosen by a byte modulo the number of
// candidates. The edits are made the way the Python layer makes them: keys,
// names and values are checked and built by the engine's own rules (values
// by new_value, from what a Python object converts to), and an edit they
// refuse is skipped. After every edit the document, and every
// pair taken out of it, must print as text that parses back to the same
// tree; an edit that fails must change nothing. Once the edits are done,
// the document is formatted with a few sets of options.
#include "edit/block_name.hpp"
#include "edit/checked_value.hpp"
#include "edit/comment_text.hpp"
#include "edit/comments.hpp"
#include "edit/end_comment.hpp"
#include "edit/find.hpp"
#include "edit/given_value.hpp"
#include "edit/insert.hpp"
#include "edit/layout.hpp"
#include "edit/move.hpp"
#include "edit/remove.hpp"
#include "edit/rename.hpp"
#include "edit/scalars.hpp"
#include "edit/token.hpp"
#include "expect.hpp"
#include "format/check.hpp"
#include "format/format.hpp"
#include "same_tree.hpp"
#include "style_invariants.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace quarel;

namespace {

// Python hands the engine only text that encodes to UTF-8.
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        if (len == 0 || i + len > s.size()) return false;
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool done() const { return p_ == end_; }
    std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    std::size_t pick(std::size_t n) { return byte() % n; }
    std::string_view bytes(std::size_t n) {
        n = std::min(n, static_cast<std::size_t>(end_ - p_));
        std::string_view s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    std::optional<std::string> text() {
        std::string_view s = bytes(byte());
        if (!valid_utf8(s)) return std::nullopt;
        return std::string(s);
    }

  private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// A body that pairs can be added to, with the layout context the Python
// layer gives it, how many blocks enclose it, and the pair whose block it is
// (none for the root).
struct Container {
    Body* body;
    std::string base_indent;
    bool top_level;
    int blocks;
    PairRef owner;
};

// A pair that edits can reach, the container it was found in (none for a
// pair taken out of the document: it no longer sits in one), and how many
// blocks enclose it.
struct Site {
    PairRef pair;
    std::optional<std::size_t> container;
    int blocks;
};

class Session {
  public:
    explicit Session(Body root) : root_(std::move(root)) {}

    const Body& root() const { return root_; }

    // False when the input is used up.
    bool step(Reader& in) {
        if (in.done()) return false;
        survey();
        style_ = infer_style(root_);
        std::string text;
        expect(print_body(root_, text), "printing met a locked pair");
        const bool uniform = fuzz::uniform(text, style_.newline);
        const std::vector<fuzz::Owned> owned = fuzz::owned_comments(root_);
        changed_.clear();
        switch (in.pick(9)) {
        case 0: add(in); break;
        case 1: add_source(in); break;
        case 2: remove(in); break;
        case 3: replace(in); break;
        case 4: comment(in); break;
        case 5: rename(in); break;
        case 6: rename_block(in); break;
        case 7: end_comment(in); break;
        case 8: move(in); break;
        }
        check();
        expect(!uniform || fuzz::layout_breaks_are(root_, style_.newline),
               "an edit brought a foreign line break into a uniform document");
        expect(fuzz::owners_kept(owned, fuzz::owned_comments(root_), changed_),
               "an edit moved a comment away from the pair it belongs to");
        return true;
    }

  private:
    // Lists the containers and pairs in walk order, then those under the
    // detached pairs.
    void survey() {
        containers_.clear();
        sites_.clear();
        containers_.push_back({&root_, "", true, 0, PairRef()});
        visit(0);
        for (const PairRef& pair : detached_) {
            sites_.push_back({pair, std::nullopt, 0});
            enter(pair, 0);
        }
    }
    void visit(std::size_t index) {
        Container c = containers_[index];
        for (const PairRef& pair : c.body->pairs) {
            sites_.push_back({pair, index, c.blocks});
            enter(pair, c.blocks);
        }
    }
    void enter(const PairRef& pair, int blocks) {
        if (Block* block = block_of(pair->value)) {
            containers_.push_back(
                {&block->body, std::string(line_indent(pair->leading)), false, blocks + 1, pair});
            visit(containers_.size() - 1);
        }
    }

    Container& container(Reader& in) { return containers_[in.pick(containers_.size())]; }
    const Site* site(Reader& in) {
        if (sites_.empty()) return nullptr;
        return &sites_[in.pick(sites_.size())];
    }

    std::optional<std::string> token(Reader& in, TokenRole role) {
        auto text = in.text();
        if (!text || check_token(*text, role)) return std::nullopt;
        return text;
    }

    static std::optional<Value> value_or_none(std::variant<Value, EditError> made) {
        if (auto* value = std::get_if<Value>(&made)) return std::move(*value);
        return std::nullopt;
    }

    // A value as the Python layer hands it to the engine: text, a number's
    // str(), a bool, or a list of them, of pairs and of lists. `level` only
    // bounds the recursion: the depth is checked once the value is made.
    std::optional<GivenScalar> given_scalar(Reader& in) {
        const std::size_t choice = in.pick(3);
        if (choice == 2) return GivenScalar(static_cast<bool>(in.byte() & 1));
        auto text = in.text();
        if (!text) return std::nullopt;
        if (choice == 1) return GivenScalar(GivenNumber{std::move(*text)});
        return GivenScalar(std::move(*text));
    }
    std::optional<GivenList> given_list(Reader& in, int level) {
        if (level > max_depth) return std::nullopt;
        GivenList list;
        for (std::size_t n = in.pick(5); n > 0; --n) {
            const std::size_t choice = in.pick(3);
            if (choice == 0) {
                auto scalar = given_scalar(in);
                if (!scalar) return std::nullopt;
                list.elements.push_back({std::move(*scalar)});
                continue;
            }
            if (choice == 1) {
                auto nested = given_list(in, level + 1);
                if (!nested) return std::nullopt;
                list.elements.push_back({std::move(*nested)});
                continue;
            }
            auto key = in.text(); // the engine refuses one that is no bare token
            if (!key) return std::nullopt;
            GivenPair pair{std::move(*key), GivenScalar()};
            if (in.byte() & 1) {
                auto nested = given_list(in, level + 2);
                if (!nested) return std::nullopt;
                pair.value = std::move(*nested);
            } else {
                auto scalar = given_scalar(in);
                if (!scalar) return std::nullopt;
                pair.value = std::move(*scalar);
            }
            list.elements.push_back({std::move(pair)});
        }
        return list;
    }
    std::optional<GivenValue> given(Reader& in) {
        if (in.byte() & 1) {
            auto list = given_list(in, 1);
            if (list) return GivenValue(std::move(*list));
            return std::nullopt;
        }
        auto scalar = given_scalar(in);
        if (scalar) return GivenValue(std::move(*scalar));
        return std::nullopt;
    }

    // A value for `key` as add() or set_value() makes one, its kind inferred
    // or forced, replacing `existing` when it is a list; nullopt where the
    // engine refuses it.
    std::optional<Value> value(Reader& in, std::string_view key, bool block_allowed,
                               const List* existing = nullptr) {
        if (block_allowed && in.pick(6) == 0) {
            if (!(in.byte() & 1)) return block_value(std::nullopt);
            auto name = token(in, TokenRole::block_name);
            if (!name) return std::nullopt;
            return block_value(*name);
        }
        constexpr std::optional<Kind> kinds[] = {std::nullopt, Kind::literal, Kind::string,
                                                 Kind::expr};
        const std::optional<Kind> kind = kinds[in.pick(4)];
        auto made = given(in);
        // The binding refuses a kind that does not fit a list.
        if (!made || (kind && std::holds_alternative<GivenList>(*made))) return std::nullopt;
        return value_or_none(new_value(key, *made, kind, existing));
    }

    // A value as the setter makes one: the pair's kind kept, a list for a
    // list, a literal given text that cannot stand bare made a string.
    std::optional<Value> assigned(Reader& in, const Pair& pair) {
        const Kind held = kind_of(pair.value);
        auto made = given(in);
        if (!made || held == Kind::block ||
            std::holds_alternative<GivenList>(*made) != (held == Kind::list))
            return std::nullopt;
        return value_or_none(
            new_value(pair.key.view(), *made, assigned_kind(held, *made), list_of(pair.value)));
    }

    // The value checked for `key` inside `blocks` blocks; nullopt where the
    // checks refuse it.
    static std::optional<CheckedValue> checked(std::string_view key, std::optional<Value> v,
                                               int blocks) {
        if (!v) return std::nullopt;
        auto made = check_value(key, std::move(*v), blocks);
        if (auto* value = std::get_if<CheckedValue>(&made)) return std::move(*value);
        return std::nullopt;
    }

    void add(Reader& in) {
        Container& c = container(in);
        std::size_t index = in.byte();
        auto key = token(in, TokenRole::key);
        if (!key) return;
        auto v = checked(*key, value(in, *key, true), c.blocks);
        if (!v) return;
        auto added = quarel::add(*c.body, index, std::move(*v), c.base_indent, c.top_level, style_);
        expect(std::holds_alternative<PairRef>(added), "add reported a busy pair");
        expect(fuzz::indented_as_siblings(*c.body, std::get<PairRef>(added), c.base_indent,
                                          c.top_level, style_),
               "a new pair is indented unlike its siblings and off the indent step");
    }

    void add_source(Reader& in) {
        Container& c = container(in);
        std::size_t index = in.byte();
        auto source = in.text();
        if (!source) return;
        std::string before = everything();
        const fuzz::Units units(root_, detached_, style_);
        auto result =
            insert_source(*c.body, index, *source, c.base_indent, c.top_level, c.blocks, style_);
        expect(!std::holds_alternative<Busy>(result), "insert_source reported a busy pair");
        if (std::holds_alternative<ParseError>(result))
            expect(everything() == before, "a snippet that failed to parse changed the tree");
        if (auto* added = std::get_if<std::vector<PairRef>>(&result))
            for (const PairRef& pair : *added)
                expect(units.indent(pair), "a snippet brought an indentation unit the document "
                                           "does not use");
    }

    // remove() on any container with any pair: a pair it does not hold is
    // left alone.
    void remove(Reader& in) {
        Container& c = container(in);
        const Site* s = site(in);
        if (!s) return;
        PairRef pair = s->pair;
        std::string before = everything();
        Removal result = remove_pair(*c.body, pair, c.top_level);
        expect(result != Removal::busy, "remove_pair reported a busy pair");
        if (result == Removal::absent) {
            expect(everything() == before, "removing an absent pair changed the tree");
            return;
        }
        detached_.push_back(std::move(pair));
    }

    void replace(Reader& in) {
        const Site* s = site(in);
        if (!s) return;
        const std::string key = s->pair->key.str();
        auto v = checked(key,
                         in.byte() & 1 ? assigned(in, *s->pair)
                                       : value(in, key, false, list_of(s->pair->value)),
                         s->blocks);
        if (!v) return;
        Body* body = s->container ? containers_[*s->container].body : nullptr;
        changed_.push_back(&*s->pair);
        expect(!assign(body, s->pair, std::move(*v)), "assign refused a checked value");
    }

    void comment(Reader& in) {
        const Site* s = site(in);
        if (!s) return;
        std::vector<std::string> lines(in.pick(4));
        for (std::string& line : lines) {
            auto text = in.text();
            if (!text) return;
            line = std::move(*text);
        }
        bool first = s->container == 0 && root_.pairs.front().same(s->pair);
        std::string indent;
        if (s->container) {
            const Container& c = containers_[*s->container];
            indent = *child_indent(*c.body, c.base_indent, c.top_level, style_);
        }
        changed_.push_back(&*s->pair);
        s->pair->leading = Text(with_comments(s->pair->leading, lines, first, indent, style_));
    }

    void rename(Reader& in) {
        const Site* s = site(in);
        auto key = s ? in.text() : std::nullopt;
        if (!key) return;
        std::string before = everything();
        if (quarel::rename(*s->pair, *key))
            expect(everything() == before, "a refused rename changed the tree");
    }

    void rename_block(Reader& in) {
        const Site* s = site(in);
        if (!s) return;
        std::optional<std::string> name;
        if (in.byte() & 1) {
            name = in.text();
            if (!name) return;
        }
        std::optional<std::string_view> wanted;
        if (name) wanted = *name;
        std::string before = everything();
        if (set_block_name(*s->pair, wanted))
            expect(everything() == before, "a refused block name changed the tree");
    }

    // The end comment of a pair, trimmed to its `#`: read from its
    // container, or kept by the pair when it is detached.
    std::string end_comment_now(const PairRef& pair, const Container* c) const {
        auto found = end_comment_of(c ? c->body : nullptr, pair);
        expect(std::holds_alternative<std::optional<std::string>>(found),
               "end_comment_of reported a busy pair");
        auto& spaced = std::get<std::optional<std::string>>(found);
        expect(spaced.has_value(), "end_comment_of missed a pair of its body");
        return spaced->substr(std::min(spaced->find('#'), spaced->size()));
    }

    const Container* container_of(const Site& s) const {
        return s.container ? &containers_[*s.container] : nullptr;
    }

    void end_comment(Reader& in) {
        const Site* s = site(in);
        auto given = s ? in.text() : std::nullopt;
        if (!given) return;
        auto made = compose_end_comment(*given);
        if (!std::holds_alternative<std::string>(made)) return;
        const std::string text = (in.byte() & 1) ? std::get<std::string>(made) : std::string();
        changed_.push_back(&*s->pair);
        if (const Container* c = container_of(*s)) {
            auto set =
                set_end_comment(*c->body, s->pair, text, c->base_indent, c->top_level, style_);
            expect(std::holds_alternative<bool>(set) && std::get<bool>(set),
                   "set_end_comment missed a pair of its body");
        } else {
            *s->pair->loose_end = Text(space_end_comment(*s->pair->loose_end, text));
        }
        expect(end_comment_now(s->pair, container_of(*s)) == text,
               "an end comment does not read back as written");
    }

    // Every pair under the pair, and the pair itself.
    static void collect(const PairRef& pair, std::vector<const Pair*>& out) {
        out.push_back(&*pair);
        if (const Block* block = block_of(pair->value))
            for (const PairRef& child : block->body.pairs) collect(child, out);
    }

    // move_to(): out of its container (or as a detached pair) into another
    // container, not its own block nor one inside it. It keeps its comments.
    void move(Reader& in) {
        const Site* s = site(in);
        if (!s) return;
        const Container& c = container(in);
        const std::size_t index = in.byte();
        const PairRef pair = s->pair;
        if (check_move(pair, *pair, c.owner ? &c.owner : nullptr, c.blocks)) return;
        const Container* from = container_of(*s);
        const bool opened = from && from->top_level && root_.pairs.front().same(pair);
        const std::vector<std::string> comments = comments_of(pair->leading, opened);
        const std::string end = end_comment_now(pair, from);
        collect(pair, changed_);
        if (from) {
            expect(remove_pair(*from->body, pair, from->top_level) == Removal::removed,
                   "remove_pair missed a pair of its body");
        } else {
            detached_.erase(std::find_if(detached_.begin(), detached_.end(),
                                         [&](const PairRef& p) { return p.same(pair); }));
        }
        expect(!insert_moved(*c.body, index, pair, opened, c.base_indent, c.top_level, c.blocks,
                             style_),
               "insert_moved failed");
        expect(!pair->loose_end, "a placed pair still holds a loose end");
        // Comments the target held where the pair went may stand above its own.
        const bool first = c.top_level && root_.pairs.front().same(pair);
        const std::vector<std::string> now = comments_of(pair->leading, first);
        expect(now.size() >= comments.size() &&
                   std::equal(comments.begin(), comments.end(), now.end() - comments.size()),
               "a moved pair lost the comments above it");
        expect(end_comment_now(pair, &c) == end, "a moved pair lost the comment ending its line");
    }

    // The text of the document and of every detached pair.
    std::string everything() const {
        std::string out;
        expect(print_body(root_, out), "printing met a locked pair");
        for (const PairRef& pair : detached_) {
            out += '\0';
            expect(print_pair(pair, out, true), "printing met a locked pair");
        }
        return out;
    }

    void check() const {
        std::string text;
        expect(print_body(root_, text), "printing met a locked pair");
        auto parsed = parse(text);
        expect(std::holds_alternative<Body>(parsed), "the edited document does not parse");
        expect(fuzz::same_body(root_, std::get<Body>(parsed)),
               "the edited document parses back to a different tree");
        for (const PairRef& pair : detached_) {
            auto alone = parse(fuzz::printed(pair));
            expect(std::holds_alternative<Body>(alone), "a detached pair does not parse");
            const Body& body = std::get<Body>(alone);
            expect(body.pairs.size() == 1 && body.trailing.empty() &&
                       fuzz::same_pair(pair, body.pairs.front()),
                   "a detached pair parses back to a different pair");
        }
    }

    Body root_;
    Style style_;
    std::vector<const Pair*> changed_; // the pairs whose comments an edit may change
    std::vector<PairRef> detached_;
    std::vector<Container> containers_;
    std::vector<Site> sites_;
};

// The text with the changes made, in order; each must lie after the last.
std::string applied(std::string_view text, const std::vector<TextChange>& changes) {
    std::string out;
    std::size_t done = 0;
    for (const TextChange& change : changes) {
        expect(change.start >= done && change.start <= change.end && change.end <= text.size(),
               "a listed change is out of order or out of the text");
        out += text.substr(done, change.start - done);
        out += change.text;
        done = change.end;
    }
    return out + std::string(text.substr(done));
}

// Formatting the edited document: with each set of options it is not
// refused, its text reads back as the same document (the engine's own
// comparison is the oracle) and prints as it reads back, and formatting
// that again changes nothing (for a range of lines, formatting only what
// is inside it, that is not asked), and the changes it lists make the
// formatted text of the old one.
void check_format(const Body& edited) {
    std::string text;
    expect(print_body(edited, text), "printing met a locked pair");
    const auto source = parse(text);
    const Body& before = std::get<Body>(source);
    FormatOptions sets[4];
    sets[1].indent = "\t";
    sets[1].newline = "\r\n";
    sets[1].max_blank_lines = 0;
    sets[1].column_width = 10;
    sets[2].indent = "    ";
    sets[2].newline = "\n";
    sets[2].max_blank_lines = 2;
    sets[2].column_width = 1;
    sets[2].final_newline = false;
    sets[3].lines = {{2, 5}};
    for (const FormatOptions& options : sets) {
        auto copy = parse(text);
        Body& body = std::get<Body>(copy);
        std::vector<TextChange> changes;
        expect(std::holds_alternative<bool>(format_document(body, options, &changes)),
               "formatting refused an edited document");
        std::string once;
        expect(print_body(body, once), "printing met a locked pair");
        expect(applied(text, changes) == once, "the changes listed do not make the formatted text");
        auto reread = parse(once);
        expect(std::holds_alternative<Body>(reread), "formatted text does not parse");
        Body& again = std::get<Body>(reread);
        expect(!first_difference(before, again), "formatting changed the meaning");
        std::string reprinted;
        expect(print_body(again, reprinted) && reprinted == once,
               "formatted text does not print as it reads back");
        if (options.lines) continue;
        auto result = format_document(again, options);
        expect(std::holds_alternative<bool>(result) && !std::get<bool>(result),
               "formatting twice changed the text");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    std::size_t length = in.byte();
    length |= static_cast<std::size_t>(in.byte()) << 8;
    std::string_view source = in.bytes(length);
    if (!valid_utf8(source)) return -1;
    auto parsed = parse(source);
    if (!std::holds_alternative<Body>(parsed)) return -1;
    Session session(std::move(std::get<Body>(parsed)));
    while (session.step(in)) {
    }
    check_format(session.root());
    return 0;
}
