// Which keys the blocks of each key hold, for completing keys: inside a
// `dimension` block, the keys other `dimension` blocks use, the most used
// first.
#pragma once

#include "cst/tree.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace quarel {

// For each block key, and nullopt for the top of the document, how many
// such blocks hold each key: a key counts once per block however often it
// repeats there. A block key with no keys under it is listed too.
using KeyCounts = std::map<std::optional<std::string>, std::map<std::string, std::size_t>>;

// With `repeated`, how many blocks hold each key more than once, which
// tells completion whether a key a block already holds may come again.
// Nullopt when a pair is locked for writing.
std::optional<KeyCounts> key_counts(const Body& body, bool repeated = false);

} // namespace quarel
