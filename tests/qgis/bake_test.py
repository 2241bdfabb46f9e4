#!/usr/bin/env python3
"""A baked project prints in QGIS without the plugin as the anchoring places it: the sample
project, baked by crvanchor-qgis and exported by QGIS's own atlas exporter with no plugin
loaded, puts every anchored item where crvanchor-qgis's report does, page by page; the baked
project still runs as before; after an edit a new bake follows the edit; unbake takes the
positions out and leaves the saved layout as it was.

    bake_test.py CRVANCHOR_QGIS SOURCE_DIR WORK_DIR
"""
import json
import os
import shutil
import subprocess
import sys

os.environ["QT_QPA_PLATFORM"] = "offscreen"

from qgis.core import (QgsApplication, QgsLayoutExporter, QgsLayoutItemGroup,  # noqa: E402
                       QgsLayoutObject, QgsProject)

LAYOUT = "Lakes Atlas"
failures = []


def fail(message):
    failures.append(message)


def run(command, work, *args, status=0):
    done = subprocess.run([command, *args], capture_output=True, text=True, cwd=work)
    if done.returncode != status:
        fail("%s: status %d, expected %d: %s" % (" ".join(args), done.returncode, status, done.stderr))
    return done


def book_rects(command, work, project, tag):
    """{page: {name: rect}} of the anchored items as crvanchor-qgis places them."""
    report = os.path.join(work, tag + ".json")
    done = run(command, work, project, "--layout", LAYOUT, "--report", report)
    if "left out" in done.stderr:
        fail("%s: an item is left out: %s" % (tag, done.stderr))
    with open(report, encoding="utf-8") as f:
        pages = json.load(f)["pages"]
    return {p["page"]: {e["name"]: e["rect"] for e in p["elements"] if e["anchored"]} for p in pages}


def scene_rect(item):
    if isinstance(item, QgsLayoutItemGroup):
        rects = [scene_rect(m) for m in item.items()]
        return [min(r[0] for r in rects), min(r[1] for r in rects), max(r[2] for r in rects),
                max(r[3] for r in rects)]
    r = item.mapRectToScene(item.rectWithFrame())
    return [r.left(), r.top(), r.right(), r.bottom()]


def qgis_rects(project_path, names, pdf):
    """{page: {name: rect}} as QGIS's own atlas export draws them, in the report's page units."""
    project = QgsProject()
    if not project.read(project_path):
        fail("QGIS cannot read %s" % project_path)
        return {}
    layout = project.layoutManager().layoutByName(LAYOUT)
    atlas = layout.atlas()
    page = layout.pageCollection().page(0)
    seen = {}

    def record(*_):
        rects = {}
        for name in names:
            left, top, right, bottom = scene_rect(layout.itemById(name))
            height = page.rect().height()
            rects[name] = [left - page.pos().x(), page.pos().y() + height - bottom,
                           right - page.pos().x(), page.pos().y() + height - top]
        seen[atlas.currentFeatureNumber() + 1] = rects

    atlas.featureChanged.connect(record)
    result, error = QgsLayoutExporter.exportToPdf(atlas, pdf, QgsLayoutExporter.PdfExportSettings())
    if result != QgsLayoutExporter.Success:
        fail("QGIS's atlas export failed: %s" % error)
    atlas.featureChanged.disconnect(record)
    return seen


def differences(expected, found, what):
    out = []
    if sorted(expected) != sorted(found):
        return ["%s: pages %s, expected %s" % (what, sorted(found), sorted(expected))]
    for page, rects in expected.items():
        for name, rect in rects.items():
            got = found[page].get(name)
            if got is None or max(abs(a - b) for a, b in zip(rect, got)) > 1e-6:
                out.append("%s: page %d, %s at %s, expected %s" % (what, page, name, got, rect))
    return out


def baked_items(project_path):
    project = QgsProject()
    project.read(project_path)
    layout = project.layoutManager().layoutByName(LAYOUT)
    found = []
    for item in layout.items():
        if not hasattr(item, "dataDefinedProperties"):
            continue
        properties = item.dataDefinedProperties()
        if any(properties.isActive(p) for p in (QgsLayoutObject.PositionX, QgsLayoutObject.PositionY)) or any(
                k.startswith("crvanchor-bake") for k in item.customProperties()):
            found.append(item.id())
    return sorted(found)


def main():
    command, src, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for name in ("lakes_atlas.qgz", "sheets.gpkg", "north_arrow.xpm"):
        shutil.copy(os.path.join(src, "samples", name), work)
    project = os.path.join(work, "lakes_atlas.qgz")

    app = QgsApplication([], False)
    app.initQgis()
    expected = book_rects(command, work, project, "book")
    names = sorted(next(iter(expected.values())))
    if len(names) != 5 or len(expected) < 2:
        fail("the sample has %d anchored items on %d pages" % (len(names), len(expected)))
    unbaked = qgis_rects(project, names, os.path.join(work, "unbaked.pdf"))
    if not differences(expected, unbaked, "unbaked"):
        fail("without a bake QGIS already prints the anchored places: the test proves nothing")

    run(command, work, "bake", project, "--layout", LAYOUT)
    failures.extend(differences(expected, qgis_rects(project, names, os.path.join(work, "baked.pdf")), "baked"))
    # A group's items are baked each: QGIS would move a group by its data alone, not its items.
    baked = baked_items(project)
    for name in names:
        if name not in baked and not any(b.startswith(name + " ") for b in baked):
            fail("%s is not baked (baked: %s)" % (name, baked))
    # The plugin and the command count the bake as their own: nothing is left out, and the
    # anchoring places the items as it did.
    failures.extend(differences(expected, book_rects(command, work, project, "baked-book"), "book of the baked"))

    # An edit, then a new bake: the print follows the edit.
    moved = names[0]
    run(command, work, "anchor", project, "--layout", LAYOUT, moved, "HDistanceAll=3")
    edited = book_rects(command, work, project, "edited")
    if not differences(expected, edited, "edited"):
        fail("the edit of %s moved nothing" % moved)
    run(command, work, "bake", project, "--layout", LAYOUT)
    failures.extend(differences(edited, qgis_rects(project, names, os.path.join(work, "rebaked.pdf")), "rebaked"))

    done = run(command, work, "unbake", project, "--layout", LAYOUT)
    if baked_items(project):
        fail("still baked after unbake: %s" % baked_items(project))
    if "Took the baked positions out of %d items" % len(baked) not in done.stdout:
        fail("unbake said: %r" % done.stdout)
    # The layout as saved before the bakes, the record edit aside.
    failures.extend(differences({p: {n: r for n, r in rects.items() if n != moved} for p, rects in unbaked.items()},
                                qgis_rects(project, [n for n in names if n != moved],
                                           os.path.join(work, "unbaked-again.pdf")), "unbaked again"))
    run(command, work, "unbake", project, "--layout", LAYOUT)
    app.exitQgis()
    for f in failures:
        print(f, file=sys.stderr)
    if failures:
        return 1
    print("bake: %d anchored items on %d atlas pages print alike without the plugin" % (len(names), len(expected)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
