#include "cst/locations.hpp"

#include <bit>

namespace quarel {

std::optional<Locations> Locations::of(const Body& body) {
    Locations found;
    if (!locate_pairs(body, found.spans_)) return std::nullopt;
    // At most half full, so that probes stay short.
    found.slots_.assign(std::bit_ceil(2 * found.spans_.size() + 2), 0);
    for (std::size_t i = 0; i < found.spans_.size(); ++i) {
        std::size_t slot = found.slot_of(found.spans_[i].pair);
        while (found.slots_[slot] != 0) slot = (slot + 1) & (found.slots_.size() - 1);
        found.slots_[slot] = static_cast<std::uint32_t>(i + 1);
    }
    return found;
}

const PairSpan* Locations::find(const Pair* pair) const noexcept {
    for (std::size_t slot = slot_of(pair); slots_[slot] != 0;
         slot = (slot + 1) & (slots_.size() - 1)) {
        const PairSpan& span = spans_[slots_[slot] - 1];
        if (span.pair == pair) return &span;
    }
    return nullptr;
}

std::size_t Locations::slot_of(const Pair* pair) const noexcept {
    // Fibonacci hashing of the address.
    auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pair));
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
}

} // namespace quarel
