"""The two libraries in the platform's interface language, which widl turns into C++
declarations and type libraries: CRVAnchorHost.idl, the host's interfaces in the host's own
library (the test host carries and registers it), and CRVAnchor.idl, the component's
interfaces and classes in its library, which imports the host's instead of defining its
interfaces again."""
from string import Template

from . import com, cpp

# A library: the host's imports nothing of ours; the component's imports the host's library.
LIBRARY = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
import "oaidl.idl";
import "ocidl.idl";
${imports}
${forward}
${interfaces}[uuid(${libid}), version(${major}.${minor}), helpstring("${help}")]
library ${library} {
    importlib("stdole2.tlb");
${importlibs}${body}};
""")

INTERFACE = Template("""\
[${attributes}]
interface ${name} : IDispatch {
${members}};

""")

MEMBER = Template("""    [${attributes}] HRESULT ${name}(${params});\n""")

COCLASS = Template("""\
    [${attributes}]
    coclass ${name} {
        [default] interface ${interface};
${implements}    };
""")


def _params(m):
    out = []
    for p in m.params:
        if p.direction == "out":
            out.append("[out] %s* %s" % (com.idl_type(p.type), p.name))
        elif p.direction == "inout":
            out.append("[in, out] %s* %s" % (com.idl_type(p.type), p.name))
        else:
            out.append("[%s] %s %s" % (", ".join(["in"] + _optional(p)), com.idl_type(p.type), p.name))
    if not m.returns.is_void:
        out.append("[out, retval] %s* result" % com.idl_type(m.returns))
    return ", ".join(out)


def _optional(p):
    """An optional parameter's attributes: a flag's default is VARIANT_TRUE or VARIANT_FALSE."""
    if not p.optional:
        return []
    if p.default is None:
        return ["optional"]
    if p.type.name == "BSTR":
        value = cpp.string_literal(p.default)
    elif p.type.name == "boolean":
        value = "-1" if p.default else "0"
    else:
        value = "%d" % p.default
    return ["optional", "defaultvalue(%s)" % value]


def _help(text):
    return ["helpstring(%s)" % cpp.string_literal(text)] if text else []


def _interface(i):
    # A property's reader and writers share one help string: the reader of a type library finds
    # it by the dispatch id they share.
    docs = {}
    for m in i.members:
        if m.doc and not docs.get(m.dispid):
            docs[m.dispid] = m.doc
    members = []
    for m in i.members:
        attributes = ", ".join(["id(%d)" % m.dispid] + ([m.kind] if m.is_property else []) + _help(docs.get(m.dispid, "")))
        members.append(MEMBER.substitute(attributes=attributes, name=com.name(m), params=_params(m)))
    attributes = ", ".join(["object", "uuid(%s)" % i.iid] + i.flags + _help(i.doc))
    return INTERFACE.substitute(attributes=attributes, name=i.com_name, members="".join(members))


def _forward(interfaces):
    return "".join("interface %s;\n" % i.com_name for i in interfaces)


def _library(lib, body, imported=None):
    return LIBRARY.substitute(imports='import "%s.idl";\n' % imported if imported else "",
                              importlibs='    importlib("%s.tlb");\n' % imported if imported else "",
                              forward=_forward(lib.interfaces), interfaces="".join(_interface(i) for i in lib.interfaces),
                              libid=lib.libid.upper(), major=lib.version[0], minor=lib.version[1], help=lib.help,
                              library=lib.name, body=body)


def emit_host(desc):
    lib = desc.host
    return _library(lib, "".join("    interface %s;\n" % i.com_name for i in lib.interfaces))


def emit(desc):
    lib = desc.component
    coclasses = []
    for c in lib.classes:
        attributes = "uuid(%s)" % c.clsid.upper() + (", appobject" if c.app_object else "")
        coclasses.append(COCLASS.substitute(attributes=attributes, name=c.name, interface=c.interface.com_name,
                                            implements="".join("        interface %s;\n" % i.com_name
                                                               for i in c.implements)))
    return _library(lib, "".join(coclasses), imported=desc.host.name)
