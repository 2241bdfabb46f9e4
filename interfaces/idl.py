"""CRVAnchor.idl: the interfaces and the component's library in the platform's interface
language, which widl turns into the C++ declarations (CRVAnchorCom.h) and the type library
embedded in the component."""
from string import Template

from . import com

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
import "oaidl.idl";
import "ocidl.idl";

${forward}
${interfaces}[uuid(${libid}), version(${major}.${minor}), helpstring("${help}")]
library ${library} {
    importlib("stdole2.tlb");
${references}${coclasses}};
""")

INTERFACE = Template("""\
[object, uuid(${iid}), dual, oleautomation, nonextensible]
interface ${name} : IDispatch {
${members}};

""")

MEMBER = Template("""    [${attributes}] HRESULT ${name}(${params});\n""")

COCLASS = Template("""    [${attributes}] coclass ${name} { [default] interface ${interface}; };\n""")


def _params(m):
    out = []
    for p in m.params:
        if p.direction == "out":
            out.append("[out] %s* %s" % (com.idl_type(p.type), p.name))
        elif com.by_reference(p):
            out.append("[in, out] %s* %s" % (com.idl_type(p.type), p.name))
        else:
            out.append("%s %s %s" % ("[in, optional]" if p.optional else "[in]", com.idl_type(p.type), p.name))
    if not m.returns.is_void:
        out.append("[out, retval] %s* result" % com.idl_type(m.returns))
    return ", ".join(out)


def _interface(i):
    members = []
    for m in i.members:
        attributes = "id(%d)" % com.dispid(m, i)
        if com.kind(m, i) != "method":
            attributes += ", " + com.kind(m, i)
        members.append(MEMBER.substitute(attributes=attributes, name=com.name(m, i), params=_params(m)))
    return INTERFACE.substitute(iid=i.iid, name=i.com_name, members="".join(members))


def emit(desc):
    interfaces = desc.host.interfaces + desc.component.interfaces
    lib = desc.component
    coclasses = []
    for c in lib.classes:
        attributes = "uuid(%s)" % c.clsid.upper()
        if c.app_object:
            attributes += ", appobject"
        coclasses.append(COCLASS.substitute(attributes=attributes, name=c.name, interface=c.interface.com_name))
    return FILE.substitute(forward="".join("interface %s;\n" % i.com_name for i in interfaces),
                           interfaces="".join(_interface(i) for i in interfaces), libid=lib.libid.upper(),
                           major=lib.version[0], minor=lib.version[1], help=lib.help, library=lib.name,
                           references="".join("    interface %s;\n" % i.com_name for i in desc.host.interfaces),
                           coclasses="".join(coclasses))
