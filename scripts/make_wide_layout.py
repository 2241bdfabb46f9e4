#!/usr/bin/env python3
"""Makes a map document with a wide layout for measurements: ELEMENTS elements (group members
counted) over the bundled sample's 16 sheets, nearly all of them anchored, most to an element
named before or after them, so that anchoring order, cycles and every lookup by name are
exercised at size.

    python3 scripts/make_wide_layout.py ELEMENTS DIR     (writes DIR/wide.json, DIR/sheets.gpkg)

The layout, built the same for the same count:
  - "Main Map", the map frame with the sample's series;
  - labels "Label N", in chains: one in seven anchored to the page, the rest to the label
    before it; one in nine to the label after it instead, which is then anchored to the one
    before (so the order given must change); one in eleven takes its distances from the sheet's
    fields through "Main Map"; priorities vary;
  - every 50th element a group "Group N" of four members ("Group N item K"), held by walk, by
    index or both in turn, anchored to "Main Map", its third member anchored to the first;
  - one label in 500 anchored far off the page (a finding of the layout checks on each page);
  - two cycles: "Ring A" and "Ring B" anchored to each other, and a group anchored to its own
    member.
"""
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
NONE = "<None>"


def record(target=None, priority=1, dx=0.0, dy=0.0, fields=False, corner=(1, 1)):
    kinds = [
        ("AnchorElement", "boolean", True),
        ("AnchorType", "string", "NamedElement" if target else "Layout"),
        ("ElementName", "string", target or NONE),
        ("UseAltAnchoring", "boolean", False),
        ("AltAnchorType", "int16", 0),
        ("AltAnchorPageRange", "string", ""),
        ("AnchorFromAll", "int16", corner[0]),
        ("AnchorToAll", "int16", corner[1]),
        ("HDistanceAll", "double", dx),
        ("HFromFieldAll", "boolean", fields),
        ("HFieldNameAll", "string", "ARROW_DX" if fields else NONE),
        ("VDistanceAll", "double", dy),
        ("VFromFieldAll", "boolean", fields),
        ("VFieldNameAll", "string", "ARROW_DY" if fields else NONE),
        ("AnchorFromAlt", "int16", 0),
        ("AnchorToAlt", "int16", 0),
        ("HDistanceAlt", "double", 0.0),
        ("HFromFieldAlt", "boolean", False),
        ("HFieldNameAlt", "string", NONE),
        ("VDistanceAlt", "double", 0.0),
        ("VFromFieldAlt", "boolean", False),
        ("VFieldNameAlt", "string", NONE),
        ("AnchorPriority", "int16", priority),
        ("CanAnchor", "boolean", True),
        ("Version", "int16", 1),
    ]
    anchor = {"key": "AnchorProperties", "kind": "bag",
              "entries": [{"key": k, "kind": t, "value": v} for k, t, v in kinds]}
    return {"kind": "bag", "entries": [{"key": "CorvaneProperties", "kind": "bag", "entries": [anchor]}]}


def text(name, x, y, custom=None):
    e = {"type": "text", "name": name, "rect": [x, y, x + 0.3, y + 0.1], "text": name, "font_size": 4.0}
    if custom:
        e["custom"] = custom
    return e


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_wide_layout.py ELEMENTS DIR")
    count, folder = int(sys.argv[1]), sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(os.path.join(HERE, "..", "samples", "sheets.gpkg"), os.path.join(folder, "sheets.gpkg"))
    sample = json.load(open(os.path.join(HERE, "..", "samples", "lakes_atlas.json"), encoding="utf-8"))
    elements = [sample["elements"][0]]  # "Main Map" and its series
    elements.append(text("Ring A", 1, 1, record("Ring B", 0, 0.1)))
    elements.append(text("Ring B", 1, 1, record("Ring A", 0, 0.1)))
    elements.append({"type": "group", "name": "Ring Group", "custom": record("Ring Group item", 2),
                     "members": [text("Ring Group item", 2, 2)]})
    made = 5
    n = 0
    last_label = None
    forward = None  # while a label is anchored to the next one: the label the next one is anchored to
    while made < count:
        n += 1
        x, y = 0.5 + (n * 0.37) % 7.2, 0.5 + (n * 0.53) % 9.8
        if n % 50 == 0 and count - made >= 5:
            name = "Group %d" % n
            members = [text("%s item %d" % (name, k), x, y + 0.12 * k) for k in range(4)]
            members[2]["custom"] = record(members[0]["name"], n % 3, 0.0, 0.15)
            elements.append({"type": "group", "name": name, "members_by": ("walk", "index", "both")[n % 3],
                             "members": members, "custom": record("Main Map", n % 3, 0.05 * (n % 7), 0.1,
                                                                  corner=(0, 6))})
            made += 5
            continue
        name = "Label %d" % n
        priority = (0, 1, 1, 2)[n % 4]
        if n % 500 == 250:
            custom = record(None, priority, 100.0, 100.0)
        elif n % 7 == 0 or last_label is None:
            custom = record(None, priority, x, y, corner=(6, 6))
        elif n % 11 == 0:
            custom = record("Main Map", priority, -0.1, -0.1, fields=True, corner=(2, 2))
        elif n % 9 == 0 and (n + 1) % 50 != 0 and made + 1 < count:
            custom = record("Label %d" % (n + 1), priority, 0.0, -0.12)
            forward = last_label
        else:
            custom = record(forward or last_label, priority, 0.0, 0.12)
            forward = None
        elements.append(text(name, x, y, custom))
        if not forward:
            last_label = name
        made += 1
    doc = {key: sample[key] for key in ("format", "version", "page")}
    doc["elements"] = elements
    for key in ("series_layouts", "section_templates", "active_layout"):
        doc[key] = sample[key]
    path = os.path.join(folder, "wide.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=1, ensure_ascii=False)
        f.write("\n")
    print("%s: %d elements" % (path, made))


if __name__ == "__main__":
    main()
