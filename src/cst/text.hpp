// Text: the owned UTF-8 string stored in every text field of the tree.
//
// Most trivia, keys and literals are a few bytes long, and a tree holds
// several texts per pair, so the type is 16 bytes with up to 15 bytes
// stored inline; longer texts live in one heap block, or, for parsed
// texts, in the parser's arena (arena.hpp tells the two apart).
#pragma once

#include "cst/arena.hpp"
#include "cst/short_copy.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quarel {

class Text {
  public:
    Text() noexcept { set_inline_size(0); }
    explicit Text(std::string_view s) { assign(s); }
    Text(Arena& arena, std::string_view s) {
        if (!assign_inline(s)) assign_in(arena, s);
    }
    Text(const Text& other) { assign(other.view()); }
    Text(Text&& other) noexcept {
        std::memcpy(raw_, other.raw_, sizeof raw_);
        other.set_inline_size(0);
    }
    Text& operator=(const Text& other) {
        if (this != &other) {
            Text copy(other);
            swap(copy);
        }
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        Text moved(std::move(other));
        swap(moved);
        return *this;
    }
    Text& operator=(std::string_view s) { return *this = Text(s); }
    ~Text() {
        if (!is_inline()) release_heap();
    }

    std::string_view view() const noexcept {
        if (is_inline()) return {reinterpret_cast<const char*>(raw_), inline_size()};
        return {heap_data(), heap_size()};
    }
    operator std::string_view() const noexcept { return view(); }
    std::size_t size() const noexcept { return is_inline() ? inline_size() : heap_size(); }
    bool empty() const noexcept { return size() == 0; }
    std::string str() const { return std::string(view()); }

    void swap(Text& other) noexcept {
        unsigned char tmp[16];
        std::memcpy(tmp, raw_, 16);
        std::memcpy(raw_, other.raw_, 16);
        std::memcpy(other.raw_, tmp, 16);
    }

    friend bool operator==(const Text& a, std::string_view b) noexcept { return a.view() == b; }

  private:
    // Layout: inline texts keep their bytes in raw_[0..14] and 0x80 | size in
    // raw_[15]; heap texts keep a pointer in raw_[0..7] and the size in
    // raw_[8..15] (little-endian, so its top bit, the inline flag, is clear).
    static_assert(std::endian::native == std::endian::little);
    static constexpr std::size_t inline_capacity = 15;
    static constexpr unsigned char inline_flag = 0x80;

    bool is_inline() const noexcept { return raw_[15] & inline_flag; }
    std::size_t inline_size() const noexcept { return raw_[15] & ~inline_flag & 0xff; }
    void set_inline_size(std::size_t n) noexcept {
        raw_[15] = static_cast<unsigned char>(inline_flag | n);
    }
    const char* heap_data() const noexcept {
        char* p;
        std::memcpy(&p, raw_, sizeof p);
        return p;
    }
    std::size_t heap_size() const noexcept {
        std::uint64_t n;
        std::memcpy(&n, raw_ + 8, sizeof n);
        return n;
    }
    bool assign_inline(std::string_view s) noexcept {
        if (s.size() > inline_capacity) return false;
        copy_short(reinterpret_cast<char*>(raw_), s.data(), s.size());
        set_inline_size(s.size());
        return true;
    }
    void set_heap(char* p, std::uint64_t size) noexcept {
        std::memcpy(raw_, &p, sizeof p);
        std::memcpy(raw_ + 8, &size, sizeof size);
    }
    void assign(std::string_view s);
    void assign_in(Arena& arena, std::string_view s);
    void release_heap() noexcept;

    unsigned char raw_[16];
};

} // namespace quarel
