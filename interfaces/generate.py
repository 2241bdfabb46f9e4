#!/usr/bin/env python3
"""Writes one generated file (or family of files) from the interfaces' description.

usage: generate.py DESCRIPTION CATEGORIES WHAT OUTPUT...
  host-headers FOLDER        host/<Part>.h and host/HostClasses.h under FOLDER
  host-header-names          the names of those headers, one a line (for the build's configuration)
  typelib-header FILE        CRVAnchorTypeLib.h, the component library's C++ declarations
  typelib-source FILE        CRVAnchorTypeLib.cpp, its type information and late-bound calls
  typelib-data FILE          CRVAnchor.tlb, its type library as data (Linux)
  idl-host FILE              CRVAnchorHost.idl, the host's library, for widl (Windows)
  idl FILE                   CRVAnchor.idl, the component's library, for widl (Windows)
  boundary-header FILE       Boundary.h, the COM boundary's table of interfaces (Windows)
  boundary-source FILE       Boundary.cpp, its wrappers both ways (Windows)
  checked-page FILE          LibraryPropertyPage.h, the page's thread checks
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from interfaces import boundary_header, boundary_source, checked_page, host_headers, idl, model, typelib_data, typelib_header, typelib_source  # noqa: E402

# The generated files made by one emitter each, by the name the build asks for them by.
EMITTERS = {
    "typelib-header": typelib_header.emit,
    "typelib-source": typelib_source.emit,
    "typelib-data": typelib_data.emit,
    "idl-host": idl.emit_host,
    "idl": idl.emit,
    "boundary-header": boundary_header.emit,
    "boundary-source": boundary_source.emit,
    "checked-page": checked_page.emit,
}


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    description, categories, what, outputs = argv[1], argv[2], argv[3], argv[4:]
    try:
        desc = model.load(description, categories)
    except (model.DescriptionError, KeyError, ValueError) as e:
        sys.exit("%s: %s" % (description, e))
    if what == "host-headers":
        host_headers.write(desc, outputs[0])
    elif what == "host-header-names":
        print("\n".join(["%s.h" % p.name for p in desc.host.parts] + ["HostClasses.h"]))
    elif what in EMITTERS:
        write(outputs[0], EMITTERS[what](desc))
    else:
        sys.exit("generate.py: no generated file '%s'" % what)


if __name__ == "__main__":
    main(sys.argv)
