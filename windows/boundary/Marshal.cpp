#include "windows/boundary/Marshal.h"

#include "Boundary.h"
#include "windows/platform/Module.h"
#include "windows/platform/Text.h"

#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace crv::win {

namespace {

// Asked of a COM pointer to learn whether it is one of our own wrappers.
constexpr Guid kCcwMarker = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a00f1");
// Asked of our pointer to learn whether it is a proxy of a COM object.
constexpr Guid kProxyMarker = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a00f2");

std::atomic<int64_t> g_wrappers{0};

std::mutex& MapMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<const void*, CcwIdentity*>& Ccws() {
    static std::unordered_map<const void*, CcwIdentity*> map;
    return map;
}
// The wrappers of this module alive: another module's wrapper answers the same marker.
std::unordered_set<const void*>& LiveCcws() {
    static std::unordered_set<const void*> set;
    return set;
}
std::unordered_map<const void*, ProxyIdentity*>& Proxies() {
    static std::unordered_map<const void*, ProxyIdentity*> map;
    return map;
}

// A new reference to a counted object unless its count has already reached 0.
template <class Count>
bool TryAddRef(Count& refs) {
    auto n = refs.load();
    while (n != 0) {
        if (refs.compare_exchange_weak(n, n + 1)) return true;
    }
    return false;
}

const InterfaceEntry* EntryOf(const Guid& iid, size_t* index = nullptr) {
    for (size_t i = 0; i < kInterfaceCount; ++i) {
        if (kInterfaces[i].iid == iid) {
            if (index != nullptr) *index = i;
            return &kInterfaces[i];
        }
    }
    return nullptr;
}

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

HRESULT ResultCode(const ComError& e) {
    if (e.Number() < 0) return static_cast<HRESULT>(e.Number());
    if (e.Number() == 0) return E_FAIL;
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(e.Number()) & 0xFFFFu);
}

}  // namespace

// ---------------------------------------------------------------------------------------

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
            if ((byref ? *V_ERRORREF(v) : V_ERROR(v)) == DISP_E_PARAMNOTFOUND) return {};
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

// ---------------------------------------------------------------------------------------

CcwIdentity::CcwIdentity(ComPtr<Unknown> object)
    : object_(std::move(object)), tearoffs_(kInterfaceCount), tried_(kInterfaceCount, false) {
    ++g_wrappers;
}

CcwIdentity::~CcwIdentity() { --g_wrappers; }

CcwIdentity* CcwIdentity::For(const ComPtr<Unknown>& object) {
    ComPtr<Unknown> identity = ComPtr<Unknown>::Query(object);
    std::lock_guard lock(MapMutex());
    auto& map = Ccws();
    auto it = map.find(identity.Get());
    // One whose count has reached 0 is being deleted by its last releaser: never revived.
    if (it != map.end() && TryAddRef(it->second->refs_)) return it->second;
    auto* created = new CcwIdentity(identity);
    created->AddRef();
    map[identity.Get()] = created;
    LiveCcws().insert(created);
    return created;
}

ULONG CcwIdentity::Release() {
    const ULONG r = --refs_;
    if (r != 0) return r;
    {
        std::lock_guard lock(MapMutex());
        auto it = Ccws().find(object_.Get());
        if (it != Ccws().end() && it->second == this) Ccws().erase(it);
        LiveCcws().erase(this);
    }
    delete this;
    return 0;
}

IUnknown* CcwIdentity::TearOff(size_t index) {
    std::lock_guard lock(mutex_);
    if (!tried_[index]) {
        tried_[index] = true;
        tearoffs_[index].reset(kInterfaces[index].make_ccw(*this, kInterfaces[index], object_.Get()));
    }
    return tearoffs_[index] ? tearoffs_[index]->Com() : nullptr;
}

IUnknown* CcwIdentity::DefaultDispatch() {
    // The library's own interface first: a class's default interface is what a script calls.
    for (bool component : {true, false}) {
        for (size_t i = 0; i < kInterfaceCount; ++i) {
            if (kInterfaces[i].component != component) continue;
            if (IUnknown* p = TearOff(i)) return p;
        }
    }
    return nullptr;
}

HRESULT CcwIdentity::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    IUnknown* found = nullptr;
    const Guid iid = FromGUID(riid);
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISupportErrorInfo) || iid == kCcwMarker) {
        found = this;
    } else if (IsEqualIID(riid, IID_IDispatch)) {
        found = DefaultDispatch();
    } else {
        size_t index = 0;
        if (EntryOf(iid, &index) != nullptr) found = TearOff(index);
    }
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    *out = found;
    return S_OK;
}

HRESULT CcwIdentity::InterfaceSupportsErrorInfo(REFIID riid) {
    return EntryOf(FromGUID(riid)) != nullptr || IsEqualIID(riid, IID_IDispatch) ? S_OK : S_FALSE;
}

// ---------------------------------------------------------------------------------------

ProxyIdentity::ProxyIdentity(IUnknown* identity)
    : com_(identity), tearoffs_(kInterfaceCount), tried_(kInterfaceCount, false) {}

ProxyIdentity::~ProxyIdentity() {
    tearoffs_.clear();
    com_->Release();
}

ComPtr<Unknown> ProxyIdentity::For(IUnknown* identity) {
    std::lock_guard lock(MapMutex());
    auto& map = Proxies();
    auto it = map.find(identity);
    if (it != map.end() && TryAddRef(it->second->refs_)) {
        identity->Release();  // the proxy holds its own reference
        return ComPtr<Unknown>::Attach(static_cast<Unknown*>(it->second));
    }
    auto* created = new ProxyIdentity(identity);
    map[identity] = created;
    return ComPtr<Unknown>(static_cast<Unknown*>(created));
}

uint32_t ProxyIdentity::Release() {
    const uint32_t r = --refs_;
    if (r != 0) return r;
    {
        std::lock_guard lock(MapMutex());
        auto it = Proxies().find(com_);
        if (it != Proxies().end() && it->second == this) Proxies().erase(it);
    }
    delete this;
    return 0;
}

void* ProxyIdentity::QueryInterface(const Guid& iid) {
    if (iid == Unknown::IID || iid == kProxyMarker) {
        AddRef();
        return static_cast<Unknown*>(this);
    }
    size_t index = 0;
    if (EntryOf(iid, &index) == nullptr) return nullptr;
    std::lock_guard lock(mutex_);
    if (!tried_[index]) {
        tried_[index] = true;
        tearoffs_[index].reset(kInterfaces[index].make_proxy(*this, com_, iid));
    }
    if (!tearoffs_[index]) return nullptr;
    AddRef();
    return tearoffs_[index]->Crv();
}

// ---------------------------------------------------------------------------------------

IUnknown* Outgoing(const ComPtr<Unknown>& object, const Guid& iid) {
    if (!object) return nullptr;
    const GUID wanted = iid == Unknown::IID ? IID_IUnknown : ToGUID(iid);
    void* out = nullptr;
    if (void* proxy = object->QueryInterface(kProxyMarker)) {
        auto* identity = static_cast<ProxyIdentity*>(static_cast<Unknown*>(proxy));
        identity->Com()->QueryInterface(wanted, &out);
        identity->Release();
        return static_cast<IUnknown*>(out);
    }
    CcwIdentity* identity = CcwIdentity::For(object);
    identity->QueryInterface(wanted, &out);
    identity->Release();
    return static_cast<IUnknown*>(out);
}

ComPtr<Unknown> Incoming(IUnknown* object) {
    if (object == nullptr) return {};
    void* ours = nullptr;
    if (SUCCEEDED(object->QueryInterface(ToGUID(kCcwMarker), &ours)) && ours != nullptr) {
        bool mine = false;
        {
            std::lock_guard lock(MapMutex());
            mine = LiveCcws().count(ours) != 0;
        }
        if (mine) {
            auto* identity = static_cast<CcwIdentity*>(static_cast<ISupportErrorInfo*>(ours));
            ComPtr<Unknown> result = identity->Object();
            identity->Release();
            return result;
        }
        // Another module's wrapper: its object is as foreign here as any other.
        static_cast<IUnknown*>(ours)->Release();
    }
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))) || identity == nullptr) {
        Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    }
    return ProxyIdentity::For(identity);
}

int64_t LiveWrappers() { return g_wrappers.load(); }

// ---------------------------------------------------------------------------------------

HRESULT ResultOf(std::exception_ptr error, const Guid& iid) {
    const ComError e = CurrentErrorAsComError(error);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        const std::wstring source = Wide(e.Source());
        const std::wstring description = Wide(e.Description());
        create->SetGUID(ToGUID(iid));
        create->SetSource(const_cast<LPOLESTR>(source.c_str()));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return ResultCode(e);
}

void Check(HRESULT hr, const char* call) {
    if (SUCCEEDED(hr)) return;
    const int32_t number =
        HRESULT_FACILITY(hr) == FACILITY_CONTROL ? static_cast<int32_t>(HRESULT_CODE(hr)) : static_cast<int32_t>(hr);
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        BSTR source = nullptr;
        BSTR description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        info->Release();
        std::string s = TakeBstr(source);
        std::string d = TakeBstr(description);
        Raise(number, s.empty() ? call : s, d);
    }
    Raise(number, call, SystemMessage(static_cast<unsigned long>(hr)));
}

// ---------------------------------------------------------------------------------------

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

void FillException(EXCEPINFO* exception, const ComError& e) {
    if (exception == nullptr) return;
    *exception = {};
    exception->scode = ResultCode(e);
    exception->bstrSource = ToBstr(e.Source());
    exception->bstrDescription = ToBstr(e.Description());
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
