"""CRVAnchor.tlb on Linux: the component library's type library as data, registered beside the
library and read by our registry's type-library lookups."""
import json


def _param(p):
    entry = {"name": p.name, "type": p.type.name, "by": "ref" if p.direction == "inout" else "value"}
    if p.optional:
        entry["optional"] = True
        if p.default is not None:
            entry["default"] = p.default
    return entry


def emit(desc):
    lib = desc.component
    classes = []
    for c in lib.classes:
        members = []
        for m in c.interface.members:
            entry = {"name": m.name, "dispid": m.dispid, "kind": m.kind, "returns": m.returns.name,
                     "params": [_param(p) for p in m.params]}
            if m.category:
                entry["category_guid"] = m.category
            members.append(entry)
        entry = {"name": c.name, "clsid": "{%s}" % c.clsid.upper(), "interface": c.interface.name,
                 "iid": "{%s}" % c.interface.iid.upper()}
        if c.app_object:
            entry["app_object"] = True
        entry["members"] = members
        entry["progid"] = c.progid
        classes.append(entry)
    return json.dumps({"name": lib.name, "help": lib.help, "libid": "{%s}" % lib.libid.upper(),
                       "version": list(lib.version), "classes": classes}, indent=1) + "\n"
