"""How the description's members are spelled in COM: IDL types, the C++ types of widl's
declarations, the names widl gives a property's accessors, and dispatch ids."""

IDL = {"boolean": "VARIANT_BOOL", "short": "short", "long": "long", "double": "double", "BSTR": "BSTR",
       "VARIANT": "VARIANT", "handle": "LONGLONG"}
WIDL_CPP = {"boolean": "VARIANT_BOOL", "short": "short", "long": "LONG", "double": "double", "BSTR": "BSTR",
            "VARIANT": "VARIANT", "handle": "LONGLONG"}


def interface_name(t):
    return "IUnknown" if t.name == "Unknown" else t.interface.com_name


def kind(m, interface):
    """The member's kind in COM. The host's members are all methods there, by their C++ names."""
    return m.kind if interface.library.role == "component" else "method"


def name(m, interface):
    """The member's name in the IDL."""
    return m.name if kind(m, interface) != "method" else m.cpp_name


def method(m, interface):
    """The member's name in widl's C++ declarations: a property's reader is get_ + its name, its
    writers put_ and putref_."""
    k = kind(m, interface)
    prefix = {"propget": "get_", "propput": "put_", "propputref": "putref_"}.get(k, "")
    return prefix + name(m, interface)


def dispid(m, interface):
    if interface.library.role == "component":
        return m.dispid
    return interface.members.index(m) + 1


def by_reference(p):
    """Whether the parameter is passed by reference in COM: an out value, or an in-out value
    that is not an object."""
    return p.direction == "out" or (p.direction == "inout" and not p.type.is_object)


def idl_type(t):
    return interface_name(t) + "*" if t.is_object else IDL[t.name]


def widl_type(t):
    """The C++ type of a COM value as widl's header declares it."""
    return "::%s*" % interface_name(t) if t.is_object else WIDL_CPP[t.name]
