#include "com/Dispatch.h"

#include <algorithm>
#include <cctype>

namespace crv {

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Conversions in dispatch report a mismatched argument, not the run-time library's error.
template <class F>
auto Converted(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ComError& e) {
        Raise(hresult::kTypeMismatchArg, "CRVAnchor", "Type mismatch: " + e.Description());
    }
}

}  // namespace

const MemberInfo& InterfaceInfo::Member(const std::string& wanted) const {
    for (const MemberInfo& m : members) {
        if (SameNameIgnoringCase(m.name, wanted)) return m;
    }
    Raise(hresult::kUnknownName, "CRVAnchor", "Unknown name: " + wanted + " is not a member of " + name + ".");
}

const MemberInfo& InterfaceInfo::Member(int32_t dispid) const {
    for (const MemberInfo& m : members) {
        if (m.dispid == dispid) return m;
    }
    Raise(hresult::kUnknownName, "CRVAnchor",
          "Unknown name: no member of " + name + " has dispatch id " + std::to_string(dispid) + ".");
}

const InterfaceInfo* TypeLibInfo::FindInterface(const std::string& wanted) const {
    for (const InterfaceInfo& i : interfaces) {
        if (i.name == wanted) return &i;
    }
    return nullptr;
}

Variant CallByName(const ComPtr<Unknown>& object, const std::string& member, std::vector<Variant>& args) {
    ComPtr<Dispatch> dispatch = ComPtr<Dispatch>::Query(object);
    if (!dispatch) Raise(hresult::kNoInterface, "CRVAnchor", "The object cannot be called by name.");
    const MemberInfo& m = dispatch->TypeInfo().Member(member);
    return dispatch->Invoke(m.dispid, args);
}

namespace dispatch {

void CheckCount(const MemberInfo& m, const std::vector<Variant>& args) {
    size_t required = 0;
    for (const ParamInfo& p : m.params) {
        if (!p.optional) ++required;
    }
    if (args.size() < required || args.size() > m.params.size()) {
        Raise(hresult::kBadParamCount, "CRVAnchor",
              "Invalid number of parameters: " + m.name + " takes " + std::to_string(required) +
                  (required == m.params.size() ? "" : " to " + std::to_string(m.params.size())) + ", given " +
                  std::to_string(args.size()) + ".");
    }
}

bool ArgBool(const Variant& v) {
    return Converted([&] { return CBool(v); });
}
int16_t ArgShort(const Variant& v) {
    return Converted([&] { return CInt(v); });
}
int32_t ArgLong(const Variant& v) {
    return Converted([&] { return CLng(v); });
}
double ArgDouble(const Variant& v) {
    return Converted([&] { return CDbl(v); });
}
std::string ArgString(const Variant& v) {
    return Converted([&] { return CStr(v); });
}

ComPtr<Unknown> ArgUnknown(const Variant& v) {
    if (v.IsEmpty()) return {};
    if (!v.IsObject()) Raise(hresult::kTypeMismatchArg, "CRVAnchor", "Type mismatch: an object is required.");
    return v.AsObject();
}

}  // namespace dispatch
}  // namespace crv
