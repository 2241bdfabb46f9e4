#pragma once
// Where the elements of a layout stand, as the report gives them: asked of the host through
// its interfaces alone and measured the engine's way, so that every host (the standalone
// book, the core under QGIS, the Windows book over COM) reports what its own objects say.

#include "book/BookReport.h"
#include "book/Placement.h"

#include <functional>
#include <vector>

namespace crv::book {

// The element's rectangle as the engine measures a target: a map frame by the envelope of its
// outline, anything else by its bounds, on the display given.
Rect MeasuredRect(const ComPtr<LayoutElement>& element, const ComPtr<Display>& display);

// Adds to a placement what only the host knows of the element: a finer type than the
// interfaces tell ("text", "picture"), the layout page it stands on and that page's size.
using DescribeElement = std::function<void(const ComPtr<LayoutElement>&, Placement&)>;

// Every element of the layout where it stands now, walked as WalkLayout walks it (groups
// followed by their members); `selection` gives each element's priority and what it is
// anchored to. The type is "map_frame", "group" or "element" as the interfaces tell it, until
// `describe` says more.
std::vector<Placement> MeasureLayout(const ComPtr<ElementContainer>& layout, const ComPtr<Display>& display,
                                     const AnchorSelection& selection, const DescribeElement& describe = {});

}  // namespace crv::book
