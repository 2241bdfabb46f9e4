#include "windows/boundary/LateBinding.h"

#include "com/Dispatch.h"
#include "windows/boundary/Errors.h"
#include "windows/boundary/Values.h"
#include "windows/platform/Module.h"
#include "windows/platform/Text.h"

#include <optional>
#include <vector>

namespace crv::win {

namespace {

// The type library of the module this code is in: the library's own, embedded as its
// resource 1, or the same one embedded in a program that carries the boundary.
ITypeLib* ModuleTypeLib() {
    static ITypeLib* library = [] {
        const auto path = ModuleFileOf(reinterpret_cast<const void*>(&ModuleTypeLib));
        ITypeLib* lib = nullptr;
        if (!path || FAILED(LoadTypeLibEx(path->c_str(), REGKIND_NONE, &lib))) lib = nullptr;
        return lib;
    }();
    return library;
}

bool IsDispatchResult(int32_t number) {
    switch (static_cast<uint32_t>(number)) {
        case 0x80020003u:  // member not found
        case 0x80020005u:  // type mismatch
        case 0x80020006u:  // unknown name
        case 0x8002000Eu:  // bad parameter count
        case 0x8002000Fu:  // parameter not optional
            return true;
        default: return false;
    }
}

}  // namespace

HRESULT DispatchTypeInfo(const InterfaceEntry& entry, UINT index, ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeLib* library = ModuleTypeLib();
    if (library == nullptr) return TYPE_E_CANTLOADLIBRARY;
    return library->GetTypeInfoOfGuid(ToGUID(entry.iid), out);
}

HRESULT DispatchIdsOfNames(const InterfaceEntry& entry, Unknown* object, LPOLESTR* names, UINT count, DISPID* ids) {
    if (names == nullptr || ids == nullptr || count == 0) return E_POINTER;
    if (entry.component) {
        const ComPtr<Dispatch> dispatch = ComPtr<Dispatch>::Query(object);
        if (!dispatch) return DISP_E_UNKNOWNNAME;
        HRESULT hr = S_OK;
        try {
            ids[0] = dispatch->TypeInfo().Member(Narrow(names[0])).dispid;
        } catch (...) {
            ids[0] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
        // Our members take no named arguments.
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    ITypeInfo* info = nullptr;
    HRESULT hr = DispatchTypeInfo(entry, 0, &info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    return hr;
}

namespace {

// Writes a by-reference argument back in the kind its owner holds.
bool IsValueType(const std::string& type) {
    return type == "boolean" || type == "short" || type == "long" || type == "double" || type == "BSTR";
}

// An argument as the member takes it, converted as the dispatch code converts it; raises the
// same mismatch. An object parameter takes nothing or an object.
Variant AsParameter(const std::string& type, const Variant& v) {
    if (type == "boolean") return Variant(dispatch::ArgBool(v));
    if (type == "short") return Variant(dispatch::ArgShort(v));
    if (type == "long") return Variant(dispatch::ArgLong(v));
    if (type == "double") return Variant(dispatch::ArgDouble(v));
    if (type == "BSTR") return Variant(dispatch::ArgString(v));
    return Variant(dispatch::ArgUnknown(v));
}

// Whether the member left a by-reference value as it took it: the caller's variable then keeps
// what it held (a script's 1.5 for a whole-number page stays 1.5, not the 2 the member read).
bool LeftAsTaken(const std::string& type, const Variant& given, const Variant& now) {
    try {
        const Variant taken = AsParameter(type, given);
        if (taken.Type() != now.Type()) return false;
        switch (taken.Type()) {
            case VariantType::Boolean: return taken.AsBoolean() == now.AsBoolean();
            case VariantType::Integer: return taken.AsInteger() == now.AsInteger();
            case VariantType::Long: return taken.AsLong() == now.AsLong();
            case VariantType::Double: return taken.AsDouble() == now.AsDouble();
            case VariantType::String: return taken.AsString() == now.AsString();
            default: return false;
        }
    } catch (...) {
        return false;
    }
}

// The first argument the member cannot take as its parameter, counted as the caller counts
// them (the last first); none when each converts.
std::optional<UINT> MismatchedArgument(const MemberInfo& member, const std::vector<Variant>& args) {
    for (size_t i = 0; i < args.size() && i < member.params.size(); ++i) {
        try {
            AsParameter(member.params[i].type, args[i]);
        } catch (...) {
            return static_cast<UINT>(args.size() - 1 - i);
        }
    }
    return std::nullopt;
}

void WriteBack(VARIANT& target, const Variant& value) {
    if (V_VT(&target) == (VT_BYREF | VT_VARIANT)) {
        VariantClear(V_VARIANTREF(&target));
        *V_VARIANTREF(&target) = ToVariant(value);
        return;
    }
    VARIANT fresh = ToVariant(value);
    VARIANT converted;
    VariantInit(&converted);
    const VARTYPE type = static_cast<VARTYPE>(V_VT(&target) & ~VT_BYREF);
    if (SUCCEEDED(VariantChangeType(&converted, &fresh, 0, type))) {
        switch (type) {
            case VT_I2: *V_I2REF(&target) = V_I2(&converted); break;
            case VT_I4: *V_I4REF(&target) = V_I4(&converted); break;
            case VT_R8: *V_R8REF(&target) = V_R8(&converted); break;
            case VT_BOOL: *V_BOOLREF(&target) = V_BOOL(&converted); break;
            case VT_BSTR:
                SysFreeString(*V_BSTRREF(&target));
                *V_BSTRREF(&target) = V_BSTR(&converted);
                V_VT(&converted) = VT_EMPTY;
                break;
            default: break;
        }
    }
    VariantClear(&converted);
    VariantClear(&fresh);
}


}  // namespace

HRESULT DispatchInvoke(const InterfaceEntry& entry, IDispatch* self, Unknown* object, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    if (!entry.component) {
        ITypeInfo* info = nullptr;
        HRESULT hr = DispatchTypeInfo(entry, 0, &info);
        if (FAILED(hr)) return hr;
        hr = info->Invoke(self, id, flags, params, result, exception, badArgument);
        info->Release();
        return hr;
    }
    if (params == nullptr) return E_POINTER;
    // Our members are methods and read-only properties: nothing takes a named argument or is set.
    if (params->cNamedArgs > 0)
        return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 ? DISP_E_MEMBERNOTFOUND
                                                                               : DISP_E_NONAMEDARGS;
    const ComPtr<Dispatch> dispatch = ComPtr<Dispatch>::Query(object);
    if (!dispatch) return DISP_E_MEMBERNOTFOUND;
    try {
        // Arguments come last first.
        std::vector<Variant> args;
        args.reserve(params->cArgs);
        for (UINT i = params->cArgs; i > 0; --i) {
            try {
                args.push_back(FromVariant(params->rgvarg[i - 1]));
            } catch (...) {
                if (badArgument != nullptr) *badArgument = i - 1;
                return DISP_E_TYPEMISMATCH;
            }
        }
        const std::vector<Variant> given = args;
        Variant value;
        try {
            value = dispatch->Invoke(id, args);
        } catch (const ComError& e) {
            // A mismatch says which argument, as the platform's own dispatch does.
            if (e.Number() == hresult::kTypeMismatchArg && badArgument != nullptr) {
                if (const auto bad = MismatchedArgument(dispatch->TypeInfo().Member(id), given)) *badArgument = *bad;
            }
            throw;
        }
        const MemberInfo& member = dispatch->TypeInfo().Member(id);
        for (size_t i = 0; i < args.size() && i < member.params.size(); ++i) {
            VARIANT& target = params->rgvarg[params->cArgs - 1 - i];
            const ParamInfo& p = member.params[i];
            // Objects go in as they are (as the type library declares them): the caller's variable
            // keeps the very object it held; so does a value the member left as it took it.
            if (p.by_ref && IsValueType(p.type) && (V_VT(&target) & VT_BYREF) != 0 &&
                !LeftAsTaken(p.type, given[i], args[i])) {
                WriteBack(target, args[i]);
            }
        }
        if (result != nullptr) {
            VariantInit(result);
            *result = ToVariant(value);
        }
        (void)flags;
        return S_OK;
    } catch (...) {
        const ComError e = CurrentErrorAsComError(std::current_exception());
        // A dispatch id no member has is no member, whatever our lookup calls it.
        if (e.Number() == hresult::kUnknownName) return DISP_E_MEMBERNOTFOUND;
        if (IsDispatchResult(e.Number())) return static_cast<HRESULT>(e.Number());
        // The exception information is the caller's whole error: no error object is left behind
        // for a later call to be mistaken for.
        FillException(exception, e);
        return DISP_E_EXCEPTION;
    }
}

}  // namespace crv::win
