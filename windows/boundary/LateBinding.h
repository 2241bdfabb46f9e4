#pragma once
// Late-bound calls of a COM-callable wrapper (IDispatch): the type information, names to
// dispatch ids, and calls by dispatch id. A host's interface is called through the type library,
// whose dispatch calls the wrapper's own members. One of the library's own interfaces is called
// through its generated wrapper's switch over its members (LateBoundMember in Boundary.cpp), with
// the arguments converted as our Dispatch converts them, so that a script's variants, by
// reference or not, are taken for typed parameters: a call looks its member up once. Our
// by-reference parameters are read-only, so the caller's variables keep what they held (a
// script's 1.5 for a whole-number page stays 1.5, not the 2 the member read).

#include "com/Dispatch.h"
#include "windows/boundary/Identity.h"

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crv::win {

HRESULT DispatchTypeInfo(const InterfaceEntry& entry, UINT index, ITypeInfo** out);
HRESULT DispatchIdsOfNames(const InterfaceEntry& entry, Unknown* object, LPOLESTR* names, UINT count, DISPID* ids);
// A call of a host's interface.
HRESULT TypeLibraryInvoke(const InterfaceEntry& entry, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* badArgument);

// One call of a member of the library's own interfaces: its arguments as the member takes them,
// counted from the first, and its result or error as the caller's.
class LateCall {
public:
    LateCall(DISPPARAMS* params, UINT* badArgument) : params_(params), bad_(badArgument) {}
    LateCall(const LateCall&) = delete;
    LateCall& operator=(const LateCall&) = delete;

    // Reads the arguments; what refuses the call before its member is looked up (no arguments,
    // named ones, a kind no member takes) is the result, else S_OK.
    HRESULT Read(WORD flags);

    // Refuses a count of arguments the member does not take.
    void Count(size_t required, size_t most) const;
    // Whether the caller passed argument k: one it marks as left out is not given.
    bool Given(size_t k) const { return k < args_.size() && !left_out_[k]; }
    bool Bool(size_t k) { return Taken(k, dispatch::ArgBool); }
    int16_t Short(size_t k) { return Taken(k, dispatch::ArgShort); }
    int32_t Long(size_t k) { return Taken(k, dispatch::ArgLong); }
    double Double(size_t k) { return Taken(k, dispatch::ArgDouble); }
    std::string String(size_t k) { return Taken(k, dispatch::ArgString); }
    template <class I>
    ComPtr<I> Object(size_t k) {
        return Taken(k, dispatch::ArgObject<I>);
    }
    // No member has the dispatch id.
    [[noreturn]] void NoMember() const;

    // The member's value as the caller's result.
    HRESULT Return(const Variant& value, VARIANT* result) const;
    // The member's error as the caller's: a mismatch names its argument.
    HRESULT Failed(std::exception_ptr error, EXCEPINFO* exception) const;

private:
    template <class Convert>
    auto Taken(size_t k, Convert&& convert) -> decltype(convert(std::declval<const Variant&>())) {
        if (k < left_out_.size() && left_out_[k]) {
            named_ = k;
            NotOptional();
        }
        try {
            return convert(args_.at(k));
        } catch (...) {
            named_ = k;
            throw;
        }
    }
    [[noreturn]] static void NotOptional();

    DISPPARAMS* params_;
    UINT* bad_;
    std::vector<Variant> args_;
    std::vector<bool> left_out_;
    std::optional<size_t> named_;  // the argument that refused the call
};

}  // namespace crv::win
