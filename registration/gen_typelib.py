#!/usr/bin/env python3
"""Generates the library's type library from its one description: the C++ declarations of the
interfaces the library itself defines, their type information, the late-bound call glue for
every class, and the type-library file that is registered beside the library."""
import json
import sys

desc_path, categories_path, out_h, out_cpp, out_tlb = sys.argv[1:6]
desc = json.load(open(desc_path))
categories = []
for line in open(categories_path):
    line = line.rstrip("\n")
    if not line or line.startswith("#"):
        continue
    name, guid = line.split("\t")
    categories.append((name, guid))
assert len({n for n, _ in categories}) == len(categories), "category names must be distinct"
assert len({g for _, g in categories}) == len(categories), "category GUIDs must be distinct"

OBJECTS = {"LayoutElement", "PropertyBag", "HostUID"}
CPP = {"boolean": "bool", "short": "int16_t", "long": "int32_t", "double": "double", "BSTR": "std::string", "void": "void"}
ARG = {"boolean": "ArgBool", "short": "ArgShort", "long": "ArgLong", "double": "ArgDouble", "BSTR": "ArgString"}


def guid_literal(g):
    return 'MakeGuid("%s")' % g.strip("{}").lower()


def ret_type(t):
    return "ComPtr<%s>" % t if t in OBJECTS else CPP[t]


def param_decl(p):
    t = p["type"]
    if t in OBJECTS:
        return "const ComPtr<%s>& %s" % (t, p["name"])
    if t == "BSTR":
        return "const std::string& %s" % p["name"]
    if p.get("by") == "ref":
        return "const %s& %s" % (CPP[t], p["name"])
    return "%s %s" % (CPP[t], p["name"])


# Resolve every class's members, the category properties included.
for c in desc["classes"]:
    cp = c.get("category_properties")
    if cp:
        for i, (name, guid) in enumerate(categories):
            c["members"].append({"name": name, "dispid": cp["first_dispid"] + i, "kind": "propget",
                                 "returns": cp["returns"], "params": [], "category_guid": guid})
    c["progid"] = "%s.%s" % (desc["name"], c["name"])

h = []
h.append("// Generated from registration/CRVAnchor.typelib.json and host/categories.tsv: do not edit.")
h.append("#pragma once")
h.append('#include "anchor/CRVAnchorManager.h"')
h.append('#include "com/Apartment.h"')
h.append('#include "com/Dispatch.h"')
h.append('#include "host/HostClasses.h"')
h.append("#include <array>")
h.append("#include <cstdint>")
h.append("#include <string>")
h.append("#include <vector>")
h.append("namespace crv {")
h.append("// The library's count of live objects and class objects, for DllCanUnloadNow.")
h.append("void LibraryObjectCreated();")
h.append("void LibraryObjectDestroyed();")
h.append("int64_t LiveLibraryObjects();")
h.append("namespace typelib {")
h.append("inline constexpr Guid kLibId = %s;" % guid_literal(desc["libid"]))
h.append("inline constexpr int kMajor = %d;" % desc["version"][0])
h.append("inline constexpr int kMinor = %d;" % desc["version"][1])
h.append('inline constexpr const char* kName = "%s";' % desc["name"])
for c in desc["classes"]:
    h.append("inline constexpr Guid kClsid%s = %s;" % (c["name"], guid_literal(c["clsid"])))
    h.append('inline constexpr const char* kProgId%s = "%s";' % (c["name"], c["progid"]))
h.append("const TypeLibInfo& Info();")
h.append("struct Category { const char* name; const char* guid; };")
h.append("extern const std::array<Category, %d> kCategories;" % len(categories))
h.append("}  // namespace typelib")
for c in desc["classes"]:
    if "declared_in" in c:
        h.append('static_assert(%s::IID == %s, "the interface id in %s must match the type library");'
                 % (c["interface"], guid_literal(c["iid"]), c["declared_in"]))
        continue
    h.append("class %s : public Unknown {" % c["interface"])
    h.append("public:")
    h.append("    static constexpr Guid IID = %s;" % guid_literal(c["iid"]))
    for m in c["members"]:
        h.append("    virtual %s %s(%s) = 0;" % (ret_type(m["returns"]), m["name"], ", ".join(param_decl(p) for p in m["params"])))
    h.append("protected:")
    h.append("    ~%s() = default;" % c["interface"])
    h.append("};")
    if c.get("category_properties"):
        h.append("// Every category property answers MakeUID of its category's GUID.")
        h.append("class %sProperties : public ComObject<%s> {" % (c["name"], c["interface"]))
        h.append("public:")
        for m in c["members"]:
            if "category_guid" in m:
                h.append('    ComPtr<HostUID> %s() override { return MakeUID("%s"); }' % (m["name"], m["category_guid"]))
        h.append("protected:")
        h.append("    %sProperties() = default;" % c["name"])
        h.append("};")
for c in desc["classes"]:
    h.append("Variant Invoke(%s* object, int32_t dispid, std::vector<Variant>& args);" % c["interface"])

# The class object as the library hands it out: answers for dispatch, refuses calls from other
# threads before they run, and counts itself for DllCanUnloadNow. An interface without members
# that the implementation does not declare is added here.
for idx, c in enumerate(desc["classes"]):
    iface = c["interface"]
    added = not c["members"] and "declared_in" not in c
    w = "Automated%s" % c["name"]
    bases = "public Impl, public %s, public Dispatch" % iface if added else "public Impl, public Dispatch"
    h.append("template <class Impl>")
    h.append("class %s final : %s {" % (w, bases))
    h.append("public:")
    h.append("    template <class... Args>")
    h.append("    explicit %s(Args&&... args) : Impl(std::forward<Args>(args)...) { LibraryObjectCreated(); }" % w)
    h.append("    ~%s() override { LibraryObjectDestroyed(); }" % w)
    h.append("    %s(const %s&) = delete;" % (w, w))
    h.append("    %s& operator=(const %s&) = delete;" % (w, w))
    h.append("    uint32_t AddRef() override { return Impl::AddRef(); }")
    h.append("    uint32_t Release() override { return Impl::Release(); }")
    h.append("    void* QueryInterface(const Guid& iid) override {")
    h.append("        if (iid == Dispatch::IID) {")
    h.append("            Impl::AddRef();")
    h.append("            return static_cast<Dispatch*>(this);")
    h.append("        }")
    if added:
        h.append("        if (iid == %s::IID) {" % iface)
        h.append("            Impl::AddRef();")
        h.append("            return static_cast<%s*>(this);" % iface)
        h.append("        }")
    h.append("        return Impl::QueryInterface(iid);")
    h.append("    }")
    h.append("    const InterfaceInfo& TypeInfo() override { return typelib::Info().interfaces[%d]; }" % idx)
    h.append("    Variant Invoke(int32_t dispid, std::vector<Variant>& args) override {")
    h.append("        apartment_.Require();")
    h.append("        return crv::Invoke(static_cast<%s*>(this), dispid, args);" % iface)
    h.append("    }")
    for m in c["members"]:
        params = ", ".join(param_decl(p) for p in m["params"])
        names = ", ".join(p["name"] for p in m["params"])
        h.append("    %s %s(%s) override {" % (ret_type(m["returns"]), m["name"], params))
        h.append("        apartment_.Require();")
        h.append("        return Impl::%s(%s);" % (m["name"], names))
        h.append("    }")
    h.append("private:")
    h.append("    Apartment apartment_;")
    h.append("};")
h.append("}  // namespace crv")

cpp = []
cpp.append("// Generated from registration/CRVAnchor.typelib.json and host/categories.tsv: do not edit.")
cpp.append('#include "CRVAnchorTypeLib.h"')
cpp.append("namespace crv {")
cpp.append("namespace typelib {")
cpp.append("const std::array<Category, %d> kCategories = {{" % len(categories))
for n, g in categories:
    cpp.append('    {"%s", "%s"},' % (n, g))
cpp.append("}};")
cpp.append("const TypeLibInfo& Info() {")
cpp.append("    static const TypeLibInfo info = [] {")
cpp.append("        TypeLibInfo t;")
cpp.append('        t.name = "%s";' % desc["name"])
cpp.append('        t.help = "%s";' % desc["help"])
cpp.append("        t.libid = kLibId;")
cpp.append("        t.major = kMajor;")
cpp.append("        t.minor = kMinor;")
for c in desc["classes"]:
    cpp.append("        {")
    cpp.append("            InterfaceInfo i;")
    cpp.append('            i.name = "%s";' % c["interface"])
    cpp.append("            i.iid = %s;" % guid_literal(c["iid"]))
    for m in c["members"]:
        params = ", ".join('ParamInfo{"%s", "%s", %s, %s}' % (p["name"], p["type"], "true" if p.get("by") == "ref" else "false",
                                                             "true" if p.get("optional") else "false") for p in m["params"])
        cpp.append('            i.members.push_back(MemberInfo{"%s", %d, %s, "%s", {%s}});'
                   % (m["name"], m["dispid"], "true" if m["kind"] == "propget" else "false", m["returns"], params))
    cpp.append("            t.interfaces.push_back(std::move(i));")
    cpp.append('            t.classes.push_back(CoClassInfo{"%s", kClsid%s, "%s", "%s", %s});'
               % (c["name"], c["name"], c["progid"], c["interface"], "true" if c.get("app_object") else "false"))
    cpp.append("        }")
cpp.append("        return t;")
cpp.append("    }();")
cpp.append("    return info;")
cpp.append("}")
cpp.append("}  // namespace typelib")
for idx, c in enumerate(desc["classes"]):
    cpp.append("Variant Invoke(%s* object, int32_t dispid, std::vector<Variant>& args) {" % c["interface"])
    cpp.append("    const MemberInfo& m = typelib::Info().interfaces[%d].Member(dispid);" % idx)
    cpp.append("    dispatch::CheckCount(m, args);")
    if not c["members"]:
        cpp.append("    (void)object;")
    cpp.append("    switch (dispid) {")
    for m in c["members"]:
        cpp.append("        case %d: {" % m["dispid"])
        names = []
        for k, p in enumerate(m["params"]):
            t = p["type"]
            conv = "dispatch::ArgObject<%s>" % t if t in OBJECTS else "dispatch::" + ARG[t]
            default = "ComPtr<%s>()" % t if t in OBJECTS else ("std::string()" if t == "BSTR" else CPP[t] + "{}")
            if p.get("optional"):
                cpp.append("            const auto a%d = args.size() > %d ? %s(args[%d]) : %s;" % (k, k, conv, k, default))
            else:
                cpp.append("            const auto a%d = %s(args[%d]);" % (k, conv, k))
            names.append("a%d" % k)
        call = "object->%s(%s)" % (m["name"], ", ".join(names))
        if m["returns"] == "void":
            cpp.append("            %s;" % call)
            result = "Variant()"
        else:
            cpp.append("            const Variant result(%s);" % call)
            result = "result"
        for k, p in enumerate(m["params"]):
            if p.get("by") == "ref" and p["type"] not in OBJECTS:
                cpp.append("            args[%d] = Variant(a%d);" % (k, k))
        cpp.append("            return %s;" % result)
        cpp.append("        }")
    cpp.append("        default: break;")
    cpp.append("    }")
    cpp.append('    Raise(hresult::kUnknownName, "CRVAnchor", "Unknown name.");')
    cpp.append("}")
cpp.append("}  // namespace crv")

tlb = {"name": desc["name"], "help": desc["help"], "libid": desc["libid"], "version": desc["version"],
       "classes": [{k: v for k, v in c.items() if k not in ("category_properties", "declared_in")} for c in desc["classes"]]}

open(out_h, "w").write("\n".join(h) + "\n")
open(out_cpp, "w").write("\n".join(cpp) + "\n")
open(out_tlb, "w").write(json.dumps(tlb, indent=1) + "\n")
