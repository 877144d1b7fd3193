// OptionalText: a Text that may be absent, in the Text's own 8 bytes.
//
// std::optional<Text> would take 16 bytes in every list element and block
// of a tree; absence is a word no text has instead. The interface is
// std::optional's, as far as the engine uses it.
#pragma once

#include "cst/text.hpp"

#include <optional>

namespace quarel {

class OptionalText {
  public:
    OptionalText() noexcept : text_(absent_text()) {}
    OptionalText(std::nullopt_t) noexcept : OptionalText() {}
    OptionalText(Text text) noexcept : text_(std::move(text)) {}
    OptionalText(std::optional<Text> text) noexcept
        : text_(text ? std::move(*text) : absent_text()) {}
    OptionalText(const OptionalText&) = default;
    OptionalText(OptionalText&&) noexcept = default;
    OptionalText& operator=(const OptionalText&) = default;
    OptionalText& operator=(OptionalText&&) noexcept = default;

    explicit operator bool() const noexcept { return has_value(); }
    bool has_value() const noexcept { return text_.word_ != absent; }
    Text& operator*() noexcept { return text_; }
    const Text& operator*() const noexcept { return text_; }
    Text* operator->() noexcept { return &text_; }
    const Text* operator->() const noexcept { return &text_; }
    void reset() noexcept { text_ = absent_text(); }

  private:
    // An inline word with a size no text has; being inline, it owns nothing,
    // so Text's copy, move and destructor handle it as they are.
    static constexpr std::uint64_t absent = ~std::uint64_t(0);
    static Text absent_text() noexcept {
        Text t;
        t.word_ = absent;
        return t;
    }

    Text text_;
};

} // namespace quarel
