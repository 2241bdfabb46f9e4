#pragma once
// Record storage on elements and element lookup by name.
//
// An element's record lives in its custom property: the outer bag, in it the family bag
// under "CorvaneProperties", in that the record under "AnchorProperties". Records are stored
// and returned by reference, and other tools' keys in the outer and family bags are left
// alone.

#include "host/HostClasses.h"

#include <functional>
#include <string>

namespace crv::GeneralFunctions {

inline constexpr const char* kModule = "GeneralFunctions";

// Nested: errors pass up to the caller.
bool HasCorvaneProperties(const ComPtr<LayoutElement>& pElement);

// Top-level: errors are shown and the default result returned.
bool HasAnchorProperties(const ComPtr<LayoutElement>& pElement);
ComPtr<PropertyBag> GetAnchorProperties(const ComPtr<LayoutElement>& pElement);
ComPtr<PropertyBag> NewAnchorProperties();
bool SetAnchorProperties(const ComPtr<LayoutElement>& pElement, const ComPtr<PropertyBag>& AnchorProperties);
void DeleteAnchorProperties(const ComPtr<LayoutElement>& pElement);
// The first element of that name (exact comparison) among the layout's top-level elements
// and the direct members of its groups; no object, after an error report, when none.
ComPtr<LayoutElement> FindElementByName(const ComPtr<HostDocument>& document, const std::string& name);

// Which group members a walk of the layout visits besides the top-level elements: those of
// groups that offer member walking, or also those of groups that offer indexed members.
enum class GroupMembers { Walked, WalkedOrIndexed };

// Walks the layout's top-level elements in the container's order, each followed by the
// direct members of a group among them (members of members are not visited), and hands
// each element with its name to `visit` until that answers true. Returns the element the
// walk stopped at, or no object. A group offering both kinds of members is walked.
ComPtr<LayoutElement> WalkElementNames(
    const ComPtr<ElementContainer>& layout, GroupMembers members,
    const std::function<bool(const ComPtr<LayoutElement>& element, const std::string& name)>& visit);

// The field types whose values can be distances: the numbers and the object id.
bool IsDistanceFieldType(int32_t type);

// A variant taken as a property bag, the way an object assignment takes it: no object
// stays no object, an object without the interface is a type mismatch, anything else is
// not an object at all.
ComPtr<PropertyBag> ToPropertyBag(const Variant& value);
// The same test without raising.
bool IsPropertyBag(const Variant& value);

}  // namespace crv::GeneralFunctions
