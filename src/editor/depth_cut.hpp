// Which of many nested items an editor is given when it takes at most a
// number of them: the outermost, level by level, so that an outline of a
// huge document still shows every top-level block, and no item comes
// without those that hold it.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

namespace quarel {

class DepthCut {
  public:
    // No cut: every item is kept.
    DepthCut() = default;

    // `depth_of` (a member pointer or a function) gives an item's depth, 0
    // for the outermost.
    template <class Items, class Depth>
    DepthCut(const Items& items, Depth depth_of, std::size_t limit) {
        if (items.size() <= limit) return;
        std::vector<std::size_t> per_depth;
        for (const auto& item : items) {
            const std::size_t depth = std::invoke(depth_of, item);
            if (depth >= per_depth.size()) per_depth.resize(depth + 1);
            ++per_depth[depth];
        }
        std::size_t kept = 0;
        depth_ = 0;
        for (; kept + per_depth[depth_] <= limit; ++depth_) kept += per_depth[depth_];
        room_ = limit - kept;
    }

    // Whether the next item, in the order the items are written, is kept:
    // every one above the cut's depth, and at that depth the first that fit,
    // counted in `taken` (zero before the first item).
    bool keeps(std::size_t depth, std::size_t& taken) const {
        return depth < depth_ || (depth == depth_ && taken++ < room_);
    }

  private:
    std::size_t depth_ = std::numeric_limits<std::size_t>::max();
    std::size_t room_ = 0;
};

} // namespace quarel
