// KeyTable: the keys of one parse, each stored once.
//
// A document repeats a few dozen keys thousands of times, and most are
// longer than a text holds inline; stored once each, with every pair's key
// sharing the one block, they take no memory per pair, and finding one
// costs fewer instructions than copying it. (Values, names and strings
// repeat less: looking them up cost more instructions than it saved.)
#pragma once

#include "cst/arena.hpp"
#include "cst/text.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quarel {

class KeyTable {
  public:
    // A text of `key`, which is longer than Text::inline_capacity, made in
    // `arena`: it shares the block of an equal key made before.
    Text text(Arena& arena, std::string_view key) {
        const Words words(key);
        if (slots_.empty()) grow();
        for (std::size_t i = words.hash() >> shift_;; i = (i + 1) & (slots_.size() - 1)) {
            Slot& slot = slots_[i];
            if (slot.size == 0) return insert(arena, key, words, slot);
            if (words.same(slot, key)) return Text::sharing(arena, slot.text);
        }
    }

  private:
    // A free slot has size 0.
    struct Slot {
        std::uint64_t first = 0, last = 0;
        std::size_t size = 0;
        Text text;
    };
    // A key's first and last 8 bytes: with its size, all of a key of up to
    // 16 bytes, so most comparisons read no block.
    struct Words {
        std::uint64_t first, last;
        std::size_t size;
        explicit Words(std::string_view key) noexcept : size(key.size()) {
            std::memcpy(&first, key.data(), 8);
            std::memcpy(&last, key.data() + key.size() - 8, 8);
        }
        std::uint64_t hash() const noexcept {
            return (first * 0x9E3779B97F4A7C15u ^ last ^ size) * 0xC2B2AE3D27D4EB4Fu;
        }
        bool same(const Slot& slot, std::string_view key) const noexcept {
            return slot.first == first && slot.last == last && slot.size == size &&
                   (size <= 16 || std::memcmp(slot.text.view().data(), key.data(), size) == 0);
        }
    };
    // The table stops growing at max_slots, half of them used: further
    // distinct keys are stored for each pair, which costs only memory.
    static constexpr std::size_t initial_slots = 64;
    static constexpr std::size_t max_slots = std::size_t(1) << 14;

    Text insert(Arena& arena, std::string_view key, const Words& words, Slot& slot);
    void grow();

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    int shift_ = 64; // of a hash, to the index of its first slot
};

} // namespace quarel
