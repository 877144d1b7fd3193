// Text: the owned UTF-8 string stored in every text field of the tree.
//
// Most trivia, keys and literals are a few bytes long, and a tree holds
// several texts per pair, so the type is one 8-byte word with up to 7 bytes
// stored inline; longer texts live in a block of their own on the heap, or,
// for parsed texts, in the parser's arena (arena.hpp tells the two apart).
// Each text holds its own reference to its block, so a block may be shared
// by texts of one parse (Text::sharing), and a text stays valid wherever it
// is moved and however long it lives.
#pragma once

#include "cst/arena.hpp"
#include "cst/short_copy.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace quarel {

class Text {
  public:
    static constexpr std::size_t inline_capacity = 7;

    Text() noexcept : word_(inline_word(0)) {}
    explicit Text(std::string_view s) { assign(s); }
    Text(Arena& arena, std::string_view s) { assign_in(arena, s); }
    Text(const Text& other) {
        if (other.is_inline())
            word_ = other.word_;
        else
            assign(other.view());
    }
    Text(Text&& other) noexcept : word_(std::exchange(other.word_, inline_word(0))) {}
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
        if (!is_inline()) Arena::release(const_cast<char*>(block()));
    }

    // A parsed text: `s` lies in a buffer readable up to `readable_end`, so
    // a short one is loaded as one word when 8 bytes remain there. (Made
    // for every text of a parse, so inlined where the compiler would not.)
    [[gnu::always_inline]] static Text in_source(Arena& arena, std::string_view s,
                                                 const char* readable_end) {
        Text t;
        if (s.size() <= inline_capacity && readable_end - s.data() >= 8) {
            std::memcpy(&t.word_, s.data(), 8);
            t.word_ = (t.word_ & pointer_mask) | inline_word(s.size());
        } else {
            t.assign_in(arena, s);
        }
        return t;
    }
    // Another text of the bytes of `original`, which was made in `arena` and
    // is held out of line: the two share one block.
    static Text sharing(Arena& arena, const Text& original) noexcept {
        arena.add_reference();
        Text t;
        t.word_ = original.word_;
        return t;
    }

    std::string_view view() const noexcept {
        const unsigned tag = this->tag();
        if (tag == 0) return {block() + sizeof(std::uint64_t), long_size(block())};
        return {tag & inline_flag ? inline_bytes() : block(), tag & ~inline_flag};
    }
    operator std::string_view() const noexcept { return view(); }
    std::size_t size() const noexcept {
        const unsigned tag = this->tag();
        return tag ? tag & ~inline_flag : long_size(block());
    }
    bool empty() const noexcept { return size() == 0; }
    std::string str() const { return std::string(view()); }
    // Whether the bytes are held in the text itself: then the 8 bytes at
    // inline_bytes() start with them (what follows them is filler).
    bool is_inline() const noexcept { return tag() & inline_flag; }
    const char* inline_bytes() const noexcept { return reinterpret_cast<const char*>(&word_); }

    void swap(Text& other) noexcept { std::swap(word_, other.word_); }

    friend bool operator==(const Text& a, std::string_view b) noexcept { return a.view() == b; }
    // Two inline texts are equal when their words are, but for the filler
    // after the bytes: a lookup compares each key so, in a few instructions.
    friend bool operator==(const Text& a, const Text& b) noexcept {
        if (a.is_inline() && b.is_inline()) {
            const std::uint64_t bytes = (std::uint64_t(1) << 8 * b.size()) - 1;
            return ((a.word_ ^ b.word_) & (bytes | ~pointer_mask)) == 0;
        }
        return a.view() == b.view();
    }

  private:
    friend class OptionalText;

    // Layout, as a little-endian word: an inline text keeps its bytes in
    // bytes 0..6 and 0x80 | size in byte 7. Otherwise bytes 0..6 hold the
    // block's address (user-space addresses leave the top byte clear) and
    // byte 7 the size when it is below 128, the block holding the bytes
    // alone; for 128 bytes and more byte 7 is 0 and the block starts with
    // the size as 8 bytes.
    static_assert(std::endian::native == std::endian::little && sizeof(void*) == 8);
    static constexpr unsigned inline_flag = 0x80;
    static constexpr std::size_t max_tagged_size = 127;
    static constexpr std::uint64_t pointer_mask = (std::uint64_t(1) << 56) - 1;

    static constexpr std::uint64_t inline_word(std::size_t size) noexcept {
        return std::uint64_t(inline_flag | size) << 56;
    }
    unsigned tag() const noexcept { return static_cast<unsigned>(word_ >> 56); }
    const char* block() const noexcept {
        return reinterpret_cast<const char*>(word_ & pointer_mask);
    }
    static std::size_t long_size(const char* block) noexcept {
        std::uint64_t n;
        std::memcpy(&n, block, sizeof n);
        return n;
    }
    bool assign_inline(std::string_view s) noexcept {
        if (s.size() > inline_capacity) return false;
        word_ = inline_word(s.size());
        copy_short(reinterpret_cast<char*>(&word_), s.data(), s.size());
        return true;
    }
    // Block sizes and where the bytes go in a block made for `s`.
    static std::size_t block_size(std::size_t n) noexcept {
        return n <= max_tagged_size ? n : sizeof(std::uint64_t) + n;
    }
    void set_block(char* block, std::string_view s) noexcept {
        const std::size_t n = s.size();
        if (n <= 16) {
            copy_short(block, s.data(), n);
            word_ = reinterpret_cast<std::uintptr_t>(block) | std::uint64_t(n) << 56;
        } else {
            set_long_block(block, s);
        }
    }
    void set_long_block(char* block, std::string_view s) noexcept;
    void assign(std::string_view s);
    void assign_in(Arena& arena, std::string_view s);

    std::uint64_t word_;
};

} // namespace quarel
