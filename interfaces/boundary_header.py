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
}  // namespace crv::win
""")


def emit(desc):
    return FILE.substitute()
