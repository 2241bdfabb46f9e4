"""The host's C++ headers, host/<Part>.h for each part of the host's library and
host/HostClasses.h for its classes: what the component and every host include."""
import os
from string import Template

from . import cpp

HEADER = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json: do not edit.
#pragma once
${doc}
${includes}

namespace crv {

${body}}  // namespace crv
""")

INTERFACE = Template("""\
${doc}class ${name} : public Unknown {
public:
    static constexpr Guid IID = ${iid};
${constants}${members}
protected:
    ~${name}() = default;
};

""")

MEMBER = Template("""${doc}    virtual ${returns} ${name}(${params}) = 0;\n""")

ENUM = Template("""\
${doc}namespace ${name} {
${values}}  // namespace ${name}

""")

CLASSES = Template("""\
// The host's type library: its interfaces as late-bound callers and the platform's marshaler
// read them, registered by the host.
namespace hostlib {
inline constexpr Guid kLibId = ${libid};
inline constexpr const char* kName = "${name}";
inline constexpr int kMajor = ${major};
inline constexpr int kMinor = ${minor};
}  // namespace hostlib

namespace clsid {
${clsids}}  // namespace clsid

${makers}
// A companion object, or no object where no companion is installed: the companions are
// optional, and their absence means no multi-page layout and no map series.
template <class I>
ComPtr<I> CompanionOrNothing(ComPtr<I> (*create)()) {
    try {
        return create();
    } catch (const ComError& e) {
        if (e.Number() == hresult::kClassNotRegistered) return {};
        throw;
    }
}

""")

MAKER = Template("""${doc}inline ComPtr<${interface}> ${maker}() { return CreateObject<${interface}>(clsid::${name}); }\n""")


def _constant(c):
    if c.type == "BSTR":
        return '    static constexpr const char* %s = "%s";\n' % (c.name, c.value)
    return "    static constexpr %s %s = %d;\n" % (cpp.VALUES[c.type], c.name, c.value)


def _parts_used(part):
    """The other parts whose interfaces this part's members name."""
    used = []
    for i in part.interfaces:
        for m in i.members:
            for t in [m.returns] + [p.type for p in m.params]:
                if t.interface is not None and t.interface.part is not part and t.interface.part not in used:
                    used.append(t.interface.part)
    return used


def part_header(part):
    body = []
    forward = "".join("class %s;\n" % i.name for i in part.interfaces)
    body.append(forward + "\n")
    for e in part.enums:
        values = "".join("inline constexpr int32_t %s = %d;\n" % (n, v) for n, v in e.values)
        body.append(ENUM.substitute(doc=cpp.comment(e.doc), name=e.name, values=values))
    for i in part.interfaces:
        members = "".join(MEMBER.substitute(doc=cpp.comment(m.doc, "    "), returns=cpp.value_type(m.returns),
                                            name=m.cpp_name, params=cpp.params(m)) for m in i.members)
        constants = "".join(_constant(c) for c in i.constants)
        body.append(INTERFACE.substitute(doc=cpp.comment(i.doc), name=i.name, iid=cpp.guid(i.iid),
                                         constants=constants + ("\n" if constants else ""), members=members))
    includes = ['#include "com/Variant.h"'] + ['#include "host/%s.h"' % p.name for p in _parts_used(part)]
    includes += ["", "#include <cstdint>", "#include <string>"]
    return HEADER.substitute(doc=cpp.comment(part.doc), includes="\n".join(includes), body="".join(body))


def classes_header(library):
    clsids = "".join("inline constexpr Guid %s = %s;\n" % (c.name, cpp.guid(c.clsid)) for c in library.classes)
    makers = "".join(MAKER.substitute(doc=cpp.comment(c.doc), interface=c.interface.name, maker=c.maker, name=c.name)
                     for c in library.classes)
    includes = ['#include "com/ClassTable.h"'] + ['#include "host/%s.h"' % p.name for p in library.parts]
    return HEADER.substitute(doc=cpp.comment(library.classes_doc), includes="\n".join(includes),
                             body=CLASSES.substitute(clsids=clsids, makers=makers, libid=cpp.guid(library.libid),
                                                     name=library.name, major=library.version[0],
                                                     minor=library.version[1]))


def write(desc, folder):
    """Every header into folder/host/, each rewritten only when its text changes, so that a
    change of one part rebuilds only what includes it."""
    out = os.path.join(folder, "host")
    os.makedirs(out, exist_ok=True)
    files = {"%s.h" % p.name: part_header(p) for p in desc.host.parts}
    files["HostClasses.h"] = classes_header(desc.host)
    for name, text in files.items():
        path = os.path.join(out, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                if f.read() == text:
                    continue
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return sorted(files)
