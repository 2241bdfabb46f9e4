#!/usr/bin/env python3
"""The plugin's binding of the core (qgis/python/crvanchor/core.py) as a Python host uses it,
without QGIS: the form's callbacks reach Python objects and keep working after a collection,
edits and Apply go through, records round-trip in the compact form, refusals come back as one
line, and a mirror dropped without closing does not hold the core.

    python_binding_test.py SOURCE_DIR   (CRVANCHOR_CORE_LIBRARY names the core, CRV_CORE_WORK
                                         holds snapshot.json)
"""
import gc
import json
import os
import sys

sys.path.insert(0, os.path.join(sys.argv[1], "qgis", "python"))
from crvanchor.core import Core, CoreError, CoreUnavailable  # noqa: E402

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


class View:
    """A host's controls as dictionaries, changed by the form's callbacks alone."""

    def __init__(self, description):
        self.strip = description["tab_strip"]
        self.controls = {}
        self.tabs = {"current": 0, "enabled": [True] * len(description["tabs"])}

        def build(items):
            for item in items:
                if item["kind"] == "group":
                    build(item["items"])
                elif item["kind"] != "label":
                    state = {"enabled": True, "visible": True}
                    if item["kind"] in ("check", "option"):
                        state["value"] = 0
                    elif item["kind"] == "text":
                        state["text"] = ""
                    elif item["kind"] in ("list", "dropdown"):
                        state.update(entries=[], index=-1)
                    self.controls[item["id"]] = state
        for tab in description["tabs"]:
            build(tab["items"])

    def set_text(self, control, text):
        self.controls[control]["text"] = text

    def set_value(self, control, value):
        if control == self.strip:
            self.tabs["current"] = value
        else:
            state = self.controls[control]
            state["index" if "index" in state else "value"] = value

    def clear_list(self, control):
        self.controls[control].update(entries=[], index=-1)

    def add_entry(self, control, text):
        self.controls[control]["entries"].append(text)

    def set_enabled(self, control, tab, on):
        if tab >= 0:
            self.tabs["enabled"][tab] = bool(on)
        else:
            self.controls[control]["enabled"] = bool(on)

    def set_visible(self, control, on):
        self.controls[control]["visible"] = bool(on)


core = Core()
description = core.form_description()
expect([t["label"] for t in description["tabs"]] == ["Anchored To", "Primary Anchor", "Alternate Anchor", "Options"],
       "tabs %s" % [t["label"] for t in description["tabs"]])
snapshot = json.load(open(os.path.join(os.environ["CRV_CORE_WORK"], "snapshot.json")))

with core.open_mirror(snapshot, "lakes_atlas.json") as mirror:
    view = View(description)
    form = mirror.open_form("Title", view)
    gc.collect()  # the callbacks must outlive any collection while the form is open
    shown = form.state()
    expect(view.controls == shown["controls"] and view.tabs == shown["tabs"], "the view differs from the form")
    view.controls["OptAnchorTo_1"]["value"], view.controls["OptAnchorTo_0"]["value"] = 1, 0
    expect(form.user_value("OptAnchorTo_1", 1) == [], "choosing the page element reported errors")
    expect(view.controls["lstElementNames"]["enabled"], "the element list stayed disabled")
    view.controls["txtHDistanceAll"]["text"] = "0.5"
    form.user_text("txtHDistanceAll", "0.5")
    expect(form.state()["dirty"], "an edit left the form clean")
    try:
        form.user_value("cmdOK", 1)
        failures.append("an unknown control was taken")
    except CoreError as e:
        expect(e.refused and str(e) == "crv_form_user_value: the form has no control cmdOK", "refusal: %s" % e)
    applied = form.apply()
    stored = core.write_record(applied["custom"])
    expect(list(stored) == ["crvanchor"] and stored["crvanchor"].startswith("json:"), "stored %s" % stored)
    expect(core.read_record(stored) == {"form": "compact", "custom": applied["custom"]}, "the record did not round-trip")
    expect('"HDistanceAll":"string:0.5"' in stored["crvanchor"], "the typed distance was not stored as typed")
    form.close()

# A mirror dropped without closing lets the next one open.
dropped = core.open_mirror(snapshot, "dropped")
del dropped
gc.collect()
try:
    core.open_mirror(snapshot, "next").close()
except CoreError as e:
    failures.append("a dropped mirror held the core: %s" % e)

try:
    Core(os.path.join(os.environ["CRV_CORE_WORK"], "missing", "libcrvanchor_core.so"))
    failures.append("a missing core loaded")
except CoreUnavailable as e:
    expect("\n" not in str(e) and "is missing" in str(e), "missing core: %r" % str(e))

if failures:
    sys.exit("FAILED:\n  " + "\n  ".join(failures))
print("the binding's form, records, refusals and mirrors behave as the core's interface says")
