#!/usr/bin/env python3
"""The plugin's Python host over the portable core, in QGIS: the sample atlas stepped through
QGIS's own atlas, each page's anchored items placed through a LayoutSession, lands every item
where the standalone book puts it (the book in inches, the layout in millimetres).

    python_host_test.py CRVANCHOR SOURCE_DIR WORK_DIR   (CRVANCHOR_CORE_LIBRARY names the core)
"""
import json
import os
import shutil
import subprocess
import sys

os.environ["QT_QPA_PLATFORM"] = "offscreen"

from qgis.core import QgsApplication, QgsLayoutExporter, QgsProject  # noqa: E402

crvanchor, source, work = sys.argv[1:4]
sys.path.insert(0, os.path.join(source, "qgis", "python"))
from crvanchor.core import Core  # noqa: E402
from crvanchor.session import LayoutSession  # noqa: E402

MM_PER_INCH = 25.4
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
subprocess.run([crvanchor, "book", os.path.join(source, "samples", "lakes_atlas.json"), "--report",
                os.path.join(work, "book.json")], check=True, stdout=subprocess.DEVNULL)
book = json.load(open(os.path.join(work, "book.json")))
shutil.copy(os.path.join(source, "samples", "lakes_atlas.qgz"), work)
for f in ("sheets.gpkg", "north_arrow.xpm"):
    shutil.copy(os.path.join(source, "samples", f), work)

app = QgsApplication([], False)
app.initQgis()
project = QgsProject.instance()
if not project.read(os.path.join(work, "lakes_atlas.qgz")):
    sys.exit("FAILED: the sample project does not open")
layout = project.layoutManager().layoutByName("Lakes Atlas")
session = LayoutSession(Core(), layout)
mirror = session.open()
failures = []
if mirror.selection()["anchor_order"] != book["anchor_order"]:
    failures.append("order %s, the book's %s" % (mirror.selection()["anchor_order"], book["anchor_order"]))
first, last = mirror.pages()
if (first, last) != (1, 16):
    failures.append("pages %d to %d, the book's 1 to 16" % (first, last))
atlas = layout.atlas()
atlas.beginRender()
placed = 0
for index, expected in enumerate(book["pages"]):
    atlas.seekTo(index)
    # QGIS's own atlas step may record its group refits; the anchoring's moves record nothing.
    before = layout.undoStack().stack().count()
    result = session.place(first + index)
    if layout.undoStack().stack().count() != before:
        failures.append("page %d: the moves left %d undo commands"
                        % (first + index, layout.undoStack().stack().count() - before))
    if result["error_reports"]:
        failures.append("page %d: %s" % (first + index, result["error_reports"]))
    for e in expected["elements"]:
        if not e.get("anchored"):
            continue
        want = [v * MM_PER_INCH for v in e["rect"]]
        got = session.rect_of(session._items[e["name"]])
        if max(abs(a - b) for a, b in zip(want, got)) > 1e-6:
            failures.append("page %d, %s: the book puts it at %s mm, the Python host at %s"
                            % (first + index, e["name"], want, got))
        placed += 1
atlas.endRender()

# QGIS's own atlas export, the session following the atlas: every page's items, read as the
# exporter renders the page, where the book puts them.
session.follow_atlas()
seen = {}  # feature number -> the items' rectangles as the page was rendered
atlas.featureChanged.connect(
    lambda _f: seen.__setitem__(atlas.currentFeatureNumber(), {n: session.rect_of(i) for n, i in session._items.items()}))
exported, error = QgsLayoutExporter.exportToPdf(atlas, os.path.join(work, "atlas.pdf"),
                                                QgsLayoutExporter.PdfExportSettings())
if exported != QgsLayoutExporter.ExportResult.Success:
    failures.append("QGIS's export: %s %s" % (exported, error))
if len(seen) != len(book["pages"]):
    failures.append("the export rendered %d pages, the book %d" % (len(seen), len(book["pages"])))
for rects, expected in zip((seen[k] for k in sorted(seen)), book["pages"]):
    for e in expected["elements"]:
        if e.get("anchored"):
            want = [v * MM_PER_INCH for v in e["rect"]]
            if max(abs(a - b) for a, b in zip(want, rects[e["name"]])) > 1e-6:
                failures.append("exported page %d, %s: at %s mm, the book's %s" % (expected["page"], e["name"],
                                                                                  rects[e["name"]], want))
failures += session.errors
session.close()

# A framed label anchored inside a group, beside a label that is not: the anchored one goes
# where its record puts its frame's edge, the other stays.
from qgis.core import (QgsLayoutItemGroup, QgsLayoutItemLabel, QgsLayoutMeasurement, QgsLayoutPoint,  # noqa: E402
                       QgsLayoutSize, QgsPrintLayout)

small = QgsPrintLayout(project)
small.initializeDefaults()
small.setName("Framed")
core = Core()


def label(name, x, y):
    item = QgsLayoutItemLabel(small)
    item.setId(name)
    item.setText(name)
    small.addLayoutItem(item)
    item.attemptMove(QgsLayoutPoint(x, y))
    item.attemptResize(QgsLayoutSize(30, 10))
    return item


framed, still = label("Framed", 100, 100), label("Still", 100, 150)
framed.setFrameEnabled(True)
framed.setFrameStrokeWidth(QgsLayoutMeasurement(2))
group = QgsLayoutItemGroup(small)
group.setId("Pair")
small.addLayoutItem(group)
group.addItem(framed)
group.addItem(still)
record = {"kind": "bag", "entries": [{"key": "CorvaneProperties", "kind": "bag", "entries": [
    {"key": "AnchorProperties", "kind": "bag", "entries": [
        {"key": "AnchorElement", "kind": "boolean", "value": True},
        {"key": "AnchorType", "kind": "string", "value": "Layout"},
        {"key": "AnchorFromAll", "kind": "int16", "value": 0}, {"key": "AnchorToAll", "kind": "int16", "value": 0},
        {"key": "HDistanceAll", "kind": "double", "value": 10}, {"key": "VDistanceAll", "kind": "double", "value": -20}]}]}]}
for key, text in core.write_record(record).items():
    framed.setCustomProperty(key, text)
before = still.sceneBoundingRect()
small_session = LayoutSession(core, small)
small_session.open()
small_session.place(1)
height = small.pageCollection().page(0).rect().height()
got = small_session.rect_of(framed)
# Its framed top left corner 10 mm right of and 20 mm below the page's.
if abs(got[0] - 10) > 1e-6 or abs(got[3] - (height - 20)) > 1e-6:
    failures.append("the framed label's frame stands at %s, not 10 mm in and 20 mm down" % got)
if still.sceneBoundingRect() != before:
    failures.append("the label beside it moved: %s, was %s" % (still.sceneBoundingRect(), before))
small_session.close()
app.exitQgis()
if failures:
    sys.exit("FAILED:\n  " + "\n  ".join(failures[:20]))
print("every anchored item on every page where the book puts it, stepped and exported (%d placements)" % placed)
