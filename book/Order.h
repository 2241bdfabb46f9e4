#pragma once
// The anchored elements of a layout related to one another: walking the layout, finding an
// element by name the engine's way, the order that places each after what it depends on, the
// cycles no order satisfies, and why the engine would leave an element out.

#include "anchor/CRVAnchorManager.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::book {

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

// What a tool that lists the layout says of its cycles, a line for each element in one, in
// priority order: the first of a cycle with the cycle (CycleLine), the others "\"B\" is in the
// same cycle of anchors as \"A\"", as the book tells them, so that a long cycle is told once.
std::vector<std::string> CycleLines(const ComPtr<ElementContainer>& layout);

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

// The element an anchored element is placed against, found the way the engine finds it; none
// for an element anchored to the page or whose record does not read.
ComPtr<LayoutElement> TargetOf(const ComPtr<LayoutElement>& element, const ElementNames& targets);

// Why the engine would not anchor an element, by the engine's own test of its record; "" when
// the record does not say.
std::string WhyNotAnchored(const ComPtr<LayoutElement>& element, const ElementNames& targets);

}  // namespace crv::book
