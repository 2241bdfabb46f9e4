"""With the plugin loaded as QGIS loads it, the user's edits of a layout stay undoable and mark
the project modified, whatever its atlas has done: while the designer's atlas preview is on,
after it is switched off, after an export. The anchoring of an atlas step puts nothing on the
undo history and leaves an unmodified project unmodified; what QGIS itself records of a step
(its refresh of a group) is QGIS's.

Usage: plugin_undo_test.py PLUGIN_FOLDER SOURCE_DIR WORK_DIR
"""

import os
import shutil
import sys

from qgis.core import QgsApplication, QgsLayoutExporter, QgsLayoutItemGroup, QgsLayoutPoint, QgsProject

LAYOUT = "Lakes Atlas"
failures = []


def preview(atlas):
    """The designer's atlas preview: a render begun, stepped to page 2, left on."""
    atlas.beginRender()
    atlas.first()
    atlas.next()


def preview_then_off(atlas):
    preview(atlas)
    atlas.endRender()


def export(atlas):
    result, error = QgsLayoutExporter.exportToPdf(atlas, os.path.join(WORK, "export.pdf"),
                                                  QgsLayoutExporter.PdfExportSettings())
    assert result == QgsLayoutExporter.Success, error


PHASES = (("the atlas preview on", preview), ("the atlas preview switched off", preview_then_off),
          ("an atlas export", export))


def session(project_file, step):
    """What an atlas step leaves (the history it pushed, the modified flag, the page number's
    place: the sample is saved as page 1 leaves it, and page 2 puts its number on the other side),
    then what a user's move of the title inside a command of its own does."""
    project = QgsProject.instance()
    assert project.read(project_file), project_file
    layout = project.layoutManager().layoutByName(LAYOUT)
    stack = layout.undoStack()
    history = stack.stack()
    start = history.count()
    step(layout.atlas())
    title, number = layout.itemById("Title"), layout.itemById("Page Number")
    seen = {"pushed": [history.text(i) for i in range(start, history.count())], "dirty": project.isDirty(),
            "place": (number.pos().x(), number.pos().y())}
    before = history.count()
    stack.beginCommand(title, "Move Title")
    title.attemptMove(QgsLayoutPoint(5, 5, title.positionWithUnits().units()))
    stack.endCommand()
    seen["user steps"] = history.count() - before
    seen["dirty after the move"] = project.isDirty()
    project.clear()
    return seen


def without_groups(work):
    """The sample with its group taken apart, written beside its data: QGIS records nothing of an
    atlas step of it."""
    project = QgsProject.instance()
    assert project.read(os.path.join(work, "lakes_atlas.qgz"))
    layout = project.layoutManager().layoutByName(LAYOUT)
    for item in layout.items():
        if isinstance(item, QgsLayoutItemGroup):
            layout.ungroupItems(item)
    path = os.path.join(work, "no_groups.qgz")
    assert project.write(path)
    project.clear()
    return path


def sessions(projects):
    return {(name, phase): session(path, step) for name, path in projects for phase, step in PHASES}


def main():
    global WORK
    plugins, src, WORK = sys.argv[1:4]
    for name in ("lakes_atlas.qgz", "sheets.gpkg", "north_arrow.xpm"):
        shutil.copy(os.path.join(src, "samples", name), WORK)
    app = QgsApplication([], False)
    app.initQgis()
    projects = [("the sample", os.path.join(WORK, "lakes_atlas.qgz")), ("no groups", without_groups(WORK))]
    alone = sessions(projects)

    import qgis.utils

    qgis.utils.plugin_paths = [plugins]
    sys.path.insert(0, plugins)
    qgis.utils.updateAvailablePlugins()
    assert qgis.utils.loadPlugin("crvanchor") and qgis.utils.startProcessingPlugin("crvanchor")
    loaded = sessions(projects)

    for key, seen in loaded.items():
        what = "%s, %s" % key
        base = alone[key]
        if seen["user steps"] != 1 or not seen["dirty after the move"]:
            failures.append("%s: a user's move is %d undo steps, project modified: %s" %
                            (what, seen["user steps"], seen["dirty after the move"]))
        # Nothing beyond what QGIS itself records of the step.
        extra = list(seen["pushed"])
        for text in base["pushed"]:
            if text in extra:
                extra.remove(text)
        if extra or (seen["dirty"] and not base["dirty"]):
            failures.append("%s: the atlas step pushed %s, modified: %s; without the plugin %s, %s" %
                            (what, seen["pushed"], seen["dirty"], base["pushed"], base["dirty"]))
        if key[0] == "no groups" and (base["pushed"] or base["dirty"]):
            failures.append("%s: QGIS alone records the step: the test proves nothing" % what)
        if key[1] != "an atlas export" and seen["place"] == base["place"]:
            failures.append("%s: the page number is where QGIS alone leaves it: nothing was anchored" % what)
    qgis.utils.unloadPlugin("crvanchor")
    app.exitQgis()
    for f in failures:
        print(f, file=sys.stderr)
    if failures:
        return 1
    print("the user's edits are undoable and mark the project modified; the anchoring records nothing")
    return 0


if __name__ == "__main__":
    sys.exit(main())
