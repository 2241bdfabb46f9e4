#pragma once
// Placing the anchored elements of a layout page after page, through the host interfaces
// only, so that every host (the standalone book, a desktop GIS's atlas) runs the same
// selection and the same placements: each element selected once, in priority order, then
// placed for every page.

#include "anchor/CRVAnchorManager.h"
#include "book/Order.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::book {

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
        std::vector<std::string> anchored_to;  // as AnchoredTo gives it
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
    // The names of what a selected element is anchored to: its target, the target's target and
    // so on, until an element anchored to the page or one met before; none for the others.
    std::vector<std::string> AnchoredTo(const ComPtr<LayoutElement>& element) const;

    // Called with each element before it is placed.
    using BeforeEach = std::function<void(const ComPtr<LayoutElement>&)>;
    // Places every selected element for the page, in order (Elements()). The host has put the page in
    // force before, and `before` puts in force what is the element's own (its printed page).
    void PlacePage(int32_t page, const BeforeEach& before = {});

private:
    std::vector<Selected> selected_;
    std::vector<LeftOut> left_out_;
    std::vector<std::string> notes_;
    // Each selected element's place in selected_, by identity: the report asks for every
    // element of the layout on every page.
    std::unordered_map<const void*, size_t> position_;
};

}  // namespace crv::book
