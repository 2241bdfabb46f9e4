#!/usr/bin/env python3
"""Makes heavy QGIS projects for measurements, from the bundled project samples/lakes_atlas.qgz:

    python3 scripts/make_qgis_load.py keys N OUT.qgz    N crvanchor/ custom properties on one item
                                                       ("Survey Note", under a bag "x" beside its record)
    python3 scripts/make_qgis_load.py group N OUT.qgz   a group of N labels, each anchored (with the
                                                       record of "Title") to the label before it

The GeoPackage and the north arrow are copied beside OUT.qgz. Needs PyQGIS (python3-qgis) and
no screen; scripts/perf.sh finds a python3 that has it.
"""
import os
import shutil
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from qgis.core import (  # noqa: E402  (the platform must be chosen before Qt loads)
    QgsApplication, QgsLayoutItemRegistry, QgsLayoutPoint, QgsLayoutSize, QgsProject, QgsUnitTypes)

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "samples")
RECORD = "crvanchor/CorvaneProperties/AnchorProperties/"


def item(layout, name):
    return next(i for i in layout.items() if hasattr(i, "id") and i.id() == name)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("keys", "group"):
        sys.exit("usage: make_qgis_load.py keys|group N OUT.qgz")
    kind, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    folder = os.path.dirname(os.path.abspath(out))
    os.makedirs(folder, exist_ok=True)
    for name in ("sheets.gpkg", "north_arrow.xpm"):
        shutil.copyfile(os.path.join(SAMPLES, name), os.path.join(folder, name))
    QgsApplication.setPrefixPath("/usr", True)
    app = QgsApplication([], False)
    app.initQgis()
    project = QgsProject.instance()
    if not project.read(os.path.join(SAMPLES, "lakes_atlas.qgz")):
        sys.exit("cannot read the bundled project")
    layout = project.layoutManager().layoutByName("Lakes Atlas")
    if kind == "keys":
        note = item(layout, "Survey Note")
        for k in range(count):
            note.setCustomProperty("crvanchor/x/k%d" % k, "string:v")
    else:
        title = item(layout, "Title")
        record = {k: title.customProperty(k) for k in title.customProperties() if k.startswith("crvanchor/")}
        members = []
        for k in range(count):
            label = QgsApplication.layoutItemRegistry().createItem(QgsLayoutItemRegistry.LayoutLabel, layout)
            layout.addLayoutItem(label)
            label.setId("Member %d" % k)
            label.attemptMove(QgsLayoutPoint(10 + k % 100, 10 + k // 100, QgsUnitTypes.LayoutMillimeters))
            label.attemptResize(QgsLayoutSize(5, 2, QgsUnitTypes.LayoutMillimeters))
            for key, value in record.items():
                label.setCustomProperty(key, value)
            if k > 0:
                label.setCustomProperty(RECORD + "AnchorType", "string:NamedElement")
                label.setCustomProperty(RECORD + "ElementName", "string:Member %d" % (k - 1))
            members.append(label)
        layout.groupItems(members).setId("Members")
    if not project.write(out):
        sys.exit("cannot write " + out)
    print("%s: %s %d" % (out, kind, count))
    app.exitQgis()


if __name__ == "__main__":
    main()
