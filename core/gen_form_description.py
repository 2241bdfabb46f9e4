#!/usr/bin/env python3
"""Writes the anchor form's description, as the core gives it to hosts, from the form's Designer
file: the one place that names its controls, labels, tabs and groups, so that a host's widgets
and the toolkit's own always show the same form.

usage: gen_form_description.py FORM.ui OUT.inc"""
import json
import sys
import xml.etree.ElementTree as ET

KINDS = {"QLabel": "label", "QCheckBox": "check", "QRadioButton": "option", "QListWidget": "list",
         "QComboBox": "dropdown", "QLineEdit": "text", "QPushButton": "button"}


def text_of(widget):
    for prop in widget.findall("property"):
        if prop.get("name") in ("text", "title"):
            s = prop.find("string")
            return s.text or "" if s is not None else ""
    return ""


def widgets(parent):
    """The widgets under `parent` in the order the form lays them out, through its layouts."""
    for child in parent:
        if child.tag == "widget":
            yield child
        elif child.tag in ("layout", "item"):
            yield from widgets(child)


def items(parent):
    out = []
    for w in widgets(parent):
        cls, name = w.get("class"), w.get("name")
        if cls == "QGroupBox":
            out.append({"id": name, "kind": "group", "label": text_of(w), "items": items(w)})
        elif cls in KINDS:
            item = {"id": name, "kind": KINDS[cls], "label": text_of(w)}
            if cls == "QRadioButton":
                array, _, index = name.rpartition("_")
                item["array"], item["index"] = array, int(index)
            out.append(item)
        elif cls == "QWidget":
            out.extend(items(w))
        else:
            sys.exit("%s: %s is a %s, which the description has no kind for" % (sys.argv[1], name, cls))
    return out


def main():
    form, out = sys.argv[1:3]
    top = ET.parse(form).getroot().find("widget")
    labels = {w.get("name"): text_of(w) for w in widgets(top) if w.get("class") == "QLabel"}
    tabs_widget = next(w for w in widgets(top) if w.get("class") == "QTabWidget")
    tabs = []
    for page in tabs_widget.findall("widget"):
        title = page.find("attribute[@name='title']/string")
        tabs.append({"id": page.get("name"), "label": title.text if title is not None else "", "items": items(page)})
    description = {"title": labels.get("lblTitle", ""), "note": labels.get("lblTitleNote", ""),
                   "tab_strip": tabs_widget.get("name"), "tabs": tabs}
    text = json.dumps(description, ensure_ascii=False, separators=(",", ":"))
    if ')json"' in text:
        sys.exit("%s: a label holds the text that ends the raw string" % form)
    with open(out, "w", encoding="utf-8") as f:
        f.write('// Made from %s by gen_form_description.py.\nR"json(%s)json"\n' % (form.rsplit("/", 1)[-1], text))


main()
