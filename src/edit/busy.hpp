// Busy: the outcome of an edit that met a locked sibling pair.
//
// Edits lock the pairs next to the one they change with try-locks only. A
// lock that is taken can only be held further up the same thread's stack, so
// waiting would hang: the edit reports Busy instead, having changed nothing.
#pragma once

namespace quarel {

struct Busy {};

} // namespace quarel
