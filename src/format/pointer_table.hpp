// PointerTable<V>: values kept for the nodes of a tree, found by address.
// Open addressing with linear probing: a large document has hundreds of
// thousands of lists and bodies, and a node-based hash table spent more on
// its nodes than the formatter on the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace quarel {

template <class V> class PointerTable {
  public:
    const V* find(const void* key) const noexcept {
        if (slots_.empty()) return nullptr;
        for (std::size_t at = slot_of(key);; at = (at + 1) & (slots_.size() - 1)) {
            if (slots_[at].first == key) return &slots_[at].second;
            if (!slots_[at].first) return nullptr;
        }
    }

    void set(const void* key, V value) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        for (std::size_t at = slot_of(key);; at = (at + 1) & (slots_.size() - 1)) {
            if (slots_[at].first == key) return void(slots_[at].second = std::move(value));
            if (slots_[at].first) continue;
            slots_[at] = {key, std::move(value)};
            ++count_;
            return;
        }
    }

  private:
    std::size_t slot_of(const void* key) const noexcept {
        // Fibonacci hashing: nodes are aligned, so their low bits say little.
        const auto bits = reinterpret_cast<std::uintptr_t>(key) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(bits >> 20) & (slots_.size() - 1);
    }

    void grow() {
        std::vector<std::pair<const void*, V>> old(slots_.empty() ? 64 : slots_.size() * 2);
        old.swap(slots_);
        count_ = 0;
        for (auto& [key, value] : old)
            if (key) set(key, std::move(value));
    }

    std::vector<std::pair<const void*, V>> slots_;
    std::size_t count_ = 0;
};

} // namespace quarel
