#pragma once
// Which of a series' sheets meet a view, without looking at every sheet: a uniform grid of
// buckets over the sheets' extent, about one sheet to a bucket.

#include "objects/GenericObjects.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace crv::objects {

class SheetIndex {
public:
    // Indexes `sheets` as they are; later queries must pass the same sheets.
    explicit SheetIndex(const std::vector<Rect>& sheets);

    // The sheets that meet `view`, edges touching counting as meeting, in ascending order:
    // exactly those a test of every sheet would give.
    std::vector<size_t> Meeting(const std::vector<Rect>& sheets, const Rect& view) const;

    size_t Count() const { return count_; }

private:
    size_t Column(double x) const;
    size_t Row(double y) const;

    size_t count_ = 0;
    double x0_ = 0, y0_ = 0, cellW_ = 1, cellH_ = 1;
    size_t columns_ = 0, rows_ = 0;
    // Sheet numbers by bucket: bucket b's sheets are members_[starts_[b] .. starts_[b + 1]).
    // 32-bit numbers: a series has far fewer pages, and the index stays small beside them.
    std::vector<uint32_t> starts_;
    std::vector<uint32_t> members_;
    // Sheets tested on every query: coordinates that are not finite, or too large for buckets.
    std::vector<uint32_t> loose_;
};

}  // namespace crv::objects
