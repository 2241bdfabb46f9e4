#pragma once
// A command's `show`, the same whichever host runs it: every element of the layout in the
// order of its walk, how deep in groups, and its anchor record in one line.

#include "host/Data.h"
#include "host/Layout.h"

#include <cstddef>
#include <string>
#include <vector>

namespace crv::commands {

struct ShownElement {
    ComPtr<LayoutElement> element;
    std::string name;
    size_t depth = 0;  // 0 at the layout's top, 1 inside one group, ...
    ComPtr<PropertyBag> record;  // none for an element without an anchor record
    std::string summary;  // RecordSummary of the record, or ""
};

// The running application's layout, groups followed by their members.
std::vector<ShownElement> ShownElements();

}  // namespace crv::commands
