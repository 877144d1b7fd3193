#include "schema/collect.hpp"

namespace quarel {

namespace {

// Bodies and lists of up to this many pairs look keys and names up by a
// scan.
constexpr std::size_t scan_limit = 16;
constexpr std::uint32_t left_out = UINT32_MAX;

template <class Member> void clear(Collected<Member>& out) {
    out.entries.clear();
    out.members.clear();
    out.left_out.clear();
    out.in_order.clear();
    out.entry_of.clear();
    out.firsts.clear();
    // Clearing a map clears all its buckets, however few entries it holds: after a large
    // body, every small one would pay for them.
    if (!out.by_key.empty()) out.by_key.clear();
    if (!out.by_name.empty()) out.by_name.clear();
}

// The index of the key's entry, made when the key is new.
template <class Member>
std::uint32_t entry_for(Collected<Member>& out, std::string_view key, bool named, bool scan) {
    if (scan) {
        for (std::uint32_t i = 0; i < out.entries.size(); ++i)
            if (out.entries[i].key == key) return i;
    } else if (auto found = out.by_key.find(key); found != out.by_key.end()) {
        return found->second;
    }
    const auto index = static_cast<std::uint32_t>(out.entries.size());
    out.entries.push_back({key, named, 0, 0});
    if (!scan) out.by_key.emplace(key, index);
    return index;
}

// Lays the members out entry by entry, each entry's in their order.
template <class Member> void place_members(Collected<Member>& out) {
    std::uint32_t next = 0;
    for (Entry& entry : out.entries) {
        entry.first = next;
        next += entry.count;
        entry.count = 0;
    }
    out.members.resize(next);
    for (std::size_t i = 0; i < out.in_order.size(); ++i) {
        if (out.entry_of[i] == left_out) continue;
        Entry& entry = out.entries[out.entry_of[i]];
        out.members[entry.first + entry.count++] = out.in_order[i];
    }
}

// The block that came first with the pair's key and name, when one did.
const Pair* earlier_block(BodyEntries& out, std::uint32_t entry, const Pair& pair, bool scan) {
    const std::string_view name = block_name(pair);
    if (!scan) {
        auto [at, added] = out.by_name.try_emplace({entry, name}, &pair);
        return added ? nullptr : at->second;
    }
    for (std::size_t i = 0; i < out.in_order.size(); ++i)
        if (out.entry_of[i] == entry && block_name(*out.in_order[i]) == name)
            return out.in_order[i];
    return nullptr;
}

} // namespace

template <class Member> const Entry* Collected<Member>::find(std::string_view key) const noexcept {
    for (const Entry& entry : entries)
        if (entry.key == key) return &entry;
    return nullptr;
}
template struct Collected<Pair>;
template struct Collected<ListPair>;

std::string_view block_name(const Pair& pair) noexcept {
    const Block* block = block_of(pair.value);
    return block && block->name ? block->name->view() : std::string_view();
}

bool collect(const Body& body, BodyEntries& out) {
    clear(out);
    const bool scan = body.pairs.size() <= scan_limit;
    for (const PairRef& ref : body.pairs) {
        if (ref.lock().writing()) return false;
        const Pair& pair = *ref;
        const bool named = !block_name(pair).empty();
        const std::uint32_t index = entry_for(out, pair.key.view(), named, scan);
        if (index == out.firsts.size()) out.firsts.push_back(&pair);
        Entry& entry = out.entries[index];
        std::uint32_t member = index;
        if (entry.named != named) {
            out.left_out.push_back({&pair, out.firsts[index], LeftOut::other_form});
            member = left_out;
        } else if (named) {
            if (const Pair* first = earlier_block(out, index, pair, scan)) {
                out.left_out.push_back({&pair, first, LeftOut::name_again});
                member = left_out;
            }
        }
        out.in_order.push_back(&pair);
        out.entry_of.push_back(member);
        if (member != left_out) ++entry.count;
    }
    place_members(out);
    return true;
}

bool collect(const List& list, ListEntries& out) {
    clear(out);
    if (list.items.empty()) return false;
    const bool scan = list.items.size() <= scan_limit;
    for (const ListItem& item : list.items) {
        const auto* pair = std::get_if<Boxed<ListPair>>(&item.value);
        if (!pair) return false;
        const std::uint32_t index = entry_for(out, (*pair)->key.view(), false, scan);
        out.in_order.push_back(&**pair);
        out.entry_of.push_back(index);
        ++out.entries[index].count;
    }
    place_members(out);
    return true;
}

const Pair* named_block(const BodyEntries& entries, const Entry& entry, std::string_view name) {
    for (auto at = entries.begin(entry); at != entries.end(entry); ++at)
        if (block_name(**at) == name) return *at;
    return nullptr;
}

} // namespace quarel
