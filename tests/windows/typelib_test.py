#!/usr/bin/env python3
"""The type libraries in the component and in the test host, as the platform's own reader finds
them, say what the interfaces' description says, item by item: each library's identity; the
interfaces it defines (the host's in the host's library alone, imported by the component's);
every name as the description spells it; the help texts; the flags (hidden, nonextensible, appobject); every
member's dispatch id and kind (a property's reader and writers as properties); every
parameter's direction, optional or not, its default, and its type with its level of reference;
each class's interfaces.

usage: typelib_test.py WINE_RUN DUMP_EXE COMPONENT_DLL HOST_DLL DESCRIPTION CATEGORIES"""
import json
import os
import sys

from wine_helpers import call, win_path

wine_run, dump_exe, component_dll, host_dll, description, categories = sys.argv[1:7]
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(description))))
from interfaces import model  # noqa: E402

desc = model.load(description, categories)
failures = []

IDL = {"boolean": "VARIANT_BOOL", "short": "short", "long": "long", "double": "double", "BSTR": "BSTR",
       "VARIANT": "VARIANT", "handle": "LONGLONG"}


def type_text(t, references):
    base = ("IUnknown*" if t.name == "Unknown" else t.interface.com_name + "*") if t.is_object else IDL[t.name]
    return base + "*" * references


def expected_function(m, help_text):
    """A member as the reader should find it. The names of a property writer's value and of a
    return value are not the reader's to give (the platform's GetNames leaves them out)."""
    params = []
    for p in m.params:
        flags = {"in": ["in"], "out": ["out"], "inout": ["in", "out"]}[p.direction] + (["optional"] if p.optional else [])
        param = {"name": None if m.kind in ("propput", "propputref") else p.name,
                 "type": type_text(p.type, 0 if p.direction == "in" else 1), "flags": flags}
        if p.default is not None:
            flags.append("hasdefault")
            param["default"] = p.default
        params.append(param)
    if not m.returns.is_void:
        params.append({"name": None, "type": type_text(m.returns, 1), "flags": ["out", "retval"]})
    return {"name": m.name if m.is_property else m.cpp_name, "memid": m.dispid, "kind": m.kind, "help": help_text,
            "params": params}


def unnamed(f, m):
    """The function as found, without the names the reader need not give."""
    if f is None:
        return None
    f = json.loads(json.dumps(f))
    for p in f["params"]:
        if "retval" in p["flags"] or m.kind in ("propput", "propputref"):
            p["name"] = None
    return f


def braced(g):
    return "{%s}" % g.upper()


def compare_library(found, lib, flags_of):
    where = lib.name
    for key, want in (("name", lib.name), ("help", lib.help), ("libid", braced(lib.libid)), ("version", list(lib.version))):
        if found[key] != want:
            failures.append("%s: the library's %s is %r, not %r" % (where, key, found[key], want))
    types = {t["name"]: t for t in found["types"]}
    defined = {t["name"] for t in found["types"] if t["kind"] != "coclass"}
    # widl (7.0) cannot list an imported interface in a class: the component's library carries a
    # copy of each interface a class of its implements besides its own.
    want_defined = {i.com_name for i in lib.interfaces} | {
        i.com_name for c in lib.classes for i in c.implements if lib.role == "component"}
    if defined != want_defined:
        failures.append("%s defines %s where the description has %s" % (
            where, sorted(defined - want_defined) or "nothing more", sorted(want_defined - defined) or "nothing more"))
    for i in lib.interfaces:
        t = types.get(i.com_name)
        if t is None:
            lower = {n.lower(): n for n in types}
            failures.append("%s: no interface %s%s" % (where, i.com_name, " (spelt %s)" % lower[i.com_name.lower()]
                                                       if i.com_name.lower() in lower else ""))
            continue
        if t["help"] != i.doc:
            failures.append("%s.%s: help %r, described %r" % (where, i.com_name, t["help"], i.doc))
        for flag in ("hidden", "nonextensible", "dual"):
            if (flag in t["flags"]) != (flag in flags_of(i)):
                failures.append("%s.%s: %s is %s" % (where, i.com_name, flag, "set" if flag in t["flags"] else "missing"))
        functions = [f for f in t["functions"] if f["memid"] >= 0 and f["memid"] < 0x60000000]
        # A property's help is its accessors' one doc text, found by the dispatch id they share.
        docs = {}
        for m in i.members:
            if m.doc and not docs.get(m.dispid):
                docs[m.dispid] = m.doc
        want = [expected_function(m, docs.get(m.dispid, "")) for m in i.members]
        for k, w in enumerate(want):
            f = unnamed(functions[k], i.members[k]) if k < len(functions) else None
            if f != w:
                failures.append("%s.%s member %d: found %s, described %s" % (where, i.com_name, k + 1, json.dumps(f),
                                                                             json.dumps(w)))
        if len(functions) > len(want):
            failures.append("%s.%s: %d members more than described" % (where, i.com_name, len(functions) - len(want)))
    for c in lib.classes if lib.role == "component" else []:
        t = types.get(c.name)
        if t is None or t["kind"] != "coclass":
            failures.append("%s: no class %s" % (where, c.name))
            continue
        if t["guid"] != braced(c.clsid):
            failures.append("%s.%s: class id %s" % (where, c.name, t["guid"]))
        if ("appobject" in t["flags"]) != c.app_object:
            failures.append("%s.%s: appobject is %s" % (where, c.name, "set" if "appobject" in t["flags"] else "missing"))
        want = [{"name": c.interface.com_name, "flags": ["default"]}] + [
            {"name": i.com_name, "flags": []} for i in c.implements]
        if t["implements"] != want:
            failures.append("%s.%s lists %s, described %s" % (where, c.name, t["implements"], want))


code, out, err = call([wine_run, dump_exe, win_path(component_dll), win_path(host_dll)])
if code != 0:
    sys.exit("FAILED: the dump exited %d\n%s%s" % (code, out, err))
component, host = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
compare_library(component, desc.component, lambda i: i.flags)
compare_library(host, desc.host, lambda i: i.flags)
if failures:
    print("FAILED: %d differences from the description:\n  %s" % (len(failures), "\n  ".join(failures[:60])))
    sys.exit(1)
print("both type libraries as described")
