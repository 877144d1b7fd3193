#include "editor/outline.hpp"

#include "edit/scalars.hpp"

namespace quarel {

namespace {

// Builds a preview from the pieces of a value's text as they come, and
// tells when it needs no more of them.
class Preview {
  public:
    explicit Preview(std::string& out) : out_(out) {}

    // False once the preview is complete.
    bool add(std::string_view text) {
        for (char c : text)
            if (!add(c)) return false;
        return true;
    }

    void finish() {
        if (cut_) out_ += "\u2026";
    }

  private:
    static bool is_space(char c) noexcept {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    }

    bool add(char c) {
        if (is_space(c)) {
            if (c == '\n' || c == '\r')
                line_done_ = started_;
            else
                space_ = started_;
            return true;
        }
        if (line_done_) return cut();
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) { // a code point starts
            if (count_ + space_ >= preview_limit) return cut();
            if (space_) {
                out_ += ' ';
                ++count_;
                space_ = false;
            }
            ++count_;
        }
        started_ = true;
        out_ += c;
        return true;
    }

    bool cut() noexcept {
        cut_ = true;
        return false;
    }

    std::string& out_;
    std::size_t count_ = 0;
    bool started_ = false;
    bool space_ = false;     // a run of spaces waits for what follows it
    bool line_done_ = false; // the first line has ended
    bool cut_ = false;
};

bool add_scalar(const Literal& literal, Preview& preview) {
    return preview.add(literal.text.view());
}

bool add_scalar(const String& string, Preview& preview) {
    return preview.add(unescape_string(string.content.view()));
}

bool add_list(const List& list, Preview& preview);

bool add_list_value(const ListValue& value, Preview& preview) {
    if (auto* pair = std::get_if<Boxed<ListPair>>(&value))
        return preview.add((*pair)->key.view()) && preview.add(": ") &&
               add_list_value((*pair)->value, preview);
    if (auto* nested = std::get_if<Boxed<List>>(&value)) return add_list(**nested, preview);
    if (auto* literal = std::get_if<Literal>(&value)) return add_scalar(*literal, preview);
    return add_scalar(std::get<String>(value), preview);
}

bool add_list(const List& list, Preview& preview) {
    if (!preview.add("[")) return false;
    bool first = true;
    for (const ListItem& item : list.items) {
        if (!first && !preview.add(", ")) return false;
        if (!add_list_value(item.value, preview)) return false;
        first = false;
    }
    return preview.add("]");
}

// Lists the pairs of a body and of the blocks in it, in the order of the
// spans of a printing pass.
class Outliner {
  public:
    Outliner(const std::vector<PairSpan>& spans, Outline& out) : spans_(spans), out_(out) {}

    bool body(const Body& body, std::size_t depth) {
        for (const PairRef& ref : body.pairs) {
            if (ref.lock().writing() || at_ == spans_.size()) return false;
            const Pair& pair = *ref;
            const PairSpan& span = spans_[at_++];
            if (span.pair != &pair) return false;
            const Block* block = block_of(pair.value);
            OutlineEntry entry{copy(pair.key.view()),
                               {},
                               {},
                               false,
                               kind_of(pair.value),
                               depth,
                               span.start,
                               span.end,
                               span.start.column + pair.key.size()};
            if (block && block->name) {
                entry.named = true;
                entry.name = copy(block->name->view());
            }
            if (!block) {
                const std::size_t from = out_.text.size();
                append_preview(pair.value, out_.text);
                entry.preview = {from, out_.text.size() - from};
            }
            out_.entries.push_back(entry);
            if (block && !this->body(block->body, depth + 1)) return false;
        }
        return true;
    }

  private:
    OutlineText copy(std::string_view text) {
        OutlineText copied{out_.text.size(), text.size()};
        out_.text += text;
        return copied;
    }

    const std::vector<PairSpan>& spans_;
    Outline& out_;
    std::size_t at_ = 0;
};

} // namespace

void append_preview(const Value& value, std::string& out) {
    Preview preview(out);
    if (auto* literal = std::get_if<Literal>(&value))
        add_scalar(*literal, preview);
    else if (auto* string = std::get_if<String>(&value))
        add_scalar(*string, preview);
    else if (const Expr* expr = expr_of(value))
        preview.add(expr->text.view());
    else if (const List* list = list_of(value))
        add_list(*list, preview);
    preview.finish();
}

std::optional<Outline> outline_of(const Body& body) {
    std::vector<PairSpan> spans;
    if (!locate_pairs(body, spans)) return std::nullopt;
    Outline outline;
    outline.entries.reserve(spans.size());
    if (!Outliner(spans, outline).body(body, 0)) return std::nullopt;
    return outline;
}

} // namespace quarel
