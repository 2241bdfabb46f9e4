#pragma once
// How the engine places an element on a page, as one sequence of steps: the series of the
// distance fields bound at selection, then for each page the series' page, the page the rules
// are tested on, the rule that applies, its distances, the two points and the move. The engine
// takes each step inside its own procedures (which give its error reports their call stacks)
// and then moves the element; a tool takes the same steps inside nothing and stops before the
// move, to show or check a placement without making it. One sequence, so that what a tool shows
// is what the engine does.

#include "anchor/AnchorRecord.h"
#include "anchor/Anchorability.h"
#include "anchor/PageList.h"
#include "anchor/ReferenceGeometry.h"
#include "host/HostClasses.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace crv {

// The alternate rule of odd and even pages takes a page as odd when it leaves a remainder.
inline bool IsOddPage(int32_t page) { return page % 2 != 0; }

// Page arithmetic the way the engine does it: an overflow raises "Overflow".
int32_t CheckedAdd(int32_t a, int32_t b);
int32_t CheckedSub(int32_t a, int32_t b);

// The engine's own errors of a placement, each raised from one place under its procedure's name.
[[noreturn]] void RaiseNoPageListed();  // an alternate page range that names no page
[[noreturn]] void RaiseNoSeriesFields();  // distance fields the target's map series lacks

// The two steps of testing a page against an alternate page range, which the engine takes
// inside procedures of their own (their names are in an error report's call stack).
enum class PageListStep { Read, Lookup };

// An alternate page range as the engine reads it: whether a page is listed. A text of plain page
// numbers, which reads the same under any regional settings, is kept as read while it is
// unchanged, so that it is not scanned again on every placement; any other text is read each
// time. `step(PageListStep, body)` runs each step's body inside the step's procedure (the
// engine's frames; a tool runs the body as it is). Raises RaiseNoPageListed's error when the text
// names no page, and the reading's own ("Overflow").
class AlternatePages {
public:
    template <class Step>
    bool Holds(const std::string& text, int32_t page, Step&& step) {
        if (!plain_ || text_ != text) {
            plain_ = false;
            if (auto pages = text.empty() ? std::nullopt : ReadPlainPageList(text)) {
                pages_ = std::move(*pages);
                text_ = text;
                plain_ = true;
            }
        }
        if (plain_) {
            step(PageListStep::Lookup, [&] {
                if (pages_.Empty()) RaiseNoPageListed();
            });
            return pages_.Contains(page);
        }
        bool listed = false;
        bool holds = false;
        step(PageListStep::Read, [&] {
            if (text.empty()) return;
            ScanPageList(text, RegionalSettings::Current(), [&](int32_t lo, int32_t hi) {
                listed = true;
                if (page >= lo && page <= hi) holds = true;
            });
        });
        step(PageListStep::Lookup, [&] {
            if (!listed) RaiseNoPageListed();
        });
        return holds;
    }

private:
    std::string text_;
    PageList pages_;
    bool plain_ = false;
};

// The page of a map series that a page number falls on: its position (from 1) and its feature,
// or nothing when the page lies outside the series.
struct SeriesPage {
    int32_t position = 0;
    ComPtr<PageFeature> feature;
};
std::optional<SeriesPage> SeriesPageOf(const ComPtr<MapSeriesFrame>& series, int32_t page);

// The first page of the section in force when the layout in force is a section template, 1
// otherwise: the offset the engine adds to the page before it tests the alternate rule.
int32_t SectionOffset();

// The page the alternate rule is tested on: the page (or its position in the series of the
// distance fields) moved by the section's offset.
int32_t TestedPage(int32_t page, int32_t offset);

// The number of the page the multi-page layout in force shows; page 1 when none is in force.
// The one reading of the page-in-force companions that the host keeps.
int32_t PageInForce();

// A distance of one axis: the fixed one, or the value of the field of the record on the page's
// feature when the rule takes it from a field the series has. A null value keeps the fixed one.
// `layer` is null when the record's distances come from no field. Raises "Object variable not
// set" when a field is to be read on a page outside the series.
double RuleDistance(double fixed, bool fromField, const std::string& fieldName, const ComPtr<SeriesLayer>& layer,
                    const ComPtr<PageFeature>& feature);

// Whether the fields the record's rules name for distances are all fields of the series that
// hold numbers.
bool SeriesHasDistanceFields(const AnchorRecord& r, const ComPtr<FieldSet>& fields);

// The move that puts the element's point `from` on the point `to` of `target` shifted by
// (h, v) (Displacement), refused as the engine refuses it: "Overflow" when it is not a number,
// and a move that would take the element more than a million page units from the page.
Point CheckedDisplacement(int32_t from, int32_t to, const Extent& target, const Extent& e, double h, double v);

// Binds the series of `target` for a record whose distances come from fields, as the engine
// binds it: the companion, the frame, the series' index layer and its fields, each kept as it
// is asked for (the engine keeps them in its state); raises RaiseNoSeriesFields's error when
// the series lacks one of the fields, after letting all four go.
void BindDistanceSeries(const AnchorRecord& r, const ComPtr<LayoutElement>& target, ComPtr<MapSeriesFrame>& frame,
                        ComPtr<MapFrame>& mapFrame, ComPtr<SeriesLayer>& layer, ComPtr<FieldSet>& fields);

// What a placement is taken over, as selected: the record, the element, its target (none for
// the page) and, when its distances come from fields, the target's series and index layer.
// Referenced, not held: a page's placement takes no reference of its own.
struct PlacementSubject {
    const AnchorRecord& record;
    const ComPtr<LayoutElement>& element;
    const ComPtr<LayoutElement>& target;
    const ComPtr<MapSeriesFrame>& series;  // null when no distance comes from a field
    const ComPtr<SeriesLayer>& layer;  // null when no distance comes from a field
};

// One page's steps up to the move, as the sequence hands them to what follows it.
struct PlacementStep {
    bool alternate = false;  // the alternate rule applies
    const AnchorRule* rule = nullptr;  // the rule that applies
    double h = 0, v = 0;  // its distances on the page
    Extent element, target;  // the element and the page or target element, as the engine measures them
    bool points = false;  // both point codes are valid, so from, to and the move are made
    Point from, to, displacement;  // the element's own point, the target's, and the move
};

// The procedures a placement's steps are taken in. The engine's frames name its procedures in
// an error report's call stack, let the former page's feature go and hand the series' page back
// to the host, and give the container its move is made in; a tool's are these, which take every
// step as it is, keep the host's page in force, ask for no container, and let invalid point
// codes leave a placement without points instead of raising.
struct ToolFrames {
    void LeavePage() {}
    template <class Body>
    void HandBack(const std::optional<SeriesPage>&, Body&&) {}
    ComPtr<ElementContainer> Container(const ComPtr<HostDocument>&) { return {}; }
    template <class Body>
    void Anchor(Body&& body) { body(); }
    bool IsOdd(int32_t page) { return IsOddPage(page); }
    template <class Body>
    void PageList(PageListStep, Body&& body) { body(); }
    template <class Body>
    void Measure(bool /*toPage*/, Body&& body) { body(); }
    bool PointCodes(const AnchorRule& rule, bool /*toPage*/) { return IsPointCode(rule.AnchorFrom) && IsPointCode(rule.AnchorTo); }
};

// Takes one page's placement of `s` on `page` inside `frames` (see ToolFrames for what they
// offer) and calls `then(step, container, view)` inside the last of them, the procedure that
// moves the element. `frames.HandBack(at, body)` runs `body` to put the series' page `at` in
// force where the engine does (a tool runs nothing). `pages` keeps the alternate page range as read between pages.
template <class Frames, class Then>
void PlaceOnPage(const PlacementSubject& s, int32_t page, AlternatePages& pages, Frames& frames, Then&& then) {
    int32_t tested = page;
    ComPtr<PageFeature> feature;
    if (s.layer) {
        frames.LeavePage();
        std::optional<SeriesPage> at = SeriesPageOf(s.series, page);
        frames.HandBack(at, [&] {
            if (at) s.series->SetCurrentPage(at->feature, at->position);
        });
        if (at) {
            tested = at->position;
            feature = std::move(at->feature);
        }
    }
    const int32_t offset = SectionOffset();
    frames.Anchor([&] {
        const AnchorRecord& r = s.record;
        PlacementStep step;
        step.alternate = UsesAlternateRule(
            r, TestedPage(tested, offset), [&](int32_t p) { return frames.IsOdd(p); },
            [&](int32_t p) {
                return pages.Holds(r.AltAnchorPageRange, p,
                                   [&](PageListStep which, auto&& body) { frames.PageList(which, body); });
            });
        const AnchorRule& rule = step.alternate ? r.Alt : r.All;
        step.rule = &rule;
        step.h = RuleDistance(rule.HDistance, rule.HFromField, rule.HFieldName, s.layer, feature);
        step.v = RuleDistance(rule.VDistance, rule.VFromField, rule.VFieldName, s.layer, feature);
        const bool toPage = r.AnchorType == kAnchorTypeLayout;
        frames.Measure(toPage, [&] {
            step.points = frames.PointCodes(rule, toPage);
            const ComPtr<HostDocument> document = RunningApplication()->Document();
            const ComPtr<LayoutView> view = document->ActiveView();
            const ComPtr<ElementContainer> container = frames.Container(document);
            const ComPtr<Display> display = view->ScreenDisplay();
            step.element = ElementExtent(s.element, display, OutlineEnvelope::Copied);
            if (toPage) {
                double width = 0;
                double height = 0;
                view->Page()->QuerySize(width, height);
                step.target = PageExtent(width, height);
            } else {
                step.target = ElementExtent(s.target, display, OutlineEnvelope::Copied);
            }
            if (step.points) {
                step.from = PointOf(step.element, rule.AnchorFrom);
                step.to = PointOf(step.target, rule.AnchorTo);
                step.displacement =
                    CheckedDisplacement(rule.AnchorFrom, rule.AnchorTo, step.target, step.element, step.h, step.v);
            }
            then(static_cast<const PlacementStep&>(step), container, view);
        });
    });
}

// One element's placement on one page, as the engine would make it.
struct PlacementPlan {
    Anchorability anchorability;  // why the element is not anchored, and its target
    bool alternate = false;  // the alternate rule applies
    AnchorRule rule;  // the rule that applies
    double h = 0, v = 0;  // its distances on the page
    Extent element, target;  // the element and the page or target element, as the engine measures them
    // With valid point codes: the element's own point, the page's or target's point it goes to
    // (before the distances), and the move (a move the engine would refuse raises instead).
    std::optional<Point> from, to, displacement;
};

// What the plan asks the host, beyond the host interfaces: the element of a name, found the
// engine's way (`ElementNames` in a tool, the engine's own lookup otherwise).
struct PlanHost {
    std::function<ComPtr<LayoutElement>(const std::string&)> find;
};

// The plan for the element with record `r` on `page`, asked of the running application's
// layout in force: the engine's sequence in a tool's frames. Changes nothing: the map series'
// page in force is not handed back. Raises what the engine would report (a page list naming no
// page, a field read outside the series, host failures) as a plain error. Not anchored: only
// `anchorability` is filled in.
PlacementPlan PlanPlacement(const AnchorRecord& r, const ComPtr<LayoutElement>& element, int32_t page,
                            const PlanHost& host);

}  // namespace crv
