#include "windows/boundary/Values.h"

#include "com/Dispatch.h"
#include "windows/boundary/Identity.h"
#include "windows/platform/Text.h"

#include <limits>

namespace crv::win {

BSTR ToBstr(const std::string& text) {
    const std::wstring wide = Wide(text);
    BSTR s = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (s == nullptr) Raise(vberr::kOutOfMemory, "CRVAnchor", "Out of memory");
    return s;
}

std::string FromBstr(BSTR text) {
    if (text == nullptr) return {};
    return Narrow(std::wstring_view(text, SysStringLen(text)));
}

std::string TakeBstr(BSTR text) {
    const BstrRef owned(text);
    return FromBstr(text);
}

VARIANT ToVariant(const Variant& value) {
    VARIANT v;
    VariantInit(&v);
    switch (value.Type()) {
        case VariantType::Empty: break;
        case VariantType::Null: V_VT(&v) = VT_NULL; break;
        case VariantType::Boolean:
            V_VT(&v) = VT_BOOL;
            V_BOOL(&v) = value.AsBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VariantType::Integer:
            V_VT(&v) = VT_I2;
            V_I2(&v) = value.AsInteger();
            break;
        case VariantType::Long:
            V_VT(&v) = VT_I4;
            V_I4(&v) = value.AsLong();
            break;
        case VariantType::Double:
            V_VT(&v) = VT_R8;
            V_R8(&v) = value.AsDouble();
            break;
        case VariantType::String:
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = ToBstr(value.AsString());
            break;
        case VariantType::Object: {
            IUnknown* unknown = Outgoing(value.AsObject(), Unknown::IID);
            if (unknown == nullptr) {
                V_VT(&v) = VT_DISPATCH;
                V_DISPATCH(&v) = nullptr;
                break;
            }
            // Scripts call only what comes as a dispatch interface.
            IDispatch* dispatch = nullptr;
            if (SUCCEEDED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
                unknown->Release();
                V_VT(&v) = VT_DISPATCH;
                V_DISPATCH(&v) = dispatch;
            } else {
                V_VT(&v) = VT_UNKNOWN;
                V_UNKNOWN(&v) = unknown;
            }
            break;
        }
    }
    return v;
}

bool LeftOut(const VARIANT& value) {
    const VARIANT* v = &value;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) v = V_VARIANTREF(v);
    if (V_VT(v) == VT_ERROR) return V_ERROR(v) == DISP_E_PARAMNOTFOUND;
    return V_VT(v) == (VT_BYREF | VT_ERROR) && *V_ERRORREF(v) == DISP_E_PARAMNOTFOUND;
}

Variant FromVariant(const VARIANT& in) {
    const VARIANT* v = &in;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) v = V_VARIANTREF(v);
    const VARTYPE type = static_cast<VARTYPE>(V_VT(v) & ~VT_BYREF);
    const bool byref = (V_VT(v) & VT_BYREF) != 0;
    switch (type) {
        case VT_EMPTY: return {};
        case VT_NULL: return Variant::Null();
        case VT_BOOL: return Variant((byref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
        case VT_I2: return Variant(static_cast<int16_t>(byref ? *V_I2REF(v) : V_I2(v)));
        case VT_I4: return Variant(static_cast<int32_t>(byref ? *V_I4REF(v) : V_I4(v)));
        case VT_R8: return Variant(byref ? *V_R8REF(v) : V_R8(v));
        case VT_BSTR: return Variant(FromBstr(byref ? *V_BSTRREF(v) : V_BSTR(v)));
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            IUnknown* object = type == VT_DISPATCH ? (byref ? *V_DISPATCHREF(v) : V_DISPATCH(v))
                                                   : (byref ? *V_UNKNOWNREF(v) : V_UNKNOWN(v));
            return Variant(Incoming(object));
        }
        case VT_ERROR:
            // A script's omitted optional argument.
            if (LeftOut(*v)) return {};
            break;
        default: break;
    }
    // Other kinds a client may hold: whole numbers that fit become a Long, other numbers a
    // Double.
    VARIANT converted;
    VariantInit(&converted);
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(v), 0, VT_R8))) {
        const double d = V_R8(&converted);
        const bool whole = type == VT_I1 || type == VT_UI1 || type == VT_UI2 || type == VT_UI4 || type == VT_I8 ||
                           type == VT_UI8 || type == VT_INT || type == VT_UINT;
        if (whole && d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()) {
            return Variant(static_cast<int32_t>(d));
        }
        return Variant(d);
    }
    Raise(hresult::kTypeMismatchArg, "CRVAnchor", "Type mismatch.");
}

}  // namespace crv::win
