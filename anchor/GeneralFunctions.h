#pragma once
// Record storage on elements and element lookup by name.
//
// An element's record lives in its custom property: the outer bag, in it the family bag
// under "CorvaneProperties", in that the record under "AnchorProperties". Records are stored
// and returned by reference, and other tools' keys in the outer and family bags are left
// alone.

#include "host/HostClasses.h"

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

// A variant taken as a property bag, the way an object assignment takes it: no object
// stays no object, an object without the interface is a type mismatch, anything else is
// not an object at all.
ComPtr<PropertyBag> ToPropertyBag(const Variant& value);
// The same test without raising.
bool IsPropertyBag(const Variant& value);

}  // namespace crv::GeneralFunctions
