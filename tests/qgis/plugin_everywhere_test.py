"""With the plugin loaded, the sample atlas is anchored wherever it is exported: from Python with no
designer open, and by the Processing algorithm, whose pages are crvanchor-qgis's.
Usage: plugin_everywhere_test.py PLUGIN_FOLDER SOURCE_DIR COMMAND_REPORTS WORK_DIR
(COMMAND_REPORTS: crvanchor-qgis's reports command-1-16.json and command-2,7-8.json)"""

import json
import os
import sys

from qgis.core import QgsApplication, QgsLayoutExporter, QgsProject

plugins, src, reports, work = sys.argv[1:5]
app = QgsApplication([], False)
app.initQgis()


def read_json(path):
    with open(path) as f:
        return json.load(f)


command = read_json(os.path.join(reports, "command-1-16.json"))
height = command["page_size"][1]
anchored = command["anchor_order"]


def placed_by_export():
    """Each anchored item's rectangle (page units, y up) on each page of an atlas export from Python,
    and what the export left on the layout's undo history and the project's modified flag."""
    project = QgsProject.instance()
    assert project.read(os.path.join(src, "samples", "lakes_atlas.qgz"))
    layout = project.layoutManager().layoutByName("Lakes Atlas")
    pages = {}

    def record():
        rects = {}
        for name in anchored:
            item = layout.itemById(name)
            pos = layout.convertToLayoutUnits(item.pagePositionWithUnits())
            size = layout.convertToLayoutUnits(item.sizeWithUnits())
            rects[name] = [pos.x(), height - pos.y() - size.height(), pos.x() + size.width(), height - pos.y()]
        pages[layout.atlas().currentFeatureNumber() + 1] = rects

    layout.atlas().featureChanged.connect(record)
    history = layout.undoStack().stack().count()
    result, error = QgsLayoutExporter.exportToPdf(layout.atlas(), os.path.join(work, "console.pdf"),
                                                  QgsLayoutExporter.PdfExportSettings())
    assert result == QgsLayoutExporter.Success, error
    layout.atlas().featureChanged.disconnect(record)
    pushed = layout.undoStack().stack().count() - history
    dirty = project.isDirty()
    project.clear()
    return pages, pushed, dirty


def same_pages(a, b, tolerance=1e-9):
    """Two reports' pages alike, rectangles to within a billionth of a millimetre (the plugin
    reports the core's arithmetic, the command QGIS's measuring of the moved items)."""
    def rects(pages):
        return [[e.pop("rect") for e in p["elements"]] for p in pages]
    a, b = json.loads(json.dumps(a)), json.loads(json.dumps(b))
    ra, rb = rects(a), rects(b)
    return a == b and all(max(abs(x - y) for x, y in zip(r, s)) <= tolerance
                          for pa, pb in zip(ra, rb) for r, s in zip(pa, pb))


def misplaced(pages):
    wrong = []
    for page in command["pages"]:
        for e in page["elements"]:
            if e["name"] in anchored:
                got = pages[page["page"]][e["name"]]
                if max(abs(a - b) for a, b in zip(got, e["rect"])) > 1e-6:
                    wrong.append((page["page"], e["name"], got, e["rect"]))
    return wrong


# Without the plugin an export keeps the places last saved, which are not every page's.
alone = placed_by_export()
assert misplaced(alone[0]), "the sample's saved places are every page's: the check below proves nothing"

import qgis.utils  # noqa: E402

qgis.utils.plugin_paths = [plugins]  # what QGIS sets up from the profile
sys.path.insert(0, plugins)
qgis.utils.updateAvailablePlugins()
assert "crvanchor" in qgis.utils.available_plugins, qgis.utils.available_plugins
assert qgis.utils.loadPlugin("crvanchor") and qgis.utils.startProcessingPlugin("crvanchor")
meta = qgis.utils.pluginMetadata
assert (meta("crvanchor", "name"), meta("crvanchor", "hasProcessingProvider")) == ("CRVAnchor", "yes")
for key in ("description", "about", "version", "category", "icon"):
    assert meta("crvanchor", key) not in ("", "__error__"), key
assert os.path.exists(os.path.join(plugins, "crvanchor", meta("crvanchor", "icon")))

pages, pushed, dirty = placed_by_export()
wrong = misplaced(pages)
assert not wrong, "an export from Python misplaces: %s" % wrong[:3]
# No more than QGIS itself records of an export (its refresh of the group on every page).
assert pushed <= alone[1] and (alone[2] or not dirty), \
    "an export left %d steps of history, project modified: %s; without the plugin %s" % (pushed, dirty, alone[1:])

# processing.run, as from the console and the toolbox.
sys.path.append("/usr/share/qgis/python/plugins")
from processing.core.Processing import Processing  # noqa: E402
import processing  # noqa: E402

Processing.initialize()
project = QgsProject.instance()
assert project.read(os.path.join(src, "samples", "lakes_atlas.qgz"))
report = os.path.join(work, "processing.json")
processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas", "PAGES": "2,7-8", "REPORT": report,
                                         "PNG": os.path.join(work, "png"), "DPI": 30})
got = read_json(report)["pages"]
assert same_pages(got, read_json(os.path.join(reports, "command-2,7-8.json"))["pages"]), \
    "processing.run's pages are not crvanchor-qgis's"
assert sorted(os.listdir(os.path.join(work, "png"))) == ["page-002.png", "page-007.png", "page-008.png"]
try:
    processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas", "PAGES": "99"})
    sys.exit("pages beyond the atlas were accepted")
except Exception as e:  # QgsProcessingException
    assert "99 is not in" in str(e), str(e)
project.clear()
qgis.utils.unloadPlugin("crvanchor")
print("anchored in an export from Python and by processing.run")
