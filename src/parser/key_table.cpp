#include "parser/key_table.hpp"

#include <bit>
#include <utility>

namespace quarel {

Text KeyTable::insert(Arena& arena, std::string_view key, const Words& words, Slot& slot) {
    Text made(arena, key);
    if (used_ == max_slots / 2) return made;
    Text shared = Text::sharing(arena, made);
    slot = Slot{words.first, words.last, words.size, std::move(made)};
    if (++used_ * 2 > slots_.size()) grow();
    return shared;
}

void KeyTable::grow() {
    std::vector<Slot> old = std::exchange(slots_, {});
    slots_.resize(old.empty() ? initial_slots : 2 * old.size());
    shift_ = 64 - std::countr_zero(slots_.size());
    const std::size_t mask = slots_.size() - 1;
    for (Slot& slot : old) {
        if (slot.size == 0) continue;
        std::size_t i = Words(slot.text.view()).hash() >> shift_;
        while (slots_[i].size != 0) i = (i + 1) & mask;
        slots_[i] = std::move(slot);
    }
}

} // namespace quarel
