#pragma once
// Whether the engine anchors an element with a given record, and why not: the one place that
// test is made. The engine's CanAnchor is this test, and the tools that say why an element is
// left out, order elements by their targets or look for cycles ask it instead of repeating it.

#include "anchor/AnchorRecord.h"
#include "host/Layout.h"

#include <functional>
#include <string>

namespace crv {

enum class NotAnchored {
    None,  // it is anchored
    SwitchedOff,  // AnchorElement is false
    UnknownAnchorType,  // AnchorType is neither "Layout" nor "NamedElement"
    NoTargetNamed,  // anchored to an element, ElementName "<None>"
    TargetMissing,  // no element of the name in the layout
    TargetWithoutSeries,  // distances from fields, but the target is no map frame with an enabled series
};

struct Anchorability {
    NotAnchored why = NotAnchored::None;
    ComPtr<LayoutElement> target;  // the element the record names, once it is found
};

// What the test asks the host, in the engine's order: `open` once the record is switched on,
// before anything is looked up (the engine takes the running document there); `find` for the
// element of a name, as the engine's lookup by name finds it.
struct AnchorabilityHost {
    std::function<void()> open;
    std::function<ComPtr<LayoutElement>(const std::string&)> find;
};

// The record's test. Asks the map series companion only for a record whose distances come from
// fields. Host errors pass through.
Anchorability CheckAnchorability(const AnchorRecord& r, const AnchorabilityHost& host);

}  // namespace crv
