#include "commands/Show.h"

#include "book/Order.h"
#include "book/RecordText.h"
#include "host/HostClasses.h"

#include <algorithm>

namespace crv::commands {

std::vector<ShownElement> ShownElements() {
    std::vector<ShownElement> shown;
    book::WalkLayout(RunningApplication()->Document()->PageLayout(),
                     [&](const ComPtr<LayoutElement>& e, const std::string& group) {
                         ShownElement s;
                         s.element = e;
                         s.name = e->Name();
                         // The walk names the enclosing groups joined by " / ".
                         s.depth = group.empty() ? 0 : 1 + static_cast<size_t>(std::ranges::count(group, '/'));
                         s.record = book::AnchorRecordOf(e);
                         if (s.record) s.summary = book::RecordSummary(s.record);
                         shown.push_back(std::move(s));
                     });
    return shown;
}

}  // namespace crv::commands
