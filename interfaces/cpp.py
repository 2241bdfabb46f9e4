"""How the description's types are spelled in our C++."""
import textwrap

VALUES = {"boolean": "bool", "short": "int16_t", "long": "int32_t", "double": "double", "BSTR": "std::string",
          "VARIANT": "Variant", "handle": "intptr_t", "void": "void"}


def value_type(t):
    """A value of the type as a member returns it."""
    return "ComPtr<%s>" % t.name if t.is_object else VALUES[t.name]


def param(p):
    """A parameter as a member takes it: objects, text and variants by const reference, an out
    value by reference, an in-out value by const reference (the member reads it, as it was)."""
    t = p.type
    if t.is_object:
        return "const ComPtr<%s>& %s" % (t.name, p.name)
    if t.name in ("BSTR", "VARIANT"):
        return "const %s& %s" % (VALUES[t.name], p.name)
    if p.direction == "out":
        return "%s& %s" % (VALUES[t.name], p.name)
    if p.direction == "inout":
        return "const %s& %s" % (VALUES[t.name], p.name)
    return "%s %s" % (VALUES[t.name], p.name)


def string_literal(text):
    """Text as a string literal of C++, and of the interface language, which writes them alike."""
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def literal(t, value):
    """A value of a scalar type as a C++ expression of the type's value type."""
    if t.name == "BSTR":
        return "std::string(%s)" % string_literal(value)
    if t.name == "boolean":
        return "true" if value else "false"
    return "%s{%r}" % (VALUES[t.name], value)


def params(member):
    return ", ".join(param(p) for p in member.params)


def guid(g):
    return 'MakeGuid("%s")' % g


def comment(text, indent=""):
    """A doc text as // lines of at most 100 columns; nothing for none."""
    if not text:
        return ""
    width = 100 - len(indent) - 3
    return "".join("%s// %s\n" % (indent, line) for line in textwrap.wrap(text, width, break_on_hyphens=False))
