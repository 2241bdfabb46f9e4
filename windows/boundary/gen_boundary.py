#!/usr/bin/env python3
"""Generates the COM boundary of the Windows build from the interfaces' one description each:
the host's interfaces as declared in host/*.h and the library's own in its type-library
description. Writes the IDL that widl turns into the type library and the C++ interface
declarations, and the C++ wrappers both ways: a COM-callable tear-off for every interface (a
COM client calls our object) and a proxy tear-off (our code calls a COM object)."""
import json
import os
import re
import sys

desc_path, categories_path, out_idl, out_h, out_cpp = sys.argv[1:6]
host_headers = sys.argv[6:]

# ---------------------------------------------------------------------------------------
# The host's interfaces, read from their C++ declarations.

# C++ spelling -> kind of value, and each kind's IDL type.
TYPES = {"std::string": "string", "Variant": "variant", "bool": "bool", "int16_t": "short", "int32_t": "long",
         "double": "double", "intptr_t": "handle", "void": "void"}
IDL_TYPES = {"string": "BSTR", "variant": "VARIANT", "bool": "VARIANT_BOOL", "short": "short", "long": "long",
             "double": "double", "handle": "LONGLONG"}


def idl_name(name):
    """The COM name of one of our interfaces: ICrv + its name, so none meets a platform name."""
    if re.match(r"^I[A-Z]", name):
        name = name[1:]
    return "ICrv" + name


def parse_type(text):
    text = text.strip()
    m = re.match(r"^(?:const\s+)?ComPtr<(\w+)>\s*&?$", text)
    if m:
        return {"kind": "object", "crv": m.group(1)}
    m = re.match(r"^(?:const\s+)?([\w:]+)\s*(&?)$", text)
    if not m or m.group(1) not in TYPES:
        raise SystemExit("gen_boundary: cannot carry the type '%s' across the boundary" % text)
    kind = TYPES[m.group(1)]
    out = m.group(2) == "&" and not text.startswith("const")
    return {"kind": kind, "cpp": m.group(1), "out": out}


interfaces = []
for path in host_headers:
    text = open(path).read()
    for m in re.finditer(r"class (\w+) : public Unknown \{(.*?)\n\};", text, re.S):
        name, body = m.group(1), m.group(2)
        iid = re.search(r'static constexpr Guid IID = MakeGuid\("([0-9a-f-]+)"\)', body).group(1)
        methods = []
        body = re.sub(r"//[^\n]*", "", body)
        for mm in re.finditer(r"virtual\s+(.+?)\s+(\w+)\(([^)]*)\)\s*=\s*0;", re.sub(r"\s+", " ", body)):
            ret, mname, params = mm.group(1), mm.group(2), mm.group(3)
            plist = []
            for p in [p.strip() for p in params.split(",") if p.strip()]:
                pm = re.match(r"^(.*?)(\w+)$", p)
                t = parse_type(pm.group(1))
                t["name"] = pm.group(2)
                plist.append(t)
            methods.append({"name": mname, "ret": parse_type(ret), "params": plist})
        interfaces.append({"crv": name, "com": idl_name(name), "iid": iid, "methods": methods,
                           "component": False, "header": path})

host_names = {i["crv"] for i in interfaces}

# ---------------------------------------------------------------------------------------
# The library's own interfaces, from its type-library description.

desc = json.load(open(desc_path))
categories = []
for line in open(categories_path):
    line = line.rstrip("\n")
    if line and not line.startswith("#"):
        categories.append(tuple(line.split("\t")))

JSON_TYPES = {"boolean": "bool", "short": "short", "long": "long", "double": "double", "BSTR": "string", "void": "void"}
JSON_CPP = {"bool": "bool", "short": "int16_t", "long": "int32_t", "double": "double", "string": "std::string"}


def json_type(t):
    if t in host_names:
        return {"kind": "object", "crv": t}
    return {"kind": JSON_TYPES[t], "cpp": JSON_CPP.get(JSON_TYPES[t])}


for c in desc["classes"]:
    members = list(c["members"])
    cp = c.get("category_properties")
    if cp:
        for i, (name, _guid) in enumerate(categories):
            members.append({"name": name, "dispid": cp["first_dispid"] + i, "kind": "propget",
                            "returns": cp["returns"], "params": []})
    methods = []
    for mem in members:
        params = []
        for p in mem["params"]:
            t = json_type(p["type"])
            t["name"] = p["name"]
            t["byref"] = p.get("by") == "ref" and t["kind"] != "object"
            t["optional"] = p.get("optional", False)
            params.append(t)
        methods.append({"name": mem["name"], "ret": json_type(mem["returns"]), "params": params,
                        "dispid": mem["dispid"], "propget": mem["kind"] == "propget"})
    interfaces.append({"crv": c["interface"], "com": c["interface"], "iid": c["iid"].strip("{}").lower(),
                       "methods": methods, "component": True, "class": c})

com_of = {i["crv"]: i["com"] for i in interfaces}
com_of["Unknown"] = "IUnknown"


def idl_type(t):
    if t["kind"] == "object":
        return com_of[t["crv"]] + "*"
    return IDL_TYPES[t["kind"]]


def idl_params(m):
    out = []
    for p in m["params"]:
        if p.get("out"):
            out.append("[out] %s* %s" % (idl_type(p), p["name"]))
        elif p.get("byref"):
            out.append("[in, out] %s* %s" % (idl_type(p), p["name"]))
        else:
            attrs = "[in, optional]" if p.get("optional") else "[in]"
            out.append("%s %s %s" % (attrs, idl_type(p), p["name"]))
    if m["ret"]["kind"] != "void":
        out.append("[out, retval] %s* result" % idl_type(m["ret"]))
    return ", ".join(out)


# ---------------------------------------------------------------------------------------
# IDL

idl = ["// Generated from host/*.h and registration/CRVAnchor.typelib.json: do not edit.",
       'import "oaidl.idl";', 'import "ocidl.idl";', ""]
for i in interfaces:
    idl.append("interface %s;" % i["com"])
idl.append("")
for i in interfaces:
    idl.append("[object, uuid(%s), dual, oleautomation, nonextensible]" % i["iid"])
    idl.append("interface %s : IDispatch {" % i["com"])
    for n, m in enumerate(i["methods"]):
        attrs = "id(%d)" % m["dispid"] if i["component"] else "id(%d)" % (n + 1)
        if m.get("propget"):
            attrs += ", propget"
        idl.append("    [%s] HRESULT %s(%s);" % (attrs, m["name"], idl_params(m)))
    idl.append("};")
    idl.append("")
idl.append("[uuid(%s), version(%d.%d), helpstring(\"%s\")]" % (desc["libid"].strip("{}"), desc["version"][0],
                                                               desc["version"][1], desc["help"]))
idl.append("library %s {" % desc["name"])
idl.append('    importlib("stdole2.tlb");')
for i in interfaces:
    if not i["component"]:
        idl.append("    interface %s;" % i["com"])
for i in interfaces:
    if i["component"]:
        c = i["class"]
        attrs = "uuid(%s)" % c["clsid"].strip("{}")
        if c.get("app_object"):
            attrs += ", appobject"
        idl.append("    [%s] coclass %s { [default] interface %s; };" % (attrs, c["name"], i["com"]))
idl.append("};")
open(out_idl, "w").write("\n".join(idl) + "\n")

# ---------------------------------------------------------------------------------------
# C++ wrappers


def com_method(m):
    """A member's name in widl's C++ declarations: a property's reader is get_ + its name."""
    return "get_" + m["name"] if m.get("propget") else m["name"]


def crv_type(t):
    if t["kind"] == "object":
        return "ComPtr<%s>" % t["crv"]
    return {"string": "std::string", "variant": "Variant", "bool": "bool", "short": "int16_t", "long": "int32_t",
            "double": "double", "handle": "intptr_t", "void": "void"}[t["kind"]]


def com_arg_type(t):
    """The C++ type of a COM parameter as the widl header declares it."""
    if t["kind"] == "object":
        return "::%s*" % t["com_name"]
    return {"string": "BSTR", "variant": "VARIANT", "bool": "VARIANT_BOOL", "short": "short", "long": "LONG",
            "double": "double", "handle": "LONGLONG"}[t["kind"]]


def to_crv(t, expr):
    """A COM value as our code takes it."""
    k = t["kind"]
    if k == "object":
        return "win::FromCom<%s>(%s)" % (t["crv"], expr)
    if k == "string":
        return "win::FromBstr(%s)" % expr
    if k == "variant":
        return "win::FromVariant(%s)" % expr
    if k == "bool":
        return "(%s != VARIANT_FALSE)" % expr
    if k == "long":
        return "static_cast<int32_t>(%s)" % expr
    if k == "handle":
        return "static_cast<intptr_t>(%s)" % expr
    return expr


def to_com(t, expr):
    """Our value as a COM value the receiver owns."""
    k = t["kind"]
    if k == "object":
        return "win::ToCom<::%s>(%s)" % (com_of[t["crv"]], expr)
    if k == "string":
        return "win::ToBstr(%s)" % expr
    if k == "bool":
        return "(%s ? VARIANT_TRUE : VARIANT_FALSE)" % expr
    if k == "long":
        return "static_cast<LONG>(%s)" % expr
    if k == "handle":
        return "static_cast<LONGLONG>(%s)" % expr
    if k == "variant":
        return "win::ToVariant(%s)" % expr
    return expr


for i in interfaces:
    for m in i["methods"]:
        for t in m["params"] + [m["ret"]]:
            if t["kind"] == "object":
                t["com_name"] = com_of[t["crv"]]

LATE_ARGS = {"bool": "Bool", "short": "Short", "long": "Long", "double": "Double", "string": "String"}


def late_bound_member(i):
    """The wrapper's late-bound calls of one of the library's own interfaces: the member of a
    dispatch id found by one switch and called with its arguments, each converted as our Dispatch
    converts it. A by-reference value is passed as the member's const reference, so the caller's
    variable is never written back."""
    cpp.append("protected:")
    cpp.append("    Variant LateBoundMember(DISPID id, LateCall& call) override {")
    cpp.append("        switch (id) {")
    for m in i["methods"]:
        params = m["params"]
        required = sum(1 for p in params if not p.get("optional"))
        cpp.append("            case %d: {" % m["dispid"])
        cpp.append("                call.Count(%d, %d);" % (required, len(params)))
        args = []
        for k, p in enumerate(params):
            if p["kind"] == "object":
                take, default = "call.Object<%s>(%d)" % (p["crv"], k), "ComPtr<%s>()" % p["crv"]
            else:
                take, default = "call.%s(%d)" % (LATE_ARGS[p["kind"]], k), "%s{}" % crv_type(p)
            if p.get("optional"):
                take = "call.Given(%d) ? %s : %s" % (k, take, default)
            # One after the other, in order: the first that does not convert is the one named.
            cpp.append("                const auto a%d = %s;" % (k, take))
            args.append("a%d" % k)
        call = "Object()->%s(%s)" % (m["name"], ", ".join(args))
        if m["ret"]["kind"] == "void":
            cpp.append("                %s;" % call)
            cpp.append("                return Variant();")
        else:
            cpp.append("                return Variant(%s);" % call)
        cpp.append("            }")
    cpp.append("            default: break;")
    cpp.append("        }")
    cpp.append("        call.NoMember();")
    cpp.append("    }")


h = ["// Generated from host/*.h and registration/CRVAnchor.typelib.json: do not edit.", "#pragma once",
     '#include "windows/boundary/Identity.h"', "namespace crv::win {",
     "// Every interface that crosses the boundary, with its two wrappers.",
     "extern const InterfaceEntry kInterfaces[];", "extern const size_t kInterfaceCount;",
     "}  // namespace crv::win"]
open(out_h, "w").write("\n".join(h) + "\n")

cpp = ["// Generated from host/*.h and registration/CRVAnchor.typelib.json: do not edit.",
       '#include "Boundary.h"', '#include "CRVAnchorTypeLib.h"', '#include "CRVAnchorCom.h"',
       '#include "windows/boundary/TearOffs.h"', '#include "windows/boundary/Values.h"']
for path in sorted({i["header"] for i in interfaces if not i["component"]}):
    # By its name in host/, whatever folders the checkout itself lies in.
    cpp.append('#include "host/%s"' % os.path.basename(path))
cpp += ["namespace crv::win {", "namespace {"]

for i in interfaces:
    crv, com = i["crv"], i["com"]
    # COM-callable tear-off.
    cpp.append("class Ccw%s final : public CcwTearOff<::%s, %s> {" % (crv, com, crv))
    cpp.append("public:")
    cpp.append("    using CcwTearOff::CcwTearOff;")
    for m in i["methods"]:
        params = []
        for p in m["params"]:
            if p.get("out") or p.get("byref"):
                params.append("%s* %s" % (com_arg_type(p), p["name"]))
            else:
                params.append("%s %s" % (com_arg_type(p), p["name"]))
        if m["ret"]["kind"] != "void":
            params.append("%s* result" % com_arg_type(m["ret"]))
        cpp.append("    HRESULT STDMETHODCALLTYPE %s(%s) override {" % (com_method(m), ", ".join(params)))
        checks = []
        for p in m["params"]:
            if p.get("out") or p.get("byref"):
                checks.append(p["name"])
        if m["ret"]["kind"] != "void":
            checks.append("result")
        if checks:
            cpp.append("        if (%s) return E_POINTER;" % " || ".join("%s == nullptr" % c for c in checks))
        cpp.append("        return Guard([&] {")
        args = []
        pre = []
        post = []
        for p in m["params"]:
            if p.get("out"):
                pre.append("%s %s_value{};" % (crv_type(p), p["name"]))
                args.append("%s_value" % p["name"])
                post.append("*%s = %s;" % (p["name"], to_com(p, p["name"] + "_value")))
            elif p.get("byref"):
                args.append(to_crv(p, "*" + p["name"]))
            else:
                args.append(to_crv(p, p["name"]))
        for line in pre:
            cpp.append("            " + line)
        call = "Object()->%s(%s)" % (m["name"], ", ".join(args))
        if m["ret"]["kind"] != "void":
            cpp.append("            *result = %s;" % to_com(m["ret"], call))
        else:
            cpp.append("            %s;" % call)
        for line in post:
            cpp.append("            " + line)
        cpp.append("        });")
        cpp.append("    }")
    if i["component"]:
        late_bound_member(i)
    cpp.append("};")
    # Proxy tear-off.
    cpp.append("class Proxy%s final : public ProxyTearOff<::%s, %s> {" % (crv, com, crv))
    cpp.append("public:")
    cpp.append("    using ProxyTearOff::ProxyTearOff;")
    for m in i["methods"]:
        params = []
        for p in m["params"]:
            if p["kind"] == "object":
                params.append("const %s& %s" % (crv_type(p), p["name"]))
            elif p["kind"] == "string":
                params.append("const std::string& %s" % p["name"])
            elif p["kind"] == "variant":
                params.append("const Variant& %s" % p["name"])
            elif p.get("out"):
                params.append("%s& %s" % (crv_type(p), p["name"]))
            elif p.get("byref"):
                params.append("const %s& %s" % (crv_type(p), p["name"]))
            else:
                params.append("%s %s" % (crv_type(p), p["name"]))
        cpp.append("    %s %s(%s) override {" % (crv_type(m["ret"]), m["name"], ", ".join(params)))
        args = []
        for p in m["params"]:
            k = p["kind"]
            if p.get("out"):
                cpp.append("        %s %s_out{};" % (com_arg_type(p), p["name"]))
                args.append("&%s_out" % p["name"])
            elif p.get("byref"):
                cpp.append("        %s %s_inout = %s;" % (com_arg_type(p), p["name"], to_com(p, p["name"])))
                args.append("&%s_inout" % p["name"])
            elif k == "object":
                cpp.append("        const ComRef<::%s> %s_in(%s);" % (p["com_name"], p["name"], to_com(p, p["name"])))
                args.append("%s_in.Get()" % p["name"])
            elif k == "string":
                cpp.append("        const BstrRef %s_in(%s);" % (p["name"], to_com(p, p["name"])))
                args.append("%s_in.Get()" % p["name"])
            elif k == "variant":
                cpp.append("        VariantRef %s_in(%s);" % (p["name"], p["name"]))
                args.append("%s_in.Get()" % p["name"])
            else:
                args.append(to_com(p, p["name"]))
        rk = m["ret"]["kind"]
        if rk != "void":
            init = "nullptr" if rk == "object" else ""
            cpp.append("        %s result%s;" % (com_arg_type(m["ret"]) if rk != "variant" else "VariantRef",
                                                 "{%s}" % init if rk != "variant" else ""))
            args.append("result.Out()" if rk == "variant" else "&result")
        # No error object of an earlier call may pass for this one's.
        cpp.append("        ::SetErrorInfo(0, nullptr);")
        cpp.append('        Check(Com()->%s(%s), "%s.%s");' % (com_method(m), ", ".join(args), crv, m["name"]))
        for p in m["params"]:
            if p.get("out"):
                cpp.append("        %s = %s;" % (p["name"], to_crv(p, p["name"] + "_out")))
        if rk == "object":
            cpp.append("        return win::TakeCom<%s>(result);" % m["ret"]["crv"])
        elif rk == "string":
            cpp.append("        return win::TakeBstr(result);")
        elif rk == "variant":
            cpp.append("        return win::FromVariant(result.Ref());")
        elif rk != "void":
            cpp.append("        return %s;" % to_crv(m["ret"], "result"))
        cpp.append("    }")
    cpp.append("};")

cpp.append("}  // namespace")
cpp.append("const InterfaceEntry kInterfaces[] = {")
for i in interfaces:
    cpp.append("    {%s::IID, \"%s\", %s, MakeCcw<Ccw%s, %s>, MakeProxy<Proxy%s, ::%s>}," % (
        i["crv"], i["com"], "true" if i["component"] else "false", i["crv"], i["crv"], i["crv"], i["com"]))
cpp.append("};")
cpp.append("const size_t kInterfaceCount = %d;" % len(interfaces))
cpp.append("}  // namespace crv::win")
open(out_cpp, "w").write("\n".join(cpp) + "\n")
