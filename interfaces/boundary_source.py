"""Boundary.cpp: for every interface a COM-callable tear-off (a COM client calls our object) and
a proxy tear-off (our code calls a COM object), and the table of them; for the component's own
interfaces the late-bound member switch."""
from string import Template

from . import com, cpp

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
#include "Boundary.h"
#include "CRVAnchorTypeLib.h"
#include "CRVAnchorCom.h"
#include "windows/boundary/TearOffs.h"
#include "windows/boundary/Values.h"
${includes}namespace crv::win {
namespace {
${classes}}  // namespace
const InterfaceEntry kInterfaces[] = {
${entries}};
const size_t kInterfaceCount = ${count};
}  // namespace crv::win
""")

CCW = Template("""\
class Ccw${name} final : public CcwTearOff<::${com}, ${name}> {
public:
    using CcwTearOff::CcwTearOff;
${members}${late}};
""")

CCW_MEMBER = Template("""\
    HRESULT STDMETHODCALLTYPE ${method}(${params}) override {
${check}        return Guard([&] {
${body}        });
    }
""")

PROXY = Template("""\
class Proxy${name} final : public ProxyTearOff<::${com}, ${name}> {
public:
    using ProxyTearOff::ProxyTearOff;
${members}};
""")

# The error object is cleared before each call: none of an earlier call may pass for this one's.
PROXY_MEMBER = Template("""\
    ${returns} ${name}(${params}) override {
${before}        ::SetErrorInfo(0, nullptr);
        Check(Com()->${method}(${args}), "${interface}.${name}");
${after}    }
""")

LATE = Template("""\
protected:
    Variant LateBoundMember(DISPID id, LateCall& call) override {
        switch (id) {
${cases}            default: break;
        }
        call.NoMember();
    }
""")

LATE_CASE = Template("""\
            case ${dispid}: {
                call.Count(${required}, ${count});
${body}            }
""")

ENTRY = Template("""    {${name}::IID, "${com}", ${own}, MakeCcw<Ccw${name}, ${name}>, MakeProxy<Proxy${name}, ::${com}>},\n""")

LATE_ARGS = {"boolean": "Bool", "short": "Short", "long": "Long", "double": "Double", "BSTR": "String"}


def to_crv(t, expr):
    """A COM value as our code takes it."""
    if t.is_object:
        return "win::FromCom<%s>(%s)" % (t.name, expr)
    return {"BSTR": "win::FromBstr(%s)", "VARIANT": "win::FromVariant(%s)", "boolean": "(%s != VARIANT_FALSE)",
            "long": "static_cast<int32_t>(%s)", "handle": "static_cast<intptr_t>(%s)"}.get(t.name, "%s") % expr


def to_com(t, expr):
    """Our value as a COM value the receiver owns."""
    if t.is_object:
        return "win::ToCom<::%s>(%s)" % (com.interface_name(t), expr)
    return {"BSTR": "win::ToBstr(%s)", "VARIANT": "win::ToVariant(%s)", "boolean": "(%s ? VARIANT_TRUE : VARIANT_FALSE)",
            "long": "static_cast<LONG>(%s)", "handle": "static_cast<LONGLONG>(%s)"}.get(t.name, "%s") % expr


def _ccw_member(m, i):
    params = ["%s%s %s" % (com.widl_type(p.type), "*" if com.by_reference(p) else "", p.name) for p in m.params]
    checks = [p.name for p in m.params if com.by_reference(p)]
    if not m.returns.is_void:
        params.append("%s* result" % com.widl_type(m.returns))
        checks.append("result")
    check = "        if (%s) return E_POINTER;\n" % " || ".join("%s == nullptr" % c for c in checks) if checks else ""
    body, args, post = [], [], []
    for p in m.params:
        if p.direction == "out":
            body.append("            %s %s_value{};\n" % (cpp.value_type(p.type), p.name))
            args.append("%s_value" % p.name)
            post.append("            *%s = %s;\n" % (p.name, to_com(p.type, p.name + "_value")))
        elif com.by_reference(p):
            args.append(to_crv(p.type, "*" + p.name))
        else:
            args.append(to_crv(p.type, p.name))
    call = "Object()->%s(%s)" % (m.cpp_name, ", ".join(args))
    body.append("            *result = %s;\n" % to_com(m.returns, call) if not m.returns.is_void else "            %s;\n" % call)
    return CCW_MEMBER.substitute(method=com.method(m), params=", ".join(params), check=check, body="".join(body + post))


def _proxy_member(m, i):
    before, after, args = [], [], []
    for p in m.params:
        t = p.type
        if p.direction == "out":
            before.append("        %s %s_out{};\n" % (com.widl_type(t), p.name))
            args.append("&%s_out" % p.name)
            after.append("        %s = %s;\n" % (p.name, to_crv(t, p.name + "_out")))
        elif com.by_reference(p) and t.is_object:
            # The member may put another object in the caller's variable: whichever it holds
            # after the call is released.
            before.append("        ComRef<::%s> %s_inout(%s);\n" % (com.interface_name(t), p.name, to_com(t, p.name)))
            args.append("reinterpret_cast<::%s**>(%s_inout.Out())" % (com.interface_name(t), p.name))
        elif com.by_reference(p):
            before.append("        %s %s_inout = %s;\n" % (com.widl_type(t), p.name, to_com(t, p.name)))
            args.append("&%s_inout" % p.name)
        elif t.is_object:
            before.append("        const ComRef<::%s> %s_in(%s);\n" % (com.interface_name(t), p.name, to_com(t, p.name)))
            args.append("%s_in.Get()" % p.name)
        elif t.name == "BSTR":
            before.append("        const BstrRef %s_in(%s);\n" % (p.name, to_com(t, p.name)))
            args.append("%s_in.Get()" % p.name)
        elif t.name == "VARIANT":
            before.append("        VariantRef %s_in(%s);\n" % (p.name, p.name))
            args.append("%s_in.Get()" % p.name)
        else:
            args.append(to_com(t, p.name))
    r = m.returns
    if r.name == "VARIANT":
        before.append("        VariantRef result;\n")
        args.append("result.Out()")
        after.append("        return win::FromVariant(result.Ref());\n")
    elif not r.is_void:
        before.append("        %s result{%s};\n" % (com.widl_type(r), "nullptr" if r.is_object else ""))
        args.append("&result")
        if r.is_object:
            after.append("        return win::TakeCom<%s>(result);\n" % r.name)
        elif r.name == "BSTR":
            after.append("        return win::TakeBstr(result);\n")
        else:
            after.append("        return %s;\n" % to_crv(r, "result"))
    return PROXY_MEMBER.substitute(returns=cpp.value_type(r), name=m.cpp_name, params=cpp.params(m),
                                   before="".join(before), method=com.method(m), args=", ".join(args),
                                   interface=i.name, after="".join(after))


def _late_bound(i):
    """The wrapper's late-bound calls of one of the library's own interfaces: the member of a
    dispatch id found by one switch and called with its arguments, each converted as our Dispatch
    converts it. A by-reference value is passed as the member's const reference, so the caller's
    variable is never written back."""
    cases = []
    for m in i.members:
        body, args = [], []
        for k, p in enumerate(m.params):
            t = p.type
            if t.is_object:
                take, default = "call.Object<%s>(%d)" % (t.name, k), "ComPtr<%s>()" % t.name
            else:
                take, default = "call.%s(%d)" % (LATE_ARGS[t.name], k), "%s{}" % cpp.value_type(t)
            if p.optional:
                if p.default is not None:
                    default = cpp.literal(t, p.default)
                take = "call.Given(%d) ? %s : %s" % (k, take, default)
            # One after the other, in order: the first that does not convert is the one named.
            body.append("                const auto a%d = %s;\n" % (k, take))
            args.append("a%d" % k)
        call = "Object()->%s(%s)" % (m.cpp_name, ", ".join(args))
        if m.returns.is_void:
            body.append("                %s;\n                return Variant();\n" % call)
        else:
            body.append("                return Variant(%s);\n" % call)
        cases.append(LATE_CASE.substitute(dispid=m.dispid, required=sum(1 for p in m.params if not p.optional),
                                          count=len(m.params), body="".join(body)))
    return LATE.substitute(cases="".join(cases))


def emit(desc):
    interfaces = desc.host.interfaces + desc.component.interfaces
    classes = []
    for i in interfaces:
        own = i.library.role == "component"
        classes.append(CCW.substitute(name=i.name, com=i.com_name, members="".join(_ccw_member(m, i) for m in i.members),
                                      late=_late_bound(i) if own else ""))
        classes.append(PROXY.substitute(name=i.name, com=i.com_name,
                                        members="".join(_proxy_member(m, i) for m in i.members)))
    includes = "".join('#include "host/%s.h"\n' % p.name for p in desc.host.parts)
    entries = "".join(ENTRY.substitute(name=i.name, com=i.com_name, own="true" if i.library.role == "component" else "false")
                      for i in interfaces)
    return FILE.substitute(includes=includes, classes="".join(classes), entries=entries, count=len(interfaces))
