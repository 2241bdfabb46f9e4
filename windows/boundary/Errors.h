#pragma once
// Errors across the boundary: ours go out as a result code with the platform's error object set
// for the caller, and a failed call of a COM object comes back in as our error.

#include "errors/ErrorHandling.h"
#include "windows/platform/Guids.h"

#include <windows.h>
#include <oaidl.h>

#include <exception>

namespace crv::win {

// The result code of an error: our positive numbers in the control facility, as the platform's
// scripts show them.
HRESULT ResultCode(const ComError& e);
// The same, with the error object set for the caller.
HRESULT ResultOf(std::exception_ptr error, const Guid& iid);
template <class Body>
HRESULT Guard(const Guid& iid, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (...) {
        return ResultOf(std::current_exception(), iid);
    }
}
// The same as a late-bound call's exception information, the caller's whole error: no error
// object is set.
void FillException(EXCEPINFO* exception, const ComError& e);
// Raises the error of a failed call, as its object described it.
void Check(HRESULT hr, const char* call);

}  // namespace crv::win
