"""CRVAnchorTypeLib.cpp: the component library's type information as our late binding reads it
(names, dispatch ids, parameter kinds), its category table, and for every class the one switch
that calls a member by its dispatch id with Variant arguments."""
from string import Template

from . import cpp

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json and host/categories.tsv: do not edit.
#include "CRVAnchorTypeLib.h"
namespace crv {
namespace typelib {
const std::array<Category, ${count}> kCategories = {{
${categories}}};
const TypeLibInfo& Info() {
    static const TypeLibInfo info = [] {
        TypeLibInfo t;
        t.name = "${name}";
        t.help = "${help}";
        t.libid = kLibId;
        t.major = kMajor;
        t.minor = kMinor;
${classes}        return t;
    }();
    return info;
}
}  // namespace typelib
${invokes}}  // namespace crv
""")

CLASS = Template("""\
        {
            InterfaceInfo i;
            i.name = "${interface}";
            i.iid = ${iid};
${members}            t.interfaces.push_back(std::move(i));
            t.classes.push_back(CoClassInfo{"${name}", kClsid${name}, "${progid}", "${interface}", ${app_object}});
        }
""")

MEMBER = Template("""\
            i.members.push_back(MemberInfo{"${name}", ${dispid}, ${propget}, "${returns}", {${params}}});
""")

INVOKE = Template("""\
Variant Invoke(${interface}* object, int32_t dispid, std::vector<Variant>& args) {
    const MemberInfo& m = typelib::Info().interfaces[${index}].Member(dispid);
    dispatch::CheckCount(m, args);
${unused}    switch (dispid) {
${cases}        default: break;
    }
    Raise(hresult::kUnknownName, "CRVAnchor", "Unknown name.");
}
""")

CASE = Template("""\
        case ${dispid}: {
${body}        }
""")

ARG = {"boolean": "ArgBool", "short": "ArgShort", "long": "ArgLong", "double": "ArgDouble", "BSTR": "ArgString"}


def _bool(b):
    return "true" if b else "false"


def _case(m):
    body = []
    names = []
    for k, p in enumerate(m.params):
        t = p.type
        conv = "dispatch::ArgObject<%s>" % t.name if t.is_object else "dispatch::" + ARG[t.name]
        if p.optional:
            # An argument left out is the parameter's default, as the type information gives it.
            body.append("            const auto a%d = %s(args.size() > %d ? args[%d] : m.params[%d].default_value);\n"
                        % (k, conv, k, k, k))
        else:
            body.append("            const auto a%d = %s(args[%d]);\n" % (k, conv, k))
        names.append("a%d" % k)
    call = "object->%s(%s)" % (m.cpp_name, ", ".join(names))
    if m.returns.is_void:
        body.append("            %s;\n" % call)
        result = "Variant()"
    else:
        body.append("            const Variant result(%s);\n" % call)
        result = "result"
    # A by-reference value goes back to the caller as the member left it.
    for k, p in enumerate(m.params):
        if p.direction == "inout" and not p.type.is_object:
            body.append("            args[%d] = Variant(a%d);\n" % (k, k))
    body.append("            return %s;\n" % result)
    return CASE.substitute(dispid=m.dispid, body="".join(body))


def _param_info(p):
    default = "Variant(%s)" % cpp.literal(p.type, p.default) if p.default is not None else "Variant()"
    return 'ParamInfo{"%s", "%s", %s, %s, %s}' % (p.name, p.type.name, _bool(p.direction == "inout"), _bool(p.optional),
                                                 default)


def emit(desc):
    lib = desc.component
    categories = "".join('    {"%s", "%s"},\n' % (n, g) for n, g in desc.categories)
    classes = []
    invokes = []
    for index, c in enumerate(lib.classes):
        i = c.interface
        members = "".join(MEMBER.substitute(
            name=m.name, dispid=m.dispid, propget=_bool(m.kind == "propget"), returns=m.returns.name,
            params=", ".join(_param_info(p) for p in m.params))
            for m in i.members)
        classes.append(CLASS.substitute(interface=i.name, iid=cpp.guid(i.iid), members=members, name=c.name,
                                        progid=c.progid, app_object=_bool(c.app_object)))
        invokes.append(INVOKE.substitute(interface=i.name, index=index, unused="" if i.members else "    (void)object;\n",
                                         cases="".join(_case(m) for m in i.members)))
    return FILE.substitute(count=len(desc.categories), categories=categories, name=lib.name, help=lib.help,
                           classes="".join(classes), invokes="".join(invokes))
