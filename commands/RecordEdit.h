#pragma once
// Editing an element's anchor record from KEY=VALUE texts, as the command lines of every host
// do: each key's kind and allowed values checked, the record made when the element has none,
// the stored CanAnchor summary kept true to the record.

#include "anchor/CRVAnchorManager.h"
#include "support/Errors.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace crv::commands {

// A KEY=VALUE that cannot be written: one line naming it.
class RecordEditError : public support::CommandError {
public:
    using support::CommandError::CommandError;
};

struct RecordChanges {
    std::vector<std::pair<const RecordKey*, Variant>> items;
    bool can_anchor_given = false;
};

// The value a record key holds for `text` (a code by its label or number, a boolean, a
// distance, a name...). Throws RecordEditError.
Variant ConvertRecordValue(const RecordKey& k, const std::string& text);

// Every "KEY=VALUE" of `texts`, converted. Throws RecordEditError.
RecordChanges ParseRecordChanges(const std::vector<std::string>& texts);

// Refuses an ElementName that names no element `targetExists` knows (nor "<None>"); `in`
// names the document. Throws RecordEditError.
void CheckTargets(const RecordChanges& changes, const std::function<bool(const std::string&)>& targetExists,
                  const std::string& in);

// Whether a change names a distance field (HFieldNameAll and the other three) other than "<None>".
bool NamesAField(const RecordChanges& changes);

// Refuses a field name (HFieldNameAll and the other three) that is not one of `fields` (nor
// "<None>"); `in` names what holds the fields. Throws RecordEditError.
void CheckFieldNames(const RecordChanges& changes, const std::vector<std::string>& fields, const std::string& in);

enum class RecordEditOutcome { Created, Changed, Reported };

// Gives the element a default record when it has none, then writes the changes into it.
// Reported: the component reported why it could not (nothing written).
RecordEditOutcome ApplyRecordChanges(_CRVAnchorManager& manager, const ComPtr<LayoutElement>& element,
                                     const RecordChanges& changes);

// Once a record is written: when it puts its element in a cycle of anchors (anchored to itself,
// a group to its own member, ...), the line every tool shows for that, "\"Title\" is in a cycle
// of anchors: \"Title\" → \"Title\"; the book leaves it where it stands"; else "". Looks at the
// running application's page layout.
std::string RecordCycleWarning(const ComPtr<LayoutElement>& element);

// "Gave "NAME" a default anchor record with K=V...; saved PATH" (or "Changed the anchor record of
// "NAME" with ...") and its line break; without "; saved" when `saved` is empty.
std::string RecordEditMessage(RecordEditOutcome outcome, const std::string& element, const RecordChanges& changes,
                              const std::string& saved);

}  // namespace crv::commands
