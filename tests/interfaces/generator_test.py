#!/usr/bin/env python3
"""The interfaces' description as its generators read it: a description that is wrong (or that a
type library could not keep as written) is refused with where and why, before anything is
written; the host's headers each include what they name and are rewritten only when their text
changes.

usage: generator_test.py DESCRIPTION CATEGORIES"""
import copy
import json
import os
import re
import sys
import tempfile
import unittest

DESCRIPTION, CATEGORIES = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(DESCRIPTION))))
from interfaces import com, host_headers, idl, model, typelib_data  # noqa: E402

with open(DESCRIPTION, encoding="utf-8") as f:
    ORIGINAL = json.load(f)


def host_interface(d, name):
    return next(i for p in d["host"]["parts"] for i in p["interfaces"] if i["name"] == name)


def load(d):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "d.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(d, f)
        return model.load(path, CATEGORIES)


class Refusals(unittest.TestCase):
    def test_a_wrong_description_is_refused_with_where_and_why(self):
        def unknown_type(d):
            host_interface(d, "Polygon")["members"][0]["returns"] = "Nowhere"

        def misspelt_key(d):
            host_interface(d, "Polygon")["members"][0]["retuns"] = "Envelope"

        def writer_of_two(d):
            host_interface(d, "GeometryPoint")["members"][2]["params"].append({"name": "z", "type": "double"})

        def reader_of_nothing(d):
            del host_interface(d, "Envelope")["members"][0]["returns"]

        def bad_guid(d):
            host_interface(d, "Display")["iid"] = "5e6fd105-748e-4af5-b9d4"

        def shared_iid(d):
            host_interface(d, "Display")["iid"] = host_interface(d, "Envelope")["iid"]

        def bad_direction(d):
            host_interface(d, "LayoutPage")["members"][0]["params"][0]["dir"] = "both"

        def twice(d):
            members = host_interface(d, "Envelope")["members"]
            members.append(dict(members[0]))

        def no_such_class_interface(d):
            d["host"]["classes"][0]["interface"] = "Application"

        def case_alone(d):
            # A type library keeps the first spelling it meets: the property would become xMin.
            host_interface(d, "Envelope")["members"][6]["params"][0]["name"] = "xMin"

        def unknown_flag(d):
            host_interface(d, "Display")["flags"] = ["hiden"]

        def implements_nothing_known(d):
            d["component"]["classes"][0]["implements"] = ["INowhere"]

        def component_member(d, cls, name):
            return next(m for c in d["component"]["classes"] if c["name"] == cls for m in c["members"] if m["name"] == name)

        def no_dispid(d):
            del component_member(d, "CRVAnchorManager", "Reset")["dispid"]

        def shared_dispid(d):
            component_member(d, "CategoryInstall", "Install")["dispid"] = 1

        def category_dispid_taken(d):
            component_member(d, "CategoryIDs", "MakeUID")["dispid"] = 2

        def host_dispid(d):
            host_interface(d, "Display")["members"][0]["dispid"] = 7

        def out_string(d):
            host_interface(d, "LayoutPage")["members"][0]["params"][0]["type"] = "BSTR"

        def out_object(d):
            host_interface(d, "LayoutPage")["members"][0]["params"][0]["type"] = "Envelope"

        def inout_variant(d):
            component_member(d, "CRVAnchorManager", "AnchorElement")["params"][0]["type"] = "VARIANT"

        def component_out(d):
            component_member(d, "CRVAnchorManager", "AnchorElement")["params"][0]["dir"] = "out"

        def interface_without_iid(d):
            del host_interface(d, "Display")["iid"]

        def parameter_without_type(d):
            del host_interface(d, "Polygon")["members"][2]["params"][1]["type"]

        def class_without_clsid(d):
            del d["component"]["classes"][1]["clsid"]

        def member_without_name(d):
            del host_interface(d, "Polygon")["members"][1]["name"]

        def constant_without_value(d):
            del host_interface(d, "LayoutView")["constants"][0]["value"]

        def library_without_libid(d):
            del d["host"]["libid"]

        def text_constant_with_number(d):
            host_interface(d, "ActiveLayoutInfo")["constants"][0]["value"] = 3

        def long_constant_with_text(d):
            host_interface(d, "LayoutView")["constants"][0]["value"] = "8"

        def long_constant_too_big(d):
            host_interface(d, "LayoutView")["constants"][0]["value"] = 2 ** 31

        def unknown_constant_type(d):
            host_interface(d, "LayoutView")["constants"][0]["type"] = "int"

        def reader_and_method(d):
            host_interface(d, "Envelope")["members"][6]["name"] = "Width"

        def writer_and_reference_writer(d):
            members = host_interface(d, "IComPropertyPage")["members"]
            members.append({"name": "Title", "kind": "propputref", "params": [{"name": "text", "type": "PropertyPageSite"}]})

        def writer_and_set_method(d):
            host_interface(d, "GeometryPoint")["members"].append({"name": "SetX"})

        def writer_and_method(d):
            host_interface(d, "IComPropertyPage")["members"].append({"name": "PageSite"})

        def void_parameter(d):
            host_interface(d, "Polygon")["members"][2]["params"][0]["type"] = "void"

        def accessors_apart(d):
            component_member(d, "CategoryInstall", "ErrorMessage")  # the reader has 1
            next(c for c in d["component"]["classes"] if c["name"] == "CategoryInstall")["members"].append(
                {"name": "ErrorMessage", "kind": "propput", "dispid": 3, "params": [{"name": "text", "type": "BSTR"}]})

        def dispid_as_text(d):
            component_member(d, "CRVAnchorManager", "Reset")["dispid"] = "9"

        def member_as_text(d):
            host_interface(d, "Polygon")["members"][1] = "SetEmpty"

        def install_options(d):
            return component_member(d, "CategoryInstall", "Install")["params"][1]

        def default_not_optional(d):
            component_member(d, "CategoryInstall", "Install")["params"][0]["default"] = True

        def default_of_another_type(d):
            install_options(d)["default"] = 0

        def default_of_a_double(d):
            install_options(d).update(type="double", default=1)

        def default_too_big(d):
            install_options(d).update(type="short", default=40000)

        def optional_by_reference(d):
            component_member(d, "CRVAnchorManager", "AnchorElement")["params"][0]["optional"] = True

        def required_after_optional(d):
            component_member(d, "CategoryInstall", "Install")["params"].append({"name": "sMore", "type": "BSTR"})

        def component_variant_parameter(d):
            install_options(d)["type"] = "VARIANT"

        def default_of_two_lines(d):
            install_options(d)["default"] = "first\nsecond"

        def doc_of_two_lines(d):
            host_interface(d, "Display")["members"][0]["doc"] = "Dots\n per inch."

        cases = [
            (default_of_two_lines, 'default: "first\\nsecond" holds a control character ("\\n")'),
            (doc_of_two_lines, 'doc: "Dots\\n per inch." holds a control character ("\\n")'),
            (default_not_optional, "member Install parameter 1: a default is for an optional parameter"),
            (default_of_another_type, "member Install parameter 2: default 0 is not a BSTR"),
            (default_of_a_double, "member Install parameter 2: a double parameter takes no default; boolean, short, long"),
            (default_too_big, "member Install parameter 2: default 40000 is not a short"),
            (optional_by_reference, "member AnchorElement parameter 1: an optional parameter is passed in"),
            (required_after_optional, "member Install parameter 3: a required parameter after an optional one"),
            (component_variant_parameter, "member Install parameter 2: the component's late-bound calls take no VARIANT"),
            (writer_and_method, "IComPropertyPage: PageSite is described twice, as a method and as a property"),
            (void_parameter, "member AddPoint parameter 1: a parameter cannot be void"),
            (accessors_apart, "_CategoryInstall: the accessors of ErrorMessage have dispatch ids 1 and 3"),
            (dispid_as_text, "member Reset: dispatch id \"9\" is not a whole number from 0 to"),
            (member_as_text, "interface Polygon member 2: \"SetEmpty\" is not an object"),
            (no_dispid, "interface _CRVAnchorManager member Reset: no dispatch id"),
            (shared_dispid, "_CategoryInstall: ErrorMessage and Install share dispatch id 1"),
            (category_dispid_taken, "_CategoryIDs: MakeUID and "),
            (host_dispid, "interface Display member Resolution: the host's dispatch ids are given in order"),
            (out_string, "LayoutPage member QuerySize parameter 1: an out parameter cannot be BSTR"),
            (out_object, "LayoutPage member QuerySize parameter 1: an out parameter cannot be Envelope"),
            (inout_variant, "member AnchorElement parameter 1: an inout parameter cannot be VARIANT"),
            (component_out, "member AnchorElement parameter 1: the component's members give nothing back through"),
            (interface_without_iid, "part Geometry interface Display: no 'iid'"),
            (parameter_without_type, "interface Polygon member AddPoint parameter 2: no 'type'"),
            (class_without_clsid, "component library class CategoryInstall: no 'clsid'"),
            (member_without_name, "interface Polygon member 2: no 'name'"),
            (constant_without_value, "interface LayoutView constant kPhaseGraphics: no 'value'"),
            (library_without_libid, "host library: no 'libid'"),
            (text_constant_with_number, "constant kSeriesLayout: 3 is not a BSTR"),
            (long_constant_with_text, "constant kPhaseGraphics: \"8\" is not a long"),
            (long_constant_too_big, "constant kPhaseGraphics: 2147483648 is not a long"),
            (unknown_constant_type, "constant kPhaseGraphics: type 'int' is none of"),
            (reader_and_method, "Envelope: Width is described twice"),
            (writer_and_reference_writer, "IComPropertyPage: SetTitle is described twice"),
            (writer_and_set_method, "GeometryPoint: SetX is described twice"),
            (case_alone, "Envelope member 'XMin' and Envelope.PutCoords parameter 'xMin' differ in case alone"),
            (unknown_flag, "interface Display: flag(s) hiden are none of"),
            (implements_nothing_known, "class AnchorPropertyPage implements no interface INowhere"),
            (unknown_type, "Polygon.GetEnvelope: no type 'Nowhere'"),
            (misspelt_key, "member GetEnvelope: unknown key(s) retuns"),
            (writer_of_two, "a property's writer takes one value"),
            (reader_of_nothing, "member XMin: a property's reader returns a value"),
            (bad_guid, "interface Display: '5e6fd105-748e-4af5-b9d4' is not a GUID"),
            (shared_iid, "two interfaces share an interface id"),
            (bad_direction, "dir 'both' is none of in, out, inout"),
            (twice, "Envelope: XMin is described twice"),
            (no_such_class_interface, "class HostApplication: no interface Application"),
        ]
        for change, message in cases:
            with self.subTest(change.__name__):
                d = copy.deepcopy(ORIGINAL)
                change(d)
                with self.assertRaises(model.DescriptionError, msg="accepted") as caught:
                    load(d)
                self.assertIn(message, str(caught.exception))

    def test_the_description_as_it_is_reads(self):
        desc = load(ORIGINAL)
        self.assertTrue(desc.host.interfaces and desc.component.interfaces)

    def test_a_property_s_reader_and_writers_share_a_name_and_a_dispatch_id(self):
        def component_writer(d):
            next(c for c in d["component"]["classes"] if c["name"] == "CategoryInstall")["members"].append(
                {"name": "ErrorMessage", "kind": "propput", "dispid": 1, "params": [{"name": "text", "type": "BSTR"}]})

        def host_reader_of_a_reference(d):
            host_interface(d, "IComPropertyPage")["members"].append(
                {"name": "PageSite", "kind": "propget", "returns": "PropertyPageSite"})

        for change, interface, name in ((component_writer, "_CategoryInstall", "ErrorMessage"),
                                        (host_reader_of_a_reference, "IComPropertyPage", "PageSite")):
            with self.subTest(change.__name__):
                d = copy.deepcopy(ORIGINAL)
                change(d)
                members = [m for m in load(d).interface(interface).members if m.name == name]
                self.assertEqual(len({m.dispid for m in members}), 1)
                self.assertEqual(len({m.kind for m in members}), len(members))


class Defaults(unittest.TestCase):
    """An optional parameter's default as the libraries carry it: the type-library data a
    late-bound caller reads on Linux, and the attribute from which widl writes the Windows type
    library's."""

    def test_each_type_s_default_is_carried_as_described(self):
        cases = [
            ("BSTR", "", 'defaultvalue("")'),
            ("BSTR", 'say "\\n"', 'defaultvalue("say \\"\\\\n\\"")'),
            ("boolean", True, "defaultvalue(-1)"),
            ("boolean", False, "defaultvalue(0)"),
            ("short", -32768, "defaultvalue(-32768)"),
            ("long", 2147483647, "defaultvalue(2147483647)"),
        ]
        for type_name, value, attribute in cases:
            with self.subTest(type=type_name, value=value):
                d = copy.deepcopy(ORIGINAL)
                install = next(c for c in d["component"]["classes"] if c["name"] == "CategoryInstall")["members"][1]
                install["params"][1].update(type=type_name, default=value)
                desc = load(d)
                data = json.loads(typelib_data.emit(desc))
                found = next(m for c in data["classes"] for m in c["members"] if m["name"] == "Install")["params"][1]
                self.assertEqual((found["optional"], found["default"]), (True, value))
                self.assertEqual(type(found["default"]), type(value))
                idl_line = next(line for line in idl.emit(desc).splitlines() if " Install(" in line)
                self.assertIn("[in, optional, %s] %s sCustomOptions" % (attribute, com.idl_type(model.Type(type_name))),
                              idl_line)

    def test_a_parameter_without_a_default_carries_none(self):
        desc = load(ORIGINAL)
        data = json.loads(typelib_data.emit(desc))
        params = [p for c in data["classes"] for m in c["members"] for p in m["params"]]
        self.assertEqual([p["name"] for p in params if "default" in p], ["sCustomOptions"])
        self.assertNotIn("defaultvalue", idl.emit_host(desc))


class HostHeaders(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.desc = model.load(DESCRIPTION, CATEGORIES)
        self.names = host_headers.write(self.desc, self.folder.name)

    def tearDown(self):
        self.folder.cleanup()

    def text(self, name):
        with open(os.path.join(self.folder.name, "host", name), encoding="utf-8") as f:
            return f.read()

    def test_each_header_declares_or_includes_every_interface_it_names(self):
        declared = {n: set(re.findall(r"^class (\w+) : public Unknown", self.text(n), re.M)) for n in self.names}
        for name in self.names:
            with self.subTest(name):
                seen, todo = set(), [name]
                while todo:
                    n = todo.pop()
                    if n not in seen:
                        seen.add(n)
                        todo += re.findall(r'#include "host/(\w+\.h)"', self.text(n))
                reachable = set().union(*(declared[n] for n in seen))
                named = set(re.findall(r"ComPtr<(\w+)>", self.text(name))) - {"Unknown", "I"}
                self.assertFalse(named - reachable, "named but neither declared nor included")

    def test_a_header_is_rewritten_only_when_its_text_changes(self):
        def stamps():
            return {n: os.stat(os.path.join(self.folder.name, "host", n)).st_mtime_ns for n in self.names}

        for n in self.names:
            os.utime(os.path.join(self.folder.name, "host", n), ns=(1, 1))
        d = copy.deepcopy(ORIGINAL)
        host_interface(d, "Display")["members"][0]["doc"] = "Dots per inch."
        host_headers.write(load(d), self.folder.name)
        changed = {n for n, t in stamps().items() if t != 1}
        self.assertEqual(changed, {"Geometry.h"})
        self.assertIn("// Dots per inch.", self.text("Geometry.h"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
