#include "windows/boundary/LateBinding.h"

#include "Boundary.h"
#include "windows/boundary/Errors.h"
#include "windows/boundary/Values.h"
#include "windows/platform/Module.h"
#include "windows/platform/Text.h"

#include <mutex>

namespace crv::win {

namespace {

// The type library of the module this code is in, embedded as its resource 1: the component's
// own, or the host's in the test host.
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

// The host's type library as the host registered it: the component's own library imports the
// host's interfaces rather than describing them again.
// Kept once found; looked for again while it is not, since the host may register it later.
ITypeLib* HostTypeLib() {
    static std::mutex mutex;
    static ITypeLib* library = nullptr;
    const std::lock_guard lock(mutex);
    if (library == nullptr &&
        FAILED(LoadRegTypeLib(ToGUID(kHostTypeLib), kHostTypeLibMajor, kHostTypeLibMinor, 0, &library))) {
        library = nullptr;
    }
    return library;
}

}  // namespace

HRESULT DispatchTypeInfo(const InterfaceEntry& entry, UINT index, ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    for (ITypeLib* library : {ModuleTypeLib(), HostTypeLib()}) {
        if (library == nullptr) continue;
        hr = library->GetTypeInfoOfGuid(ToGUID(entry.iid), out);
        if (SUCCEEDED(hr)) return hr;
    }
    return hr;
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

// A host's interface takes its own kinds: the platform's dispatch converts to them and writes
// by-reference values back.
HRESULT TypeLibraryInvoke(const InterfaceEntry& entry, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    ITypeInfo* info = nullptr;
    HRESULT hr = DispatchTypeInfo(entry, 0, &info);
    if (FAILED(hr)) return hr;
    hr = info->Invoke(self, id, flags, params, result, exception, badArgument);
    info->Release();
    return hr;
}

HRESULT LateCall::Read(WORD flags) {
    if (params_ == nullptr) return E_POINTER;
    // Our members are methods and read-only properties: nothing takes a named argument or is set.
    if (params_->cNamedArgs > 0)
        return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 ? DISP_E_MEMBERNOTFOUND
                                                                               : DISP_E_NONAMEDARGS;
    // Arguments come last first.
    args_.reserve(params_->cArgs);
    for (UINT i = params_->cArgs; i > 0; --i) {
        try {
            args_.push_back(FromVariant(params_->rgvarg[i - 1]));
            left_out_.push_back(LeftOut(params_->rgvarg[i - 1]));
        } catch (...) {
            if (bad_ != nullptr) *bad_ = i - 1;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

void LateCall::Count(size_t required, size_t most) const {
    if (args_.size() < required || args_.size() > most) {
        Raise(hresult::kBadParamCount, "CRVAnchor", "Invalid number of parameters.");
    }
}

void LateCall::NotOptional() { Raise(hresult::kParamNotOptional, "CRVAnchor", "Parameter not optional."); }

void LateCall::NoMember() const { Raise(hresult::kUnknownName, "CRVAnchor", "Unknown name."); }

HRESULT LateCall::Return(const Variant& value, VARIANT* result) const {
    if (result != nullptr) {
        VariantInit(result);
        *result = ToVariant(value);
    }
    return S_OK;
}

HRESULT LateCall::Failed(std::exception_ptr error, EXCEPINFO* exception) const {
    const ComError e = CurrentErrorAsComError(error);
    // A mismatch, or an argument left out that the member needs, says which argument, counted as
    // the caller counts them (the last first), as the platform's own dispatch does.
    if ((e.Number() == hresult::kTypeMismatchArg || e.Number() == hresult::kParamNotOptional) && named_ &&
        bad_ != nullptr) {
        *bad_ = static_cast<UINT>(args_.size() - 1 - *named_);
    }
    // An unknown name, our word for a dispatch id no member has, is no member to the caller.
    if (e.Number() == hresult::kUnknownName) return DISP_E_MEMBERNOTFOUND;
    if (IsDispatchResult(e.Number())) return static_cast<HRESULT>(e.Number());
    // The exception information is the caller's whole error: no error object is left behind for
    // a later call to be mistaken for.
    FillException(exception, e);
    return DISP_E_EXCEPTION;
}

}  // namespace crv::win
