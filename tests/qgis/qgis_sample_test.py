#!/usr/bin/env python3
"""The QGIS sample project, made again into WORK_DIR by its script, opens in QGIS with the map
book's layout, an atlas of as many pages as the standalone series, and the standalone sample's
five anchor records on the same items; and it is byte for byte the committed project.

    qgis_sample_test.py CRVANCHOR CRVANCHOR_QGIS SOURCE_DIR WORK_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys

os.environ["QT_QPA_PLATFORM"] = "offscreen"

from qgis.core import QgsApplication, QgsProject  # noqa: E402

PREFIX = "crvanchor/CorvaneProperties/AnchorProperties/"
MM_PER_INCH = 25.4
failures = []


def fail(message):
    failures.append(message)


def null(v):
    # PyQGIS gives a null attribute as None or as its NULL QVariant.
    return v is None or (hasattr(v, "isNull") and v.isNull())


def anchored(elements):
    for e in elements:
        if "custom" in e:
            yield e
        yield from anchored(e.get("members", []))


def record(element):
    bag = element["custom"]
    for step in ("CorvaneProperties", "AnchorProperties"):
        bag = next(x for x in bag["entries"] if x["key"] == step)
    return bag["entries"]


def check_record(item, layer, expected):
    stored = {k[len(PREFIX):]: item.customProperty(k) for k in item.customProperties() if k.startswith(PREFIX)}
    if sorted(stored) != sorted(e["key"] for e in expected):
        return fail("%s: record keys %s" % (item.id(), sorted(stored)))
    for e in expected:
        kind, _, text = str(stored[e["key"]]).partition(":")
        where = "%s: %s=%s" % (item.id(), e["key"], stored[e["key"]])
        if kind != e["kind"]:
            fail(where + ", expected kind " + e["kind"])
        elif kind == "double":
            # Distances are in the layout's millimetres, the document's are in inches.
            if abs(float(text) - e["value"] * MM_PER_INCH) > 1e-9:
                fail("%s, expected %g inches" % (where, e["value"]))
        elif kind == "boolean":
            if text != ("true" if e["value"] else "false"):
                fail(where)
        elif kind.startswith("int"):
            if int(text) != e["value"]:
                fail(where)
        elif text != e["value"]:
            # A field of distances in inches is read through a field of the layer in millimetres.
            if "FieldName" not in e["key"]:
                fail(where)
                continue
            if text not in layer.fields().names():
                fail(where + ", not a field of the sheets layer")
                continue
            for f in layer.getFeatures():
                inches, mm = f[e["value"]], f[text]
                if null(inches) != null(mm) or (not null(inches) and abs(mm - inches * MM_PER_INCH) > 1e-9):
                    fail("%s: on sheet %s %s is %r, %s is %r" % (where, f["NAME"], e["value"], inches, text, mm))
                    break


def series_frame_name(doc):
    return next(e["name"] for e in doc["elements"] if e["type"] == "map_frame")


def main():
    crvanchor, command, src, work = sys.argv[1:5]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    doc_path = os.path.join(src, "samples", "lakes_atlas.json")
    shown = subprocess.run([crvanchor, "show", doc_path], capture_output=True, text=True, check=True).stdout
    pages = int(re.search(r"^Map series .*: (\d+) pages from", shown, re.M).group(1))
    out = os.path.join(work, "lakes_atlas.qgz")
    subprocess.run(["bash", os.path.join(src, "scripts", "make_qgis_sample.sh"), command, out], check=True)
    with open(out, "rb") as a, open(os.path.join(src, "samples", "lakes_atlas.qgz"), "rb") as b:
        if a.read() != b.read():
            fail("the project the script makes differs from samples/lakes_atlas.qgz")
    with open(doc_path, encoding="utf-8") as f:
        doc = json.load(f)

    app = QgsApplication([], False)
    app.initQgis()
    project = QgsProject.instance()
    if not project.read(out):
        fail("QGIS cannot read %s: %s" % (out, project.error()))
    name = doc["active_layout"]["name"]
    layout = project.layoutManager().layoutByName(name)
    if layout is None:
        fail("no layout named %r" % name)
    else:
        atlas = layout.atlas()
        if not atlas.enabled() or atlas.updateFeatures() != pages:
            fail("the atlas has %d pages, the standalone series %d" % (atlas.count(), pages))
        layer = atlas.coverageLayer()
        # The desktop opens on the sheets, not at 1:1 on an empty canvas.
        view = project.viewSettings().defaultViewExtent()
        if view.isEmpty() or view.crs() != layer.crs() or not view.contains(layer.extent()):
            fail("the project opens on %s, not on the sheets %s" % (view.toString(), layer.extent().toString()))
        # QGIS warns at every export about a north arrow that follows no map.
        arrow = layout.itemById("North Arrow")
        linked = arrow.linkedMap() if arrow is not None else None
        if linked is None or linked.id() != series_frame_name(doc):
            fail("the north arrow is not linked to the map frame of the series")
        expected = list(anchored(doc["elements"]))
        if len(expected) != 5:
            fail("the standalone sample has %d anchored elements" % len(expected))
        for e in expected:
            item = layout.itemById(e["name"])
            if item is None:
                fail("no item %r" % e["name"])
            else:
                check_record(item, layer, record(e))
    project.clear()
    app.exitQgis()
    for f in failures:
        print(f, file=sys.stderr)
    if failures:
        return 1
    print("QGIS sample: %d atlas pages, %d records as in the standalone sample" % (pages, len(expected)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
