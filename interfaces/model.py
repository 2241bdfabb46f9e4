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
# The scalars the emitters pass by reference, and in-out any interface besides. Our C++ takes
# text, variants and objects by const reference, so an out value can only be a number or a
# flag; an in-out text or variant would be handed to a COM member and never freed.
BY_REFERENCE = {"out": ("boolean", "short", "long", "double", "handle"),
                "inout": ("boolean", "short", "long", "double", "handle")}
# The largest dispatch id a member may have: higher ones are the platform's own members'.
MAX_DISPID = 0x5FFFFFFF
# The types a constant may have, as the host's headers declare them.
CONSTANT_TYPES = ("short", "long", "BSTR")
# The types an optional parameter's default may have: widl writes no other default value into a
# type library.
DEFAULT_TYPES = ("boolean", "short", "long", "BSTR")
# The parameter types the component's late-bound calls convert an argument to.
LATE_BOUND = ("boolean", "short", "long", "double", "BSTR")


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
    default: object = None  # an optional parameter's value when the caller gives none
    # (None: the type's empty value)


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


def _check_keys(obj, allowed, where, required=()):
    if not isinstance(obj, dict):
        raise DescriptionError("%s: %s is not an object" % (where, json.dumps(obj)))
    stray = set(obj) - set(allowed) - set(required)
    if stray:
        raise DescriptionError("%s: unknown key(s) %s" % (where, ", ".join(sorted(stray))))
    missing = [k for k in required if k not in obj]
    if missing:
        raise DescriptionError("%s: no %s" % (where, ", ".join("'%s'" % k for k in missing)))


def _named(where, what, obj, index):
    """Where an item of a list is: by its name, by its place where it has none."""
    name = obj.get("name") if isinstance(obj, dict) else None
    return "%s %s %s" % (where, what, name if name is not None else index)


def _fits(value, type_name):
    """Whether a JSON value is one of the scalar type's values."""
    if isinstance(value, bool):
        return type_name == "boolean"
    if type_name == "short":
        return isinstance(value, int) and -2 ** 15 <= value < 2 ** 15
    if type_name == "long":
        return isinstance(value, int) and -2 ** 31 <= value < 2 ** 31
    if type_name == "double":
        return isinstance(value, (int, float))
    return type_name == "BSTR" and isinstance(value, str)


def _constant(c, where):
    _check_keys(c, (), where, ("name", "type", "value"))
    if c["type"] not in CONSTANT_TYPES:
        raise DescriptionError("%s: type '%s' is none of %s" % (where, c["type"], ", ".join(CONSTANT_TYPES)))
    if not _fits(c["value"], c["type"]):
        raise DescriptionError("%s: %s is not a %s" % (where, json.dumps(c["value"]), c["type"]))
    return Constant(c["name"], c["type"], c["value"])


def _param(p, role, where):
    _check_keys(p, ("dir", "optional", "default"), where, ("name", "type"))
    direction = p.get("dir", "in")
    if direction not in DIRECTIONS:
        raise DescriptionError("%s: dir '%s' is none of %s" % (where, direction, ", ".join(DIRECTIONS)))
    if p["type"] == "void":
        raise DescriptionError("%s: a parameter cannot be void" % where)
    if direction == "out" and role == "component":
        # The component's late-bound calls hand their arguments over as read; a value it gives
        # back goes through an in-out parameter.
        raise DescriptionError("%s: the component's members give nothing back through an out parameter; "
                               "inout passes by reference" % where)
    is_object = p["type"] not in SCALARS
    if direction != "in" and p["type"] not in BY_REFERENCE[direction] and not (is_object and direction == "inout"):
        raise DescriptionError("%s: an %s parameter cannot be %s; %s takes %s%s" % (
            where, direction, p["type"], direction, ", ".join(BY_REFERENCE[direction]),
            " or an interface" if direction == "inout" else ""))
    if role == "component" and not is_object and p["type"] not in LATE_BOUND:
        raise DescriptionError("%s: the component's late-bound calls take no %s; they take %s or an interface" % (
            where, p["type"], ", ".join(LATE_BOUND)))
    optional = bool(p.get("optional", False))
    if optional and direction != "in":
        raise DescriptionError("%s: an optional parameter is passed in, not %s" % (where, direction))
    default = p.get("default")
    if "default" in p:
        if not optional:
            raise DescriptionError("%s: a default is for an optional parameter" % where)
        if p["type"] not in DEFAULT_TYPES:
            raise DescriptionError("%s: a %s parameter takes no default; %s do" % (where, p["type"],
                                                                                   ", ".join(DEFAULT_TYPES)))
        if not _fits(default, p["type"]):
            raise DescriptionError("%s: default %s is not a %s" % (where, json.dumps(default), p["type"]))
    return Param(p["name"], Type(p["type"]), direction, optional, default)


def _member(m, role, where):
    _check_keys(m, ("kind", "returns", "params", "doc", "dispid"), where, ("name",))
    kind = m.get("kind", "method")
    if kind not in KINDS:
        raise DescriptionError("%s: kind '%s' is none of %s" % (where, kind, ", ".join(KINDS)))
    if role == "host" and "dispid" in m:
        raise DescriptionError("%s: the host's dispatch ids are given in order, one per name, not described" % where)
    dispid = m.get("dispid")
    if role == "component" and dispid is None:
        raise DescriptionError("%s: no dispatch id" % where)
    if role == "component" and (isinstance(dispid, bool) or not isinstance(dispid, int) or not 0 <= dispid <= MAX_DISPID):
        raise DescriptionError("%s: dispatch id %s is not a whole number from 0 to %d" % (where, json.dumps(dispid),
                                                                                          MAX_DISPID))
    params = [_param(p, role, "%s parameter %d" % (where, k + 1)) for k, p in enumerate(m.get("params", []))]
    # A caller leaves out the last arguments only.
    for k in range(1, len(params)):
        if params[k - 1].optional and not params[k].optional:
            raise DescriptionError("%s parameter %d: a required parameter after an optional one" % (where, k + 1))
    member = Member(m["name"], kind, Type(m.get("returns", "void")), params, m.get("doc", ""), dispid or 0)
    if kind in ("propput", "propputref") and (len(params) != 1 or not member.returns.is_void):
        raise DescriptionError("%s: a property's writer takes one value and returns nothing" % where)
    if kind == "propget" and member.returns.is_void:
        raise DescriptionError("%s: a property's reader returns a value" % where)
    return member


def _interface(d, library, where, index):
    where = _named(where, "interface", d, index)
    _check_keys(d, ("doc", "constants", "members", "flags"), where, ("name", "iid"))
    i = Interface(d["name"], _guid(d["iid"], where), [], library, d.get("doc", ""))
    i.flags = list(d.get("flags", library.interface_flags))
    stray = [f for f in i.flags if f not in FLAGS]
    if stray:
        raise DescriptionError("%s: flag(s) %s are none of %s" % (where, ", ".join(stray), ", ".join(FLAGS)))
    i.constants = [_constant(c, _named(where, "constant", c, k + 1)) for k, c in enumerate(d.get("constants", []))]
    i.members = [_member(m, library.role, _named(where, "member", m, k + 1)) for k, m in enumerate(d.get("members", []))]
    return i


def _check_members(i):
    """What would collide in what is generated: a C++ name (a property's writer is Set + its
    name, whether it sets a value or a reference), a type library's name (one method, or a
    property's reader and writers), and a dispatch id, which only a property's accessors share."""
    cpp_names = set()
    for m in i.members:
        if m.cpp_name in cpp_names:
            raise DescriptionError("%s: %s is described twice" % (i.name, m.cpp_name))
        cpp_names.add(m.cpp_name)
    kinds = {}
    for m in i.members:
        first = kinds.setdefault(m.name, m.kind)
        if (first == "method") != (m.kind == "method"):
            raise DescriptionError("%s: %s is described twice, as a method and as a property" % (i.name, m.name))
    by_id, ids = {}, {}
    for m in i.members:
        first = by_id.setdefault(m.dispid, m)
        if first is not m and not (first.name == m.name and m.is_property):
            raise DescriptionError("%s: %s and %s share dispatch id %d" % (i.name, first.name, m.name, m.dispid))
        if ids.setdefault(m.name, m.dispid) != m.dispid:
            raise DescriptionError("%s: the accessors of %s have dispatch ids %d and %d; a property's reader and "
                                   "writers share one" % (i.name, m.name, ids[m.name], m.dispid))


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
            _check_members(i)


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


def _enum(e, where):
    _check_keys(e, ("doc",), where, ("name", "values"))
    stray = [n for n, v in e["values"].items() if not _fits(v, "long")]
    if stray:
        raise DescriptionError("%s: value(s) of %s are not longs" % (where, ", ".join(stray)))
    return Enum(e["name"], e.get("doc", ""), list(e["values"].items()))


def _library(role, d, categories):
    where = role + " library"
    _check_keys(d, ("parts", "classes_doc", "classes", "interface_flags"), where, ("name", "help", "libid", "version"))
    lib = Library(role, d["name"], d["help"], _guid(d["libid"], where), tuple(d["version"]), [], [],
                  classes_doc=d.get("classes_doc", ""), interface_flags=d.get("interface_flags", []))
    for n, p in enumerate(d.get("parts", [])):
        pw = _named(where, "part", p, n + 1)
        _check_keys(p, ("doc", "enums"), pw, ("name", "interfaces"))
        part = Part(p["name"], p.get("doc", ""), [], [_enum(e, _named(pw, "enum", e, k + 1))
                                                      for k, e in enumerate(p.get("enums", []))])
        for k, idesc in enumerate(p["interfaces"]):
            i = _interface(idesc, lib, pw, k + 1)
            i.part = part
            part.interfaces.append(i)
            lib.interfaces.append(i)
        lib.parts.append(part)
    for n, c in enumerate(d.get("classes", [])):
        cw = _named(where, "class", c, n + 1)
        if role == "component":
            _check_keys(c, ("doc", "app_object", "declared_in", "category_properties", "members", "interface_flags",
                            "implements"), cw, ("name", "clsid", "interface", "iid"))
            idesc = {"name": c["interface"], "iid": c["iid"], "members": c.get("members", []), "doc": c.get("doc", "")}
            if "interface_flags" in c:
                idesc["flags"] = c["interface_flags"]
            i = _interface(idesc, lib, cw, 1)
            cp = c.get("category_properties")
            if cp:
                _check_keys(cp, (), cw + " category_properties", ("first_dispid", "returns"))
                for k, (name, guid) in enumerate(categories):
                    i.members.append(Member(name, "propget", Type(cp["returns"]), [], "", cp["first_dispid"] + k, guid))
            lib.interfaces.append(i)
        else:
            _check_keys(c, ("doc", "maker", "companion"), cw, ("name", "clsid", "interface"))
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


# The keys whose text is written into comments, help strings and string literals, where a line
# break or another control character would end the line or the literal early.
TEXTS = ("doc", "help", "classes_doc", "default", "value")


def _check_texts(node, where):
    """Refuses a control character in any text that a generated file writes within one line."""
    items = node.items() if isinstance(node, dict) else enumerate(node) if isinstance(node, list) else ()
    for key, value in items:
        here = "%s/%s" % (where, key)
        if key in TEXTS and isinstance(value, str):
            bad = next((c for c in value if ord(c) < 0x20 or ord(c) == 0x7F), None)
            if bad is not None:
                raise DescriptionError("%s: %s holds a control character (%s); the generated files write it "
                                       "on one line" % (here, json.dumps(value), json.dumps(bad)))
        else:
            _check_texts(value, here)


def load(path, categories_path=None):
    """The description at path, checked, with the host's category table (none where no table is
    given: a reader of the classes alone needs none)."""
    with open(path, encoding="utf-8") as f:
        d = json.load(f)
    _check_keys(d, (), path, ("host", "component"))
    _check_texts(d, path)
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
