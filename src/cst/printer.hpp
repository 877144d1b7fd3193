// The source printer: writes a tree back as Quarel text, adding only the
// punctuation that the tree does not store.
//
// Pairs are read under their shared locks. A function returns false when a
// pair is locked for writing (only possible while that pair is being edited
// further up the stack); the output is then incomplete.
#pragma once

#include "cst/tree.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quarel {

// A printed tree as the runs of bytes it is made of, in order, pointing
// into the tree's texts. Parsed texts lie side by side in the source they
// came from, so an unedited stretch of tree is one run, and an unedited
// document is its source. Valid while the tree is unchanged.
class Printout {
  public:
    std::size_t size() const noexcept { return size_; }
    // Writes the size() bytes at `out`, for example into a bytes object made
    // at that size.
    void copy_to(char* out) const noexcept;
    void append_to(std::string& out) const;

  private:
    friend struct RunCollector;
    std::vector<std::string_view> runs_;
    std::size_t size_ = 0;
};

bool print_body(const Body& body, Printout& out);
bool print_body(const Body& body, std::string& out);
bool print_pair(const PairRef& pair, std::string& out, bool include_leading);
bool print_value(const Value& value, std::string& out);

} // namespace quarel
