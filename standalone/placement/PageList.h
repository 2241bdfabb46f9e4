#pragma once
// The pages of a book asked for on a command line: ranges of page numbers, and their reader.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crv::standalone {

// Page numbers as ascending ranges that neither overlap nor touch: a book of any length is a
// few numbers, and a page is looked up in one comparison per range.
class PageList {
public:
    struct Range {
        int32_t first;
        int32_t last;
    };
    PageList() = default;
    PageList(int32_t first, int32_t last) { Add(first, last); }
    // Adds first to last, both included; nothing when last < first.
    void Add(int32_t first, int32_t last);
    size_t Count() const;
    bool Contains(int32_t page) const;
    const std::vector<Range>& Ranges() const { return ranges_; }

private:
    std::vector<Range> ranges_;
};

// Page numbers from text such as "1-3,7": pieces of a number or a range, each inside
// first..last. Throws std::invalid_argument with a one-line message naming --pages.
PageList ParseBookPages(const std::string& text, int32_t first, int32_t last);

}  // namespace crv::standalone
