"""CRVAnchorTypeLib.h: the component library's identifiers, the C++ declarations of the
interfaces it defines itself, and the class wrappers it hands out (dispatch, thread checks, the
live-object count)."""
from string import Template

from . import cpp

FILE = Template("""\
// Generated from interfaces/CRVAnchor.interfaces.json and host/categories.tsv: do not edit.
#pragma once
#include "anchor/CRVAnchorManager.h"
#include "com/Apartment.h"
#include "com/Dispatch.h"
#include "host/HostClasses.h"
#include <array>
#include <cstdint>
#include <string>
#include <vector>
namespace crv {
// The library's count of live objects and class objects, for DllCanUnloadNow.
void LibraryObjectCreated();
void LibraryObjectDestroyed();
int64_t LiveLibraryObjects();
namespace typelib {
inline constexpr Guid kLibId = ${libid};
inline constexpr int kMajor = ${major};
inline constexpr int kMinor = ${minor};
inline constexpr const char* kName = "${name}";
${ids}// The interfaces the library carries for its classes while another library defines them.
inline const std::vector<Guid> kBorrowed = {${borrowed}};
const TypeLibInfo& Info();
struct Category { const char* name; const char* guid; };
extern const std::array<Category, ${categories}> kCategories;
}  // namespace typelib
${interfaces}${invokes}${wrappers}}  // namespace crv
""")

IDS = Template("""\
inline constexpr Guid kClsid${name} = ${clsid};
inline constexpr const char* kProgId${name} = "${progid}";
""")

CHECKED = Template("""\
static_assert(${interface}::IID == ${iid}, "the interface id in ${declared_in} must match the type library");
""")

INTERFACE = Template("""\
class ${interface} : public Unknown {
public:
    static constexpr Guid IID = ${iid};
${members}protected:
    ~${interface}() = default;
};
""")

CATEGORIES = Template("""\
// Every category property answers MakeUID of its category's GUID.
class ${name}Properties : public ComObject<${interface}> {
public:
${members}protected:
    ${name}Properties() = default;
};
""")

WRAPPER = Template("""\
template <class Impl>
class Automated${name} final : ${bases} {
public:
    template <class... Args>
    explicit Automated${name}(Args&&... args) : Impl(std::forward<Args>(args)...) { LibraryObjectCreated(); }
    ~Automated${name}() override { LibraryObjectDestroyed(); }
    Automated${name}(const Automated${name}&) = delete;
    Automated${name}& operator=(const Automated${name}&) = delete;
    uint32_t AddRef() override { return Impl::AddRef(); }
    uint32_t Release() override { return Impl::Release(); }
    void* QueryInterface(const Guid& iid) override {
        if (iid == Dispatch::IID) {
            Impl::AddRef();
            return static_cast<Dispatch*>(this);
        }
${own}        return Impl::QueryInterface(iid);
    }
    const InterfaceInfo& TypeInfo() override { return typelib::Info().interfaces[${index}]; }
    Variant Invoke(int32_t dispid, std::vector<Variant>& args) override {
        apartment_.Require();
        return crv::Invoke(static_cast<${interface}*>(this), dispid, args);
    }
${members}private:
    Apartment apartment_;
};
""")

OWN = Template("""\
        if (iid == ${interface}::IID) {
            Impl::AddRef();
            return static_cast<${interface}*>(this);
        }
""")

FORWARD = Template("""\
    ${returns} ${name}(${params}) override {
        apartment_.Require();
        return Impl::${name}(${names});
    }
""")


def _declares(c):
    """Whether the generated header declares the class's interface: one declared by hand is only
    checked, and the page's default interface has no members its implementation would declare."""
    return not c.declared_in


def borrowed(lib):
    """The interfaces the library's classes implement that another library defines, once each."""
    own, out = {i.iid for i in lib.interfaces}, {}
    for c in lib.classes:
        out.update((i.iid, i) for i in c.implements if i.iid not in own)
    return list(out.values())


def emit(desc):
    lib = desc.component
    ids = "".join(IDS.substitute(name=c.name, clsid=cpp.guid(c.clsid), progid=c.progid) for c in lib.classes)
    interfaces = []
    for c in lib.classes:
        i = c.interface
        if c.declared_in:
            interfaces.append(CHECKED.substitute(interface=i.name, iid=cpp.guid(i.iid), declared_in=c.declared_in))
            continue
        members = "".join("    virtual %s %s(%s) = 0;\n" % (cpp.value_type(m.returns), m.cpp_name, cpp.params(m))
                          for m in i.members)
        interfaces.append(INTERFACE.substitute(interface=i.name, iid=cpp.guid(i.iid), members=members))
        categories = [m for m in i.members if m.category]
        if categories:
            members = "".join('    %s %s() override { return MakeUID("%s"); }\n' % (cpp.value_type(m.returns), m.name, m.category)
                              for m in categories)
            interfaces.append(CATEGORIES.substitute(name=c.name, interface=i.name, members=members))
    invokes = "".join("Variant Invoke(%s* object, int32_t dispid, std::vector<Variant>& args);\n" % c.interface.name
                      for c in lib.classes)
    wrappers = []
    for index, c in enumerate(lib.classes):
        i = c.interface
        added = not i.members and not c.declared_in
        bases = "public Impl, public %s, public Dispatch" % i.name if added else "public Impl, public Dispatch"
        members = "".join(FORWARD.substitute(returns=cpp.value_type(m.returns), name=m.cpp_name, params=cpp.params(m),
                                             names=", ".join(p.name for p in m.params)) for m in i.members)
        wrappers.append(WRAPPER.substitute(name=c.name, bases=bases, index=index, interface=i.name, members=members,
                                           own=OWN.substitute(interface=i.name) if added else ""))
    return FILE.substitute(libid=cpp.guid(lib.libid), major=lib.version[0], minor=lib.version[1], name=lib.name,
                           ids=ids, borrowed=", ".join(cpp.guid(i.iid) for i in borrowed(lib)),
                           categories=len(desc.categories), interfaces="".join(interfaces),
                           invokes=invokes, wrappers="".join(wrappers))
