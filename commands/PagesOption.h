#pragma once
// The pages of a book asked for on a command line (--pages), read strictly: a piece that is not
// a page or a range of pages inside the book is refused, where a record's page list leaves it
// out.

#include "anchor/PageList.h"

#include <cstdint>
#include <string>

namespace crv::commands {

// Page numbers from text such as "1-3,7": pieces of a number or a range, each inside
// first..last. Throws std::invalid_argument with a one-line message naming --pages.
PageList ParseBookPages(const std::string& text, int32_t first, int32_t last);

}  // namespace crv::commands
