"""How the description's members are spelled in COM: IDL types, the C++ types of widl's
declarations and the names widl gives a property's accessors."""

IDL = {"boolean": "VARIANT_BOOL", "short": "short", "long": "long", "double": "double", "BSTR": "BSTR",
       "VARIANT": "VARIANT", "handle": "LONGLONG"}
WIDL_CPP = {"boolean": "VARIANT_BOOL", "short": "short", "long": "LONG", "double": "double", "BSTR": "BSTR",
            "VARIANT": "VARIANT", "handle": "LONGLONG"}


def interface_name(t):
    return "IUnknown" if t.name == "Unknown" else t.interface.com_name


def name(m):
    """The member's name in the IDL: a property's own, which its reader and writers share."""
    return m.name if m.is_property else m.cpp_name


def method(m):
    """The member's name in widl's C++ declarations: a property's reader is get_ + its name, its
    writers put_ and putref_."""
    return {"propget": "get_", "propput": "put_", "propputref": "putref_"}.get(m.kind, "") + name(m)


def by_reference(p):
    """Whether the parameter is passed by reference in COM: an out or in-out value, an object
    too (the caller's variable, which the member may leave as it was)."""
    return p.direction in ("out", "inout")


def idl_type(t):
    return interface_name(t) + "*" if t.is_object else IDL[t.name]


def widl_type(t):
    """The C++ type of a COM value as widl's header declares it."""
    return "::%s*" % interface_name(t) if t.is_object else WIDL_CPP[t.name]
