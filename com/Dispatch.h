#pragma once
// Late-bound calls: a class's type information (members, dispatch ids, parameter kinds) and a
// way to call any member by name with Variant arguments, as a scripting client does.

#include "com/Variant.h"

#include <string>
#include <vector>

namespace crv {

struct ParamInfo {
    std::string name;
    std::string type;  // boolean, short, long, double, BSTR, or a host interface name
    bool by_ref = false;
    bool optional = false;
    // What an optional parameter receives when the caller leaves it out: Empty where the
    // description gives no default, which converts to the type's empty value.
    Variant default_value;
};

struct MemberInfo {
    std::string name;
    int32_t dispid = 0;
    bool property_get = false;
    std::string returns;  // "void" for none
    std::vector<ParamInfo> params;
};

struct InterfaceInfo {
    std::string name;
    Guid iid;
    std::vector<MemberInfo> members;
    // The dispatch id of a member; names compare without regard to case, as scripts expect.
    // Throws "Unknown name." for none.
    const MemberInfo& Member(const std::string& name) const;
    const MemberInfo& Member(int32_t dispid) const;
};

struct CoClassInfo {
    std::string name;
    Guid clsid;
    std::string progid;
    std::string default_interface;
    bool app_object = false;
};

struct TypeLibInfo {
    std::string name;
    std::string help;
    Guid libid;
    int major = 1;
    int minor = 0;
    std::vector<InterfaceInfo> interfaces;
    std::vector<CoClassInfo> classes;
    const InterfaceInfo* FindInterface(const std::string& name) const;
};

namespace hresult {
inline constexpr int32_t kTypeMismatchArg = static_cast<int32_t>(0x80020005u);
inline constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006u);
inline constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000Eu);
inline constexpr int32_t kParamNotOptional = static_cast<int32_t>(0x8002000Fu);
}  // namespace hresult

class Dispatch : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a0003");
    virtual const InterfaceInfo& TypeInfo() = 0;
    // Calls the member; arguments passed by reference are written back into args.
    virtual Variant Invoke(int32_t dispid, std::vector<Variant>& args) = 0;

protected:
    ~Dispatch() = default;
};

// Calls a member of an object by name. Throws ComError for an object without dispatch, an
// unknown name, a wrong number of arguments or an argument of the wrong kind.
Variant CallByName(const ComPtr<Unknown>& object, const std::string& member, std::vector<Variant>& args);

// Argument conversions of the generated dispatch code.
namespace dispatch {
void CheckCount(const MemberInfo& m, const std::vector<Variant>& args);
bool ArgBool(const Variant& v);
int16_t ArgShort(const Variant& v);
int32_t ArgLong(const Variant& v);
double ArgDouble(const Variant& v);
std::string ArgString(const Variant& v);
ComPtr<Unknown> ArgUnknown(const Variant& v);
template <class I>
ComPtr<I> ArgObject(const Variant& v) {
    ComPtr<Unknown> unk = ArgUnknown(v);
    if (!unk) return {};
    ComPtr<I> p = ComPtr<I>::Query(unk);
    if (!p) Raise(hresult::kTypeMismatchArg, "CRVAnchor", "Type mismatch.");
    return p;
}
}  // namespace dispatch

}  // namespace crv
