#pragma once
// Late-bound calls of a COM-callable wrapper (IDispatch): the type information, names to
// dispatch ids, and calls by dispatch id.

#include "windows/boundary/Identity.h"

#include <windows.h>
#include <oaidl.h>

namespace crv::win {

HRESULT DispatchTypeInfo(const InterfaceEntry& entry, UINT index, ITypeInfo** out);
HRESULT DispatchIdsOfNames(const InterfaceEntry& entry, Unknown* object, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispatchInvoke(const InterfaceEntry& entry, IDispatch* self, Unknown* object, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* badArgument);

}  // namespace crv::win
