#pragma once
// Placing the anchored elements of a layout page after page, through the host interfaces
// only, so that every host (the standalone book, a desktop GIS's atlas) runs the same
// selection and the same placements: each element selected once, in priority order, then
// placed for every page.

#include "anchor/CRVAnchorManager.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
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

// The order in which anchored elements are placed so that each is placed after whatever moves
// the element it is placed against, and the cycles that no order can satisfy.
//
// An element anchored to a target T (found by name as the engine finds it) depends on every
// other given element whose placement moves T or changes T's extent: T itself, a group that
// holds T, and a member of T when T is a group. Any given element also depends on the given
// groups that hold it, whose placement carries it along. A group anchored to one of its own
// members, and a member anchored to a group that holds it, depend on themselves.
struct AnchorDependencies {
    // Indices into the elements given, in placement order: the order given wherever it already
    // places every element after what it depends on; otherwise, each time, the first element
    // in that order whose dependencies are all placed. Elements in a cycle are not in it; an
    // element that depends on one is placed against it where it stands.
    std::vector<size_t> order;
    // For each element given: "" or the cycle it is in, starting from its element that comes
    // first in the order given and ending where it began, such as "\"Title\" → \"Legend\" →
    // \"Title\"". A step that goes through a group names the target on the way and then the
    // group that moves it or the member that changes its extent: "\"G\" → \"M\" → its group
    // \"G\"" (a group anchored to its own member), "\"M\" → \"G\" → its member \"M\"" (a member
    // anchored to its group); a step from a member to the group that carries it is "→ its group".
    // A cycle of more than 30 elements shows its first 10, "…", its last 2 and its size.
    std::vector<std::string> cycle;
    // For each element in a cycle: the first element given that is in the same cycle (itself
    // when it is that first one); meaningless for the others.
    std::vector<size_t> same_cycle_as;
};
AnchorDependencies OrderByDependency(const ComPtr<ElementContainer>& layout,
                                     const std::vector<ComPtr<LayoutElement>>& elements);

// The cycles a book of the layout would refuse, told from the records alone (without the
// engine): every element whose record is switched on and names a target the engine would
// accept, in priority order, with the cycle it is in; elements in no cycle are not listed.
std::vector<std::pair<ComPtr<LayoutElement>, std::string>> AnchorCycles(const ComPtr<ElementContainer>& layout);

// How every tool names an element of a cycle: "\"Title\" is in a cycle of anchors: " and the
// cycle; each goes on to say what it does with it.
std::string CycleLine(const std::string& name, const std::string& cycle);

// The element of each name as the engine's lookup by name finds it: the first in its walk
// (top-level elements in container order, each group followed by its direct members). Read in
// one walk, so that finding the targets of all records costs one walk, not one each. A walk
// that fails part way keeps the names met before; any other name fails with the same error,
// as the engine's own walk would have on its way to it.
class ElementNames {
public:
    explicit ElementNames(const ComPtr<ElementContainer>& layout);
    // No object when the layout has no element of that name.
    ComPtr<LayoutElement> Find(const std::string& name) const;

private:
    std::unordered_map<std::string, ComPtr<LayoutElement>> first_;
    std::exception_ptr failure_;
};

// The anchored elements of the running application's page layout, selected once.
class AnchorSelection {
public:
    using ManagerFactory = std::function<ComPtr<_CRVAnchorManager>()>;
    // Why the host would not keep a move of the element, in a few words; empty when it would.
    using HostRefusal = std::function<std::string(const ComPtr<LayoutElement>&)>;

    struct Selected {
        ComPtr<LayoutElement> element;
        ComPtr<_CRVAnchorManager> manager;
        int16_t priority;
    };
    // An element that carries an anchor record but is left out, with the reason in a few
    // words ("its target \"Inset Map\" is not in the layout"); for an element in a cycle of
    // anchors, also the cycle alone. A cycle is named in the reason of its first element only;
    // the others' say "it is in the same cycle of anchors as \"Title\"".
    struct LeftOut {
        std::string name;
        std::string reason;
        ComPtr<LayoutElement> element;
        std::string cycle;
    };

    // Walks the layout of the running application's document and selects every element the
    // engine says is anchored, HIGH first, then MEDIUM, LOW and any other priority, in walk
    // order within a priority, except that an element is placed after what it depends on
    // (OrderByDependency); the elements of a cycle are left out where they stand. The engine tells its caller nothing, only the user;
    // `reportsShown`, when given, counts the reports shown so far, so that an element whose
    // selection was reported is left out instead of being reported again on every page. An
    // element the engine could anchor but whose moves the host would not keep (`refusal`, when
    // given) is left out with the host's reason.
    explicit AnchorSelection(const ManagerFactory& newManager, const std::function<int()>& reportsShown = {},
                             const HostRefusal& refusal = {});
    ~AnchorSelection();
    AnchorSelection(const AnchorSelection&) = delete;
    AnchorSelection& operator=(const AnchorSelection&) = delete;

    const std::vector<Selected>& Elements() const { return selected_; }
    const std::vector<LeftOut>& LeftOutElements() const { return left_out_; }
    // One line for each selected element whose record holds a value that the record editor
    // refuses and the book uses all the same, naming the values and what the book does with
    // them: "\"Title\" has AnchorPriority 7, which is not a priority (0 LOW, 1 MEDIUM, 2 HIGH):
    // it is placed after the LOW elements".
    const std::vector<std::string>& RecordNotes() const { return notes_; }
    // The element's priority when it is selected.
    std::optional<int16_t> PriorityOf(const ComPtr<LayoutElement>& element) const;

    // Places every selected element for the page, in order (Elements()). The host has put the page in
    // force before.
    void PlacePage(int32_t page);

private:
    std::vector<Selected> selected_;
    std::vector<LeftOut> left_out_;
    std::vector<std::string> notes_;
    // Each selected element's place in selected_, by identity: the report asks for every
    // element of the layout on every page.
    std::unordered_map<const void*, size_t> position_;
};

}  // namespace crv::standalone
