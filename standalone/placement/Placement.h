#pragma once
// Placing the anchored elements of a layout page after page, through the host interfaces
// only, so that every host (the standalone book, a desktop GIS's atlas) runs the same
// selection and the same placements: each element selected once, in priority order, then
// placed for every page.

#include "anchor/CRVAnchorManager.h"

#include <cstdint>
#include <functional>
#include <optional>
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

// The anchor record on an element, read without raising or reporting; none when it has none.
ComPtr<PropertyBag> AnchorRecordOf(const ComPtr<LayoutElement>& element);

// Every element of a layout, in the container's order, each group followed by its members,
// depth first; `group` names the enclosing groups, outermost first, joined by " / ".
void WalkLayout(const ComPtr<ElementContainer>& layout,
                const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit);

// 0 for HIGH, 1 for MEDIUM, 2 for LOW, 3 for any other code: the order of placement.
int PriorityRank(int16_t code);

// The anchored elements of the running application's page layout, selected once.
class AnchorSelection {
public:
    using ManagerFactory = std::function<ComPtr<_CRVAnchorManager>()>;

    struct Selected {
        ComPtr<LayoutElement> element;
        ComPtr<_CRVAnchorManager> manager;
        int16_t priority;
    };
    // An element that carries an anchor record but is left out, with the reason in a few
    // words ("its target \"Inset Map\" is not in the layout").
    struct LeftOut {
        std::string name;
        std::string reason;
    };

    // Walks the layout of the running application's document and selects every element the
    // engine says is anchored, HIGH first, then MEDIUM, LOW and any other priority, in walk
    // order within a priority. The engine tells its caller nothing, only the user;
    // `reportsShown`, when given, counts the reports shown so far, so that an element whose
    // selection was reported is left out instead of being reported again on every page.
    explicit AnchorSelection(const ManagerFactory& newManager, const std::function<int()>& reportsShown = {});
    ~AnchorSelection();
    AnchorSelection(const AnchorSelection&) = delete;
    AnchorSelection& operator=(const AnchorSelection&) = delete;

    const std::vector<Selected>& Elements() const { return selected_; }
    const std::vector<LeftOut>& LeftOutElements() const { return left_out_; }
    // The element's priority when it is selected.
    std::optional<int16_t> PriorityOf(const ComPtr<LayoutElement>& element) const;

    // Places every selected element for the page, in order. The host has put the page in
    // force before.
    void PlacePage(int32_t page);

private:
    std::vector<Selected> selected_;
    std::vector<LeftOut> left_out_;
};

}  // namespace crv::standalone
