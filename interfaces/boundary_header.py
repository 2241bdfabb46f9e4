"""Boundary.h: the table of every interface that crosses the COM boundary with its two
wrappers."""
from string import Template

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
#pragma once
#include "windows/boundary/Identity.h"
namespace crv::win {
// Every interface that crosses the boundary, with its two wrappers.
extern const InterfaceEntry kInterfaces[];
extern const size_t kInterfaceCount;
// The host's type library, where the host's interfaces are described for late-bound calls: the
// component's own library imports them from it.
inline constexpr Guid kHostTypeLib = MakeGuid("${libid}");
inline constexpr unsigned short kHostTypeLibMajor = ${major};
inline constexpr unsigned short kHostTypeLibMinor = ${minor};
}  // namespace crv::win
""")


def emit(desc):
    return FILE.substitute(libid=desc.host.libid, major=desc.host.version[0], minor=desc.host.version[1])
