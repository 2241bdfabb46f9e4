#pragma once
// Our identifiers as the platform's and back: the same 128 bits, field by field.

#include "com/Guid.h"

#include <windows.h>

namespace crv::win {

inline GUID ToGUID(const Guid& g) {
    GUID out;
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    for (size_t i = 0; i < 8; ++i) out.Data4[i] = g.data4[i];
    return out;
}

inline Guid FromGUID(const GUID& g) {
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    for (size_t i = 0; i < 8; ++i) out.data4[i] = g.Data4[i];
    return out;
}

}  // namespace crv::win
