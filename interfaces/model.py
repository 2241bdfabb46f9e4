"""The interfaces' one description read into one model: the host's library (its interfaces by
part, its constants and the classes a component creates), and the component's library with its
classes. Every generator reads this model; none reads C++."""
import json
from dataclasses import dataclass, field

# The value kinds a member may take or give, by their automation names.
SCALARS = ("boolean", "short", "long", "double", "BSTR", "VARIANT", "handle")
KINDS = ("method", "propget", "propput", "propputref")
# An interface's flags as a type library keeps them.
FLAGS = ("dual", "oleautomation", "nonextensible", "hidden")
DIRECTIONS = ("in", "out", "inout")


class DescriptionError(Exception):
    pass


@dataclass
class Type:
    name: str  # a scalar's automation name, "void", "Unknown" or an interface's name
    interface: "Interface | None" = None

    @property
    def is_object(self):
        return self.name == "Unknown" or self.interface is not None

    @property
    def is_void(self):
        return self.name == "void"


@dataclass
class Param:
    name: str
    type: Type
    direction: str = "in"
    optional: bool = False


@dataclass
class Member:
    name: str
    kind: str
    returns: Type
    params: list
    doc: str = ""
    dispid: int = 0
    category: str = ""  # a category property's category GUID

    @property
    def cpp_name(self):
        """The member's C++ name: a property's writer is Set + its name."""
        return "Set" + self.name if self.kind in ("propput", "propputref") else self.name

    @property
    def is_property(self):
        return self.kind != "method"


@dataclass
class Constant:
    name: str
    type: str
    value: object


@dataclass
class Enum:
    name: str
    doc: str
    values: list  # (name, value)


@dataclass
class Interface:
    name: str
    iid: str  # lower case, no braces
    members: list
    library: "Library"
    doc: str = ""
    constants: list = field(default_factory=list)
    part: "Part | None" = None
    flags: list = field(default_factory=list)  # of FLAGS

    @property
    def com_name(self):
        """The interface's COM name. The host's are ICrv + their name, so none meets a platform
        name; the component's keep theirs."""
        if self.library.role != "host":
            return self.name
        return "ICrv" + (self.name[1:] if len(self.name) > 1 and self.name[0] == "I" and self.name[1].isupper() else self.name)


@dataclass
class Part:
    name: str
    doc: str
    interfaces: list
    enums: list


@dataclass
class CoClass:
    name: str
    clsid: str  # lower case, no braces
    interface: Interface
    doc: str = ""
    app_object: bool = False
    maker: str = ""
    companion: bool = False
    declared_in: str = ""
    progid: str = ""
    implements: list = field(default_factory=list)  # interfaces besides the default one


@dataclass
class Library:
    role: str  # "host" or "component"
    name: str
    help: str
    libid: str  # lower case, no braces
    version: tuple
    interfaces: list
    classes: list
    parts: list = field(default_factory=list)
    classes_doc: str = ""
    interface_flags: list = field(default_factory=list)  # of its interfaces unless they say


@dataclass
class Description:
    host: Library
    component: Library
    categories: list  # (name, guid) of the host's category table

    def interface(self, name):
        for lib in (self.host, self.component):
            for i in lib.interfaces:
                if i.name == name:
                    return i
        raise KeyError(name)


def _guid(text, where):
    g = text.strip("{}").lower()
    parts = g.split("-")
    if [len(p) for p in parts] != [8, 4, 4, 4, 12] or any(c not in "0123456789abcdef-" for c in g):
        raise DescriptionError("%s: '%s' is not a GUID" % (where, text))
    return g


def _check_keys(obj, allowed, where):
    stray = set(obj) - set(allowed)
    if stray:
        raise DescriptionError("%s: unknown key(s) %s" % (where, ", ".join(sorted(stray))))


def _member(m, where):
    _check_keys(m, ("name", "kind", "returns", "params", "doc", "dispid"), where)
    kind = m.get("kind", "method")
    if kind not in KINDS:
        raise DescriptionError("%s: kind '%s' is none of %s" % (where, kind, ", ".join(KINDS)))
    params = []
    for k, p in enumerate(m.get("params", [])):
        pw = "%s parameter %d" % (where, k + 1)
        _check_keys(p, ("name", "type", "dir", "optional"), pw)
        direction = p.get("dir", "in")
        if direction not in DIRECTIONS:
            raise DescriptionError("%s: dir '%s' is none of %s" % (pw, direction, ", ".join(DIRECTIONS)))
        params.append(Param(p["name"], Type(p["type"]), direction, bool(p.get("optional", False))))
    member = Member(m["name"], kind, Type(m.get("returns", "void")), params, m.get("doc", ""), m.get("dispid", 0))
    if kind in ("propput", "propputref") and (len(params) != 1 or not member.returns.is_void):
        raise DescriptionError("%s: a property's writer takes one value and returns nothing" % where)
    if kind == "propget" and member.returns.is_void:
        raise DescriptionError("%s: a property's reader returns a value" % where)
    return member


def _interface(d, library, where):
    _check_keys(d, ("name", "iid", "doc", "constants", "members", "flags"), where)
    where = "%s interface %s" % (where, d["name"])
    i = Interface(d["name"], _guid(d["iid"], where), [], library, d.get("doc", ""))
    i.flags = list(d.get("flags", library.interface_flags))
    stray = [f for f in i.flags if f not in FLAGS]
    if stray:
        raise DescriptionError("%s: flag(s) %s are none of %s" % (where, ", ".join(stray), ", ".join(FLAGS)))
    i.constants = [Constant(c["name"], c["type"], c["value"]) for c in d.get("constants", [])]
    i.members = [_member(m, "%s member %s" % (where, m.get("name"))) for m in d.get("members", [])]
    return i


def _resolve(desc):
    """Types named by name become the interfaces they name; dispatch ids are given to the host's
    members, one per name (a property's reader and writer share theirs), in order."""
    known = {i.name: i for lib in (desc.host, desc.component) for i in lib.interfaces}
    for lib in (desc.host, desc.component):
        for c in lib.classes:
            missing = [n for n in c.implements if n not in known]
            if missing:
                raise DescriptionError("class %s implements no interface %s" % (c.name, ", ".join(missing)))
            c.implements = [known[n] for n in c.implements]
    for lib in (desc.host, desc.component):
        for i in lib.interfaces:
            for m in i.members:
                for t in [m.returns] + [p.type for p in m.params]:
                    if t.name in SCALARS or t.name in ("void", "Unknown"):
                        continue
                    if t.name not in known:
                        raise DescriptionError("%s.%s: no type '%s'" % (i.name, m.name, t.name))
                    t.interface = known[t.name]
            if lib.role == "host":
                ids = {}
                for m in i.members:
                    m.dispid = ids.setdefault(m.name, len(ids) + 1)
            seen = set()
            for m in i.members:
                key = (m.cpp_name, m.kind)
                if key in seen:
                    raise DescriptionError("%s: %s is described twice" % (i.name, m.cpp_name))
                seen.add(key)


def _check_spelling(lib):
    """A type library keeps one spelling of a name, the first it meets, whatever the case of
    the others: two names of one library that differ in case alone would lose one spelling."""
    names = [("library", lib.name)]
    for i in lib.interfaces:
        names.append(("interface", i.com_name))
        for m in i.members:
            names.append(("%s member" % i.name, m.name if m.is_property else m.cpp_name))
            names += [("%s.%s parameter" % (i.name, m.cpp_name), p.name) for p in m.params]
    if lib.role == "component":
        names += [("class", c.name) for c in lib.classes]
    seen = {}
    for where, name in names:
        first = seen.setdefault(name.lower(), (where, name))
        if first[1] != name:
            raise DescriptionError("%s library: %s '%s' and %s '%s' differ in case alone; a type library keeps "
                                   "one spelling of a name" % (lib.role, first[0], first[1], where, name))


def _library(role, d, categories):
    where = role + " library"
    _check_keys(d, ("name", "help", "libid", "version", "parts", "classes_doc", "classes", "interface_flags"), where)
    lib = Library(role, d["name"], d["help"], _guid(d["libid"], where), tuple(d["version"]), [], [],
                  classes_doc=d.get("classes_doc", ""), interface_flags=d.get("interface_flags", []))
    for p in d.get("parts", []):
        part = Part(p["name"], p["doc"], [], [Enum(e["name"], e["doc"], list(e["values"].items())) for e in p.get("enums", [])])
        for idesc in p["interfaces"]:
            i = _interface(idesc, lib, "%s part %s" % (where, p["name"]))
            i.part = part
            part.interfaces.append(i)
            lib.interfaces.append(i)
        lib.parts.append(part)
    for c in d.get("classes", []):
        cw = "%s class %s" % (where, c["name"])
        if role == "component":
            _check_keys(c, ("name", "clsid", "interface", "iid", "doc", "app_object", "declared_in",
                            "category_properties", "members", "interface_flags", "implements"), cw)
            idesc = {"name": c["interface"], "iid": c["iid"], "members": c["members"], "doc": c.get("doc", "")}
            if "interface_flags" in c:
                idesc["flags"] = c["interface_flags"]
            i = _interface(idesc, lib, cw)
            cp = c.get("category_properties")
            if cp:
                for k, (name, guid) in enumerate(categories):
                    i.members.append(Member(name, "propget", Type(cp["returns"]), [], "", cp["first_dispid"] + k, guid))
            lib.interfaces.append(i)
        else:
            _check_keys(c, ("name", "clsid", "interface", "doc", "maker", "companion"), cw)
            i = next((x for x in lib.interfaces if x.name == c["interface"]), None)
            if i is None:
                raise DescriptionError("%s: no interface %s in the library" % (cw, c["interface"]))
        lib.classes.append(CoClass(c["name"], _guid(c["clsid"], cw), i, c.get("doc", ""), bool(c.get("app_object")),
                                   c.get("maker", "New" + c["name"]), bool(c.get("companion")),
                                   c.get("declared_in", ""), "%s.%s" % (d["name"], c["name"]),
                                   list(c.get("implements", []))))
    return lib


def read_categories(path):
    categories = []
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for line in lines:
        if line and not line.startswith("#"):
            name, guid = line.split("\t")
            categories.append((name, guid))
    if len({n for n, _ in categories}) != len(categories):
        raise DescriptionError("%s: category names must be distinct" % path)
    if len({g for _, g in categories}) != len(categories):
        raise DescriptionError("%s: category GUIDs must be distinct" % path)
    return categories


def load(path, categories_path=None):
    """The description at path, checked, with the host's category table (none where no table is
    given: a reader of the classes alone needs none)."""
    with open(path, encoding="utf-8") as f:
        d = json.load(f)
    _check_keys(d, ("host", "component"), path)
    categories = read_categories(categories_path) if categories_path else []
    desc = Description(_library("host", d["host"], categories), _library("component", d["component"], categories),
                       categories)
    _resolve(desc)
    _check_spelling(desc.host)
    _check_spelling(desc.component)
    iids = [i.iid for lib in (desc.host, desc.component) for i in lib.interfaces]
    if len(set(iids)) != len(iids):
        raise DescriptionError("%s: two interfaces share an interface id" % path)
    return desc
