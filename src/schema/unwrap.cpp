#include "schema/unwrap.hpp"

#include "edit/scalars.hpp"
#include "schema/collect.hpp"

#include <deque>

namespace quarel {

namespace {

class Unwrapper {
  public:
    bool body(const Body& body, std::size_t depth) {
        BodyEntries& entries = scratch(bodies_, depth);
        if (!collect(body, entries)) return false;
        push(Step::dict, entries.entries.size());
        for (const Entry& entry : entries.entries) {
            push_text(Step::key, entry.key);
            if (entry.named) {
                push(Step::names, entry.count);
                for (auto at = entries.begin(entry); at != entries.end(entry); ++at) {
                    push_text(Step::key, block_name(**at));
                    if (!value((*at)->value, depth)) return false;
                }
            } else if (entry.count == 1) {
                if (!value((*entries.begin(entry))->value, depth)) return false;
            } else {
                push(Step::list, entry.count);
                for (auto at = entries.begin(entry); at != entries.end(entry); ++at)
                    if (!value((*at)->value, depth)) return false;
            }
        }
        return true;
    }

    bool value(const Value& value, std::size_t depth) {
        switch (kind_of(value)) {
        case Kind::literal: push_literal(std::get<Literal>(value).text); break;
        case Kind::string:
            push_text(Step::text, unescape_string(std::get<String>(value).content));
            break;
        case Kind::expr: push_text(Step::text, expr_of(value)->text); break;
        case Kind::list: list(*list_of(value), depth + 1); break;
        case Kind::block: return body(block_of(value)->body, depth + 1);
        }
        return true;
    }

    Unwrapped done() { return std::move(out_); }

  private:
    void list(const List& list, std::size_t depth) {
        ListEntries& entries = scratch(lists_, depth);
        if (collect(list, entries)) {
            push(Step::dict, entries.entries.size());
            for (const Entry& entry : entries.entries) {
                push_text(Step::key, entry.key);
                if (entry.count > 1) push(Step::list, entry.count);
                for (auto at = entries.begin(entry); at != entries.end(entry); ++at)
                    list_value((*at)->value, depth);
            }
            return;
        }
        push(Step::list, list.items.size());
        for (const ListItem& item : list.items) {
            if (const auto* pair = std::get_if<Boxed<ListPair>>(&item.value)) {
                // In a list of other items, a pair is a dict of one key.
                push(Step::dict, 1);
                push_text(Step::key, (*pair)->key);
                list_value((*pair)->value, depth);
            } else {
                list_value(item.value, depth);
            }
        }
    }

    void list_value(const ListValue& value, std::size_t depth) {
        if (const auto* v = std::get_if<Literal>(&value)) return push_literal(v->text);
        if (const auto* v = std::get_if<String>(&value))
            return push_text(Step::text, unescape_string(v->content));
        if (const auto* v = std::get_if<Boxed<List>>(&value)) return list(**v, depth + 1);
        const ListPair& pair = *std::get<Boxed<ListPair>>(value);
        push(Step::dict, 1);
        push_text(Step::key, pair.key);
        list_value(pair.value, depth);
    }

    // One collection per depth, kept from body to body; a deque, as deeper
    // ones are added while shallower ones are in use.
    template <class T> static T& scratch(std::deque<T>& stack, std::size_t depth) {
        if (stack.size() <= depth) stack.resize(depth + 1);
        return stack[depth];
    }

    void push(Step::Op op, std::size_t size) {
        Step step{};
        step.op = op;
        step.size = static_cast<std::uint32_t>(size);
        out_.steps.push_back(step);
    }
    void push_text(Step::Op op, std::string_view text) {
        Step step{};
        step.op = op;
        step.start = out_.texts.size();
        step.length = text.size();
        out_.texts.append(text);
        out_.steps.push_back(step);
    }
    void push_literal(std::string_view text) {
        push_text(Step::literal, text);
        out_.steps.back().reading = read_literal(text);
    }

    Unwrapped out_;
    std::deque<BodyEntries> bodies_;
    std::deque<ListEntries> lists_;
};

} // namespace

std::optional<Unwrapped> unwrap(const Body& body) {
    Unwrapper unwrapper;
    if (!unwrapper.body(body, 0)) return std::nullopt;
    return unwrapper.done();
}

std::optional<Unwrapped> unwrap(const Value& value) {
    Unwrapper unwrapper;
    if (!unwrapper.value(value, 0)) return std::nullopt;
    return unwrapper.done();
}

} // namespace quarel
