#include "anchor/GeneralFunctions.h"

#include "anchor/AnchorRecord.h"
#include "errors/ErrorHandling.h"

namespace crv::GeneralFunctions {

namespace {

std::string Id(const char* name) { return ProcedureId(name, kModule); }

// The family bag, or no object when getting or taking it fails: this one step runs with
// errors suppressed.
ComPtr<PropertyBag> TryGetBag(const ComPtr<PropertyBag>& bag, const char* key) {
    try {
        return ToPropertyBag(bag->GetProperty(key));
    } catch (const std::exception&) {
        return {};
    }
}

ComPtr<PropertyBag> OuterBag(const ComPtr<LayoutElement>& pElement) {
    return ToPropertyBag(pElement->CustomProperty());
}

}  // namespace

ComPtr<PropertyBag> ToPropertyBag(const Variant& value) {
    if (!value.IsObject()) Raise(vberr::kObjectRequired, "CRVAnchor", "Object required");
    ComPtr<Unknown> object = value.AsObject();
    if (!object) return {};
    auto bag = ComPtr<PropertyBag>::Query(object);
    if (!bag) Raise(vberr::kTypeMismatch, "CRVAnchor", "Type mismatch");
    return bag;
}

bool IsPropertyBag(const Variant& value) { return static_cast<bool>(value.ObjectAs<PropertyBag>()); }

bool HasCorvaneProperties(const ComPtr<LayoutElement>& pElement) {
    return Nested(Id("HasCorvaneProperties"), [&] {
        if (pElement->CustomProperty().IsEmpty()) return false;
        if (!IsPropertyBag(pElement->CustomProperty())) return false;
        const ComPtr<PropertyBag> outer = OuterBag(pElement);
        const ComPtr<PropertyBag> family = TryGetBag(outer, kCorvaneProperties);
        if (!family) return false;
        return IsPropertyBag(outer->GetProperty(kCorvaneProperties));
    });
}

bool HasAnchorProperties(const ComPtr<LayoutElement>& pElement) {
    return TopLevel(Id("HasAnchorProperties"), false, [&] {
        if (!HasCorvaneProperties(pElement)) return false;
        const ComPtr<PropertyBag> family = ToPropertyBag(OuterBag(pElement)->GetProperty(kCorvaneProperties));
        const ComPtr<PropertyBag> record = TryGetBag(family, kAnchorProperties);
        if (!record) return false;
        return IsPropertyBag(family->GetProperty(kAnchorProperties));
    });
}

ComPtr<PropertyBag> GetAnchorProperties(const ComPtr<LayoutElement>& pElement) {
    return TopLevel(Id("GetAnchorProperties"), ComPtr<PropertyBag>(), [&] {
        if (!HasAnchorProperties(pElement)) {
            Raise(kAnchorErrorNumber, "AnchorProperties.GetAnchorProperties", "Element has no anchor properties.");
        }
        const ComPtr<PropertyBag> family = ToPropertyBag(OuterBag(pElement)->GetProperty(kCorvaneProperties));
        return ToPropertyBag(family->GetProperty(kAnchorProperties));
    });
}

ComPtr<PropertyBag> NewAnchorProperties() {
    return TopLevel(Id("NewAnchorProperties"), ComPtr<PropertyBag>(), [&] {
        ComPtr<PropertyBag> record = NewPropertyBag();
        AnchorRecord().Write(record);
        return record;
    });
}

bool SetAnchorProperties(const ComPtr<LayoutElement>& pElement, const ComPtr<PropertyBag>& AnchorProperties) {
    return TopLevel(Id("SetAnchorProperties"), false, [&] {
        ComPtr<PropertyBag> family;
        if (!HasCorvaneProperties(pElement)) {
            const Variant custom = pElement->CustomProperty();
            ComPtr<PropertyBag> outer;
            if (custom.IsEmpty() || !IsPropertyBag(custom)) {
                outer = NewPropertyBag();
                pElement->SetCustomProperty(Variant(outer));
            } else {
                outer = ToPropertyBag(custom);
            }
            // Only a value of another kind is replaced: a family bag that the check above
            // missed because the host failed a read keeps the other tools' keys.
            family = outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
            if (!family) {
                family = NewPropertyBag();
                outer->SetProperty(kCorvaneProperties, Variant(family));
            }
        } else {
            family = ToPropertyBag(OuterBag(pElement)->GetProperty(kCorvaneProperties));
        }
        family->SetProperty(kAnchorProperties, Variant(AnchorProperties));
        return true;
    });
}

void DeleteAnchorProperties(const ComPtr<LayoutElement>& pElement) {
    TopLevel(Id("DeleteAnchorProperties"), [&] {
        if (!HasAnchorProperties(pElement)) return;
        const ComPtr<PropertyBag> family = ToPropertyBag(OuterBag(pElement)->GetProperty(kCorvaneProperties));
        family->RemoveProperty(kAnchorProperties);
    });
}

ComPtr<LayoutElement> WalkElementNames(
    const ComPtr<ElementContainer>& layout, GroupMembers members,
    const std::function<bool(const ComPtr<LayoutElement>& element, const std::string& name)>& visit) {
    layout->Reset();
    for (ComPtr<LayoutElement> element = layout->Next(); element; element = layout->Next()) {
        if (visit(element, element->Name())) return element;
        if (auto sequence = ComPtr<ElementSequence>::Query(element)) {
            sequence->ResetMembers();
            for (ComPtr<LayoutElement> m = sequence->NextMember(); m; m = sequence->NextMember()) {
                if (visit(m, m->Name())) return m;
            }
        } else if (members == GroupMembers::WalkedOrIndexed) {
            if (auto group = ComPtr<ElementGroup>::Query(element)) {
                const int32_t n = group->MemberCount();
                for (int32_t i = 0; i < n; ++i) {
                    ComPtr<LayoutElement> m = group->Member(i);
                    if (visit(m, m->Name())) return m;
                }
            }
        }
    }
    return {};
}

bool IsDistanceFieldType(int32_t type) {
    return type == fieldtype::kSmallInteger || type == fieldtype::kInteger || type == fieldtype::kSingle ||
           type == fieldtype::kDouble || type == fieldtype::kObjectId;
}

ComPtr<LayoutElement> FindElementByName(const ComPtr<HostDocument>& document, const std::string& name) {
    return TopLevel(Id("FindElementByName"), ComPtr<LayoutElement>(), [&] {
        ComPtr<LayoutElement> found =
            WalkElementNames(document->PageLayout(), GroupMembers::WalkedOrIndexed,
                             [&](const ComPtr<LayoutElement>&, const std::string& n) { return n == name; });
        if (!found) Raise(kAnchorErrorNumber, "GeneralFunctions.FindElementByName", "Dlement Not found.");
        return found;
    });
}

}  // namespace crv::GeneralFunctions
