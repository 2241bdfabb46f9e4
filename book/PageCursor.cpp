#include "book/PageCursor.h"

#include <utility>

namespace crv::book {

PageCursor::PageCursor(PageList pages) : pages_(std::move(pages)), count_(pages_.Count()) {}

bool PageCursor::Begin() {
    running_ = true;
    range_ = 0;
    done_ = 0;
    return count_ > 0;
}

bool PageCursor::Next() {
    if (!running_) return false;
    const auto& ranges = pages_.Ranges();
    if (done_ > 0 && page_ < ranges[range_].last) {
        ++page_;
    } else {
        if (done_ > 0) ++range_;
        if (range_ >= ranges.size()) {
            running_ = false;
            return false;
        }
        page_ = ranges[range_].first;
    }
    ++done_;
    return true;
}

}  // namespace crv::book
