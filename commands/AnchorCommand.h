#pragma once
// A command's `anchor`, the same whichever host runs it: the element found by its name, the
// changes checked against the layout's elements and the series' fields, then written into the
// element's record, and a cycle of anchors the new record makes named.

#include "anchor/CRVAnchorManager.h"
#include "commands/RecordEdit.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace crv::commands {

// The element of the running application's layout that a command names: the first of the name
// in the layout's walk (groups followed by their members), the order `show` lists them in, so
// an element inside a group is found too; none when no element has the name.
ComPtr<LayoutElement> ElementNamed(const std::string& name);

// The fields a record's distances may name, and what holds them as a refusal names it (the
// series' layer, or the document).
struct DistanceFields {
    std::vector<std::string> names;
    std::string in;
};

// The names of the fields of the map series on `frame`, as its companion binds it.
std::vector<std::string> SeriesFieldNames(const ComPtr<LayoutElement>& frame);

// Refuses, before anything is made or written, a target that no element has (in `document`)
// and, when a change names a distance field, a field that `fields` lacks; `fields` is asked
// only then, and may give nothing (the fields are left to the engine). Throws RecordEditError.
using FieldsOfRecord = std::function<std::optional<DistanceFields>()>;
void CheckAnchorEdit(const RecordChanges& changes, const std::string& document, const FieldsOfRecord& fields);

struct AnchorEdit {
    RecordEditOutcome outcome = RecordEditOutcome::Reported;
    std::string cycle;  // RecordCycleWarning's line once the record is written, or ""
};

// Writes `changes` into the record of `element`, making one when it has none (checked first
// with CheckAnchorEdit).
AnchorEdit ApplyAnchorEdit(_CRVAnchorManager& manager, const ComPtr<LayoutElement>& element,
                           const RecordChanges& changes);

}  // namespace crv::commands
