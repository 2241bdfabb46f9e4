#!/usr/bin/env python3
"""Writes LibraryPropertyPage: the property page as the library hands it out, every member of
the host's page protocol forwarded to AnchorPropertyPage after a check that the call comes from
the thread that created the page. Made from the protocol's own declarations, so that a member
added there is checked here without anyone writing its forwarder.

Usage: gen_checked_page.py host/PropertyPage.h OUT.h
"""
import re
import sys

source, out = sys.argv[1], sys.argv[2]
text = open(source, encoding="utf-8").read()
body = re.search(r"class IComPropertyPage\b[^{]*\{(.*?)\n\};", text, re.S)
if not body:
    sys.exit("%s: no IComPropertyPage declaration" % source)
members = re.findall(r"virtual\s+([\w:<>]+(?:\s*[&*])?)\s+(\w+)\(([^)]*)\)\s*=\s*0;", body.group(1))
if not members:
    sys.exit("%s: IComPropertyPage declares no members" % source)
# A member declared in a shape not read here would go unchecked without a word: refuse it.
declared = len(re.findall(r"\bvirtual\b", body.group(1)))
if declared != len(members):
    sys.exit("%s: %d of IComPropertyPage's %d members are not of the shape 'virtual TYPE NAME(PARAMS) = 0;'"
             % (source, declared - len(members), declared))
# Parameters are split at commas: one inside a template argument list would split a type.
if any(re.search(r"<[^>]*,", params) for _, _, params in members):
    sys.exit("%s: a parameter of IComPropertyPage has a template of several arguments; name it with an alias" % source)

lines = [
    "// Generated from host/PropertyPage.h by registration/gen_checked_page.py: do not edit.",
    "#pragma once",
    "// The property page as the library hands it out: besides its default interface, the host's",
    "// page protocol refuses calls from any thread but the one that created the page.",
    "",
    '#include "com/Apartment.h"',
    '#include "propertypage/AnchorPropertyPage.h"',
    "",
    "namespace crv {",
    "",
    "class LibraryPropertyPage : public AnchorPropertyPage {",
    "public:",
]
for ret, name, params in members:
    params = params.strip()
    names = ", ".join(p.split()[-1].lstrip("&*") for p in params.split(",")) if params else ""
    call = "AnchorPropertyPage::%s(%s)" % (name, names)
    lines.append("    %s %s(%s) override {" % (ret, name, params))
    if ret == "void":
        lines.append("        apartment_.Require();")
        lines.append("        %s;" % call)
    else:
        lines.append("        apartment_.Require();")
        lines.append("        return %s;" % call)
    lines.append("    }")
lines += [
    "",
    "private:",
    "    Apartment apartment_;",
    "};",
    "",
    "}  // namespace crv",
    "",
]
with open(out, "w", encoding="utf-8") as f:
    f.write("\n".join(lines))
