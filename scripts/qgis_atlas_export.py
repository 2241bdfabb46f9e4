#!/usr/bin/env python3
"""Exports a project's atlas with QGIS's own exporter, the anchor records removed first, so that
what anchoring adds to `crvanchor-qgis --pdf` can be measured against it.

    python3 scripts/qgis_atlas_export.py PROJECT.qgz LAYOUT OUT.pdf
    python3 scripts/qgis_atlas_export.py PROJECT.qgz LAYOUT --save OUT.qgz

The records are every custom property of an item whose key starts with "crvanchor"; without
them the layout is what QGIS alone prints, every item where the project put it. The PDF is
written with the exporter's default settings, as crvanchor-qgis writes it. --save writes the
project without its records instead (beside PROJECT, so that its layers' relative paths hold).
Needs PyQGIS (Debian package python3-qgis) and no screen.
"""
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from qgis.core import QgsApplication, QgsLayoutExporter, QgsProject  # noqa: E402


def strip_records(layout):
    removed = 0
    for item in layout.items():
        if not hasattr(item, "customProperties"):
            continue  # the page's own graphics
        for key in item.customProperties():
            if key.startswith("crvanchor"):
                item.removeCustomProperty(key)
                removed += 1
    return removed


def run(project_path, layout_name, out, save):
    project = QgsProject.instance()
    if not project.read(project_path):
        return "cannot read %s: %s" % (project_path, project.error())
    layout = project.layoutManager().layoutByName(layout_name)
    if layout is None:
        return "no print layout %r in %s" % (layout_name, project_path)
    removed = strip_records(layout)
    if save:
        if not project.write(out):
            return "cannot write %s: %s" % (out, project.error())
        print("%s: %s without its %d record properties" % (out, project_path, removed))
        return None
    atlas = layout.atlas()
    if not atlas.enabled() or atlas.updateFeatures() < 1:
        return "the layout %r has no atlas pages" % layout_name
    result, error = QgsLayoutExporter.exportToPdf(atlas, out, QgsLayoutExporter.PdfExportSettings())
    if result != QgsLayoutExporter.Success:
        return "cannot write %s: %s" % (out, error or result)
    print("QGIS's atlas export of %s (%s): %d pages, %d record properties removed\n  PDF: %s"
          % (project_path, layout_name, atlas.count(), removed, out))
    return None


def main():
    args = sys.argv[1:]
    save = len(args) == 4 and args[2] == "--save"
    if len(args) != 3 and not save:
        sys.exit("usage: qgis_atlas_export.py PROJECT.qgz LAYOUT OUT.pdf | --save OUT.qgz")
    app = QgsApplication([], False)
    app.initQgis()
    failure = run(args[0], args[1], args[-1], save)
    QgsProject.instance().clear()
    app.exitQgis()
    if failure:
        sys.exit("qgis_atlas_export.py: " + failure)


main()
