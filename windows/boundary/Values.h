#pragma once
// Values across the boundary: our UTF-8 strings as the platform's BSTRs and back, our Variant as
// a VARIANT and back, and owners of what a proxy passes into a call.

#include "com/Variant.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace crv::win {

BSTR ToBstr(const std::string& text);  // a new string the receiver frees
std::string FromBstr(BSTR text);  // leaves the string to its owner
std::string TakeBstr(BSTR text);  // frees it
VARIANT ToVariant(const Variant& value);  // a new value the receiver clears
// Any value a client may pass, by reference or not; kinds we do not hold are converted to the
// nearest (integers to Long, other numbers to Double), the rest refused with "Type mismatch".
Variant FromVariant(const VARIANT& value);
// Whether a caller marks the argument as left out (DISP_E_PARAMNOTFOUND), which FromVariant
// reads as Empty.
bool LeftOut(const VARIANT& value);

class BstrRef {
public:
    explicit BstrRef(BSTR s) : s_(s) {}
    ~BstrRef() { SysFreeString(s_); }
    BstrRef(const BstrRef&) = delete;
    BstrRef& operator=(const BstrRef&) = delete;
    BSTR Get() const { return s_; }

private:
    BSTR s_;
};

class VariantRef {
public:
    VariantRef() { VariantInit(&v_); }
    explicit VariantRef(const Variant& value) : v_(ToVariant(value)) {}
    ~VariantRef() { VariantClear(&v_); }
    VariantRef(const VariantRef&) = delete;
    VariantRef& operator=(const VariantRef&) = delete;
    VARIANT Get() const { return v_; }  // for a by-value argument, which the callee does not own
    const VARIANT& Ref() const { return v_; }
    VARIANT* Out() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};

}  // namespace crv::win
