#pragma once
// The pages of a book stepped one after the other, on the model of a layout iterator: Begin,
// then Next for each page, then End. A list of any length is stepped range by range, never
// written out page by page.

#include "anchor/PageList.h"

#include <cstddef>
#include <cstdint>

namespace crv::book {

class PageCursor {
public:
    PageCursor() = default;
    explicit PageCursor(PageList pages);

    const PageList& Pages() const { return pages_; }
    size_t Count() const { return count_; }

    // Before the first page; false when there is none.
    bool Begin();
    // Steps to the next page; false after the last page, and before Begin.
    bool Next();
    // After the last page, or to stop early: no page is stepped to any more.
    void End() { running_ = false; }

    // The page stepped to, valid after a Next that returned true.
    int32_t Page() const { return page_; }
    // How many pages Next has stepped to since Begin.
    size_t Done() const { return done_; }

private:
    PageList pages_;
    size_t count_ = 0;
    bool running_ = false;
    size_t range_ = 0;
    int32_t page_ = 0;
    size_t done_ = 0;
};

}  // namespace crv::book
