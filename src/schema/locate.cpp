#include "schema/locate.hpp"

#include <algorithm>

namespace quarel {

namespace {

std::string_view kind_text(const ListValue& value) {
    if (std::holds_alternative<Literal>(value)) return kind_name(Kind::literal);
    if (std::holds_alternative<String>(value)) return kind_name(Kind::string);
    return kind_name(Kind::list);
}

const std::string* key_step(const std::vector<PathStep>& path, std::size_t i) {
    return i < path.size() ? std::get_if<std::string>(&path[i]) : nullptr;
}
const std::size_t* index_step(const std::vector<PathStep>& path, std::size_t i) {
    return i < path.size() ? std::get_if<std::size_t>(&path[i]) : nullptr;
}

class Finder {
  public:
    Finder(const Locations& where, const std::vector<PathStep>& path, bool as_key)
        : where_(where), path_(path), as_key_(as_key) {}

    std::optional<Located> in_body(const Body& body, std::size_t i, const Pair* holder) {
        if (i == path_.size()) {
            if (!holder) {
                found_.what = Located::document;
                const std::size_t start = body.byte_order_mark ? utf8_bom.size() : 0;
                found_.span = {{start, 1, 1}, {start, 1, 1}};
                return found_;
            }
            return pair_itself(*holder);
        }
        const std::string* key = key_step(path_, i);
        if (!key || !collect(body, entries_)) return std::nullopt;
        const Entry* entry = entries_.find(*key);
        if (!entry) return std::nullopt;
        const Pair* first = *entries_.begin(*entry);
        if (as_key_ && i + 1 == path_.size()) {
            found_.what = Located::key;
            return spanned(*first, key_span,
                           Segment{first->key.str(), std::string(block_name(*first))});
        }
        if (entry->named) {
            if (i + 1 == path_.size()) {
                found_.what = Located::names;
                return spanned(*first, key_span, Segment{first->key.str(), {}});
            }
            const std::string* name = key_step(path_, i + 1);
            const Pair* block = name ? named_block(entries_, *entry, *name) : nullptr;
            if (!block) return std::nullopt;
            found_.pairs.push_back({block->key.str(), *name});
            if (as_key_ && i + 2 == path_.size()) {
                found_.what = Located::name;
                return spanned(*block, name_span, std::nullopt);
            }
            return in_pair(*block, i + 2);
        }
        if (entry->count == 1) return in_only_pair(*first, i + 1);
        const Pair* second = entries_.begin(*entry)[1];
        if (i + 1 == path_.size()) {
            const PairSpan* at_first = where_.find(first);
            if (!at_first) return std::nullopt;
            found_.what = Located::repeated;
            found_.first = key_span(*first, *at_first);
            found_.count = entry->count;
            return spanned(*second, key_span, Segment{first->key.str(), {}});
        }
        const std::size_t* index = index_step(path_, i + 1);
        if (!index || *index >= entry->count) return std::nullopt;
        const Pair* pair = entries_.begin(*entry)[*index];
        found_.pairs.push_back({pair->key.str(), std::string(block_name(*pair))});
        return in_pair(*pair, i + 2);
    }

    // A key's one pair; an index 0 after it is the list of one that a schema
    // may wrap its value in.
    std::optional<Located> in_only_pair(const Pair& pair, std::size_t i) {
        found_.pairs.push_back({pair.key.str(), std::string(block_name(pair))});
        const std::size_t* index = index_step(path_, i);
        if (index && !list_of(pair.value)) {
            if (*index != 0) return std::nullopt;
            ++i;
        }
        return in_pair(pair, i);
    }

    std::optional<Located> in_pair(const Pair& pair, std::size_t i) {
        if (i == path_.size()) return pair_itself(pair);
        const PairSpan* at = where_.find(&pair);
        if (!at) return std::nullopt;
        if (const Block* block = block_of(pair.value)) return in_body(block->body, i, &pair);
        if (const List* list = list_of(pair.value)) return in_list(*list, value_span(pair, *at), i);
        return std::nullopt;
    }

    std::optional<Located> in_list(const List& list, Span span, std::size_t i) {
        if (i == path_.size()) {
            found_.kind = kind_name(Kind::list);
            found_.span = span;
            return found_;
        }
        ListEntries entries;
        if (collect(list, entries)) return in_list_pairs(list, entries, span.start, i);
        const std::size_t* index = index_step(path_, i);
        if (!index || *index >= list.items.size()) return std::nullopt;
        const Span item = item_spans(list, span.start)[*index];
        return in_list_value(list.items[*index].value, item, i + 1);
    }

    std::optional<Located> in_list_pairs(const List& list, const ListEntries& entries,
                                         TextPosition start, std::size_t i) {
        const std::string* key = key_step(path_, i);
        const Entry* entry = key ? entries.find(*key) : nullptr;
        if (!entry) return std::nullopt;
        const std::vector<Span> items = item_spans(list, start);
        auto pair_start = [&](const ListPair* pair) {
            for (std::size_t n = 0; n < list.items.size(); ++n) {
                const auto* item = std::get_if<Boxed<ListPair>>(&list.items[n].value);
                if (item && &**item == pair) return items[n].start;
            }
            return start;
        };
        const ListPair* first = *entries.begin(*entry);
        if (as_key_ && i + 1 == path_.size()) {
            found_.what = Located::key;
            found_.span = list_key_span(*first, pair_start(first));
            return found_;
        }
        if (entry->count == 1) {
            const std::size_t* index = index_step(path_, i + 1);
            if (index && !std::holds_alternative<Boxed<List>>(first->value)) {
                if (*index != 0) return std::nullopt;
                ++i;
            }
            return in_list_value(first->value, list_value_span(*first, pair_start(first)), i + 1);
        }
        if (i + 1 == path_.size()) {
            const ListPair* second = entries.begin(*entry)[1];
            found_.what = Located::repeated;
            found_.first = list_key_span(*first, pair_start(first));
            found_.span = list_key_span(*second, pair_start(second));
            found_.count = entry->count;
            return found_;
        }
        const std::size_t* index = index_step(path_, i + 1);
        if (!index || *index >= entry->count) return std::nullopt;
        const ListPair* pair = entries.begin(*entry)[*index];
        return in_list_value(pair->value, list_value_span(*pair, pair_start(pair)), i + 2);
    }

    // An element, whose text is `span`; a pair reads as a dict of one key.
    std::optional<Located> in_list_value(const ListValue& value, Span span, std::size_t i) {
        if (i == path_.size()) {
            found_.kind = kind_text(value);
            found_.span = span;
            return found_;
        }
        if (const auto* list = std::get_if<Boxed<List>>(&value)) return in_list(**list, span, i);
        const auto* pair = std::get_if<Boxed<ListPair>>(&value);
        const std::string* key = key_step(path_, i);
        if (!pair || !key || (*pair)->key != *key) return std::nullopt;
        if (as_key_ && i + 1 == path_.size()) {
            found_.what = Located::key;
            found_.span = list_key_span(**pair, span.start);
            return found_;
        }
        return in_list_value((*pair)->value, list_value_span(**pair, span.start), i + 1);
    }

  private:
    // The pair's value as a whole: a block by its key and name.
    std::optional<Located> pair_itself(const Pair& pair) {
        const PairSpan* at = where_.find(&pair);
        if (!at) return std::nullopt;
        found_.kind = kind_name(kind_of(pair.value));
        if (block_of(pair.value)) {
            found_.what = Located::block;
            found_.span = head_span(pair, *at);
        } else {
            found_.span = value_span(pair, *at);
        }
        return found_;
    }

    template <class SpanOf>
    std::optional<Located> spanned(const Pair& pair, SpanOf span_of,
                                   std::optional<Segment> segment) {
        const PairSpan* at = where_.find(&pair);
        if (!at) return std::nullopt;
        found_.span = span_of(pair, *at);
        if (segment) found_.pairs.push_back(std::move(*segment));
        return found_;
    }

    const Locations& where_;
    const std::vector<PathStep>& path_;
    bool as_key_;
    Located found_;
    BodyEntries entries_;
};

// left_out's walk: the left-out pairs of each body, then of the blocks in it.
// `entries` is scratch space, reused from body to body.
bool gather(const Body& body, const Locations& where, std::vector<Segment>& pairs,
            std::vector<LeftOutPair>& out, BodyEntries& entries) {
    if (!collect(body, entries)) return false;
    for (const LeftOut& left : entries.left_out) {
        const PairSpan* at = where.find(left.pair);
        const PairSpan* first = where.find(left.first);
        if (!at || !first) return false;
        LeftOutPair found{left.why, head_span(*left.pair, *at), first->start.line, pairs};
        found.pairs.push_back({left.pair->key.str(), std::string(block_name(*left.pair))});
        out.push_back(std::move(found));
    }
    for (const PairRef& ref : body.pairs) {
        const Block* block = block_of(ref->value);
        if (!block) continue;
        pairs.push_back({ref->key.str(), std::string(block_name(*ref))});
        if (!gather(block->body, where, pairs, out, entries)) return false;
        pairs.pop_back();
    }
    return true;
}

bool holds(const Span& span, std::size_t offset) {
    return span.start.offset <= offset && offset <= span.end.offset;
}

// path_at's walk, down the values whose text holds the offset.
class Descent {
  public:
    Descent(const Locations& where, std::size_t offset) : where_(where), offset_(offset) {}

    bool in_body(const Body& body, std::vector<PathStep>& path) {
        BodyEntries entries;
        if (!collect(body, entries)) return false;
        for (const PairRef& ref : body.pairs) {
            const Pair& pair = *ref;
            const PairSpan* at = where_.find(&pair);
            if (!at) return false;
            if (!holds({at->start, at->end}, offset_)) continue;
            if (!steps_to(entries, pair, path)) return true;
            const TextPosition start = value_start(pair, *at);
            if (const Block* block = block_of(pair.value)) {
                Cursor brace{start};
                if (block->name) brace.over(*block->name);
                brace.over(block->before_brace);
                if (offset_ > brace.at.offset && offset_ < at->end.offset)
                    return in_body(block->body, path);
            } else if (const List* list = list_of(pair.value)) {
                if (offset_ > start.offset && offset_ < at->end.offset) in_list(*list, start, path);
            }
            return true;
        }
        return true;
    }

  private:
    // The steps from a body's dict to a pair's value; false for a pair the
    // plain value leaves out.
    static bool steps_to(const BodyEntries& entries, const Pair& pair,
                         std::vector<PathStep>& path) {
        const Entry* entry = entries.find(pair.key.view());
        const Pair* const* begin = entries.begin(*entry);
        const Pair* const* found = std::find(begin, entries.end(*entry), &pair);
        if (found == entries.end(*entry)) return false;
        path.emplace_back(pair.key.str());
        if (entry->named)
            path.emplace_back(std::string(block_name(pair)));
        else if (entry->count > 1)
            path.emplace_back(static_cast<std::size_t>(found - begin));
        return true;
    }

    void in_list(const List& list, TextPosition start, std::vector<PathStep>& path) {
        ListEntries entries;
        const bool pairs = collect(list, entries);
        const std::vector<Span> spans = item_spans(list, start);
        for (std::size_t i = 0; i < list.items.size(); ++i) {
            const ListItem& item = list.items[i];
            const Span& span = spans[i];
            if (!holds(span, offset_)) continue;
            const auto* pair = std::get_if<Boxed<ListPair>>(&item.value);
            if (pairs) {
                const Entry* entry = entries.find((*pair)->key.view());
                path.emplace_back((*pair)->key.str());
                if (entry->count > 1) {
                    auto begin = entries.begin(*entry);
                    path.emplace_back(static_cast<std::size_t>(
                        std::find(begin, entries.end(*entry), &**pair) - begin));
                }
                return in_pair_value(**pair, span.start, path);
            }
            path.emplace_back(i);
            if (pair) {
                path.emplace_back((*pair)->key.str());
                return in_pair_value(**pair, span.start, path);
            }
            if (const auto* nested = std::get_if<Boxed<List>>(&item.value))
                if (offset_ > span.start.offset && offset_ < span.end.offset)
                    in_list(**nested, span.start, path);
            return;
        }
    }

    void in_pair_value(const ListPair& pair, TextPosition start, std::vector<PathStep>& path) {
        const Span value = list_value_span(pair, start);
        if (const auto* nested = std::get_if<Boxed<List>>(&pair.value)) {
            if (offset_ > value.start.offset && offset_ < value.end.offset)
                in_list(**nested, value.start, path);
        } else if (const auto* inner = std::get_if<Boxed<ListPair>>(&pair.value)) {
            if (holds(value, offset_)) {
                path.emplace_back((*inner)->key.str());
                in_pair_value(**inner, value.start, path);
            }
        }
    }

    const Locations& where_;
    std::size_t offset_;
};

} // namespace

std::optional<std::vector<PathStep>> path_at(const Body& body, const Locations& where,
                                             std::size_t offset) {
    std::vector<PathStep> path;
    if (!Descent(where, offset).in_body(body, path)) return std::nullopt;
    return path;
}

std::optional<Located> locate(const Body& body, const Locations& where,
                              const std::vector<PathStep>& path, bool as_key) {
    if (as_key && path.empty()) return std::nullopt;
    return Finder(where, path, as_key).in_body(body, 0, nullptr);
}

std::optional<std::vector<LeftOutPair>> left_out(const Body& body, const Locations& where) {
    std::vector<LeftOutPair> out;
    std::vector<Segment> pairs;
    BodyEntries entries;
    if (!gather(body, where, pairs, out, entries)) return std::nullopt;
    std::sort(out.begin(), out.end(), [](const LeftOutPair& a, const LeftOutPair& b) {
        return a.head.start.offset < b.head.start.offset;
    });
    return out;
}

std::optional<bool> leaves_out(const Body& body) {
    BodyEntries entries;
    std::vector<const Body*> bodies{&body};
    while (!bodies.empty()) {
        const Body& next = *bodies.back();
        bodies.pop_back();
        if (!collect(next, entries)) return std::nullopt;
        if (!entries.left_out.empty()) return true;
        for (const PairRef& ref : next.pairs)
            if (const Block* block = block_of(ref->value)) bodies.push_back(&block->body);
    }
    return false;
}

} // namespace quarel
