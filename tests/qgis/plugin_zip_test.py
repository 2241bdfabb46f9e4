#!/usr/bin/env python3
"""The plugin's ZIP as a new user installs it: unpacked into a fresh QGIS profile and enabled as
QGIS's "Install from ZIP" does, then used as a cartographer would.

- QGIS's own atlas export of the sample puts every anchored item where `crvanchor book` does;
- the Anchor dock shows the selected item's record, Apply places it for the atlas page in view
  as one undo step (undone, position and record return), a new record is given switched off,
  the first page number is set from the dock, the dock says when an item's alternate rule
  placed it, and a designer's View menu shows and hides the dock;
- QGIS's layout checks before an export list the anchoring's findings and leave the atlas and
  the undo history as they were;
- the help page is there and the German translation speaks QGIS's terms.

    plugin_zip_test.py ZIP CRVANCHOR SOURCE_DIR WORK_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import zipfile

os.environ["QT_QPA_PLATFORM"] = "offscreen"

zip_path, crvanchor, source, work = sys.argv[1:5]
MM_PER_INCH = 25.4
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


shutil.rmtree(work, ignore_errors=True)
profile = os.path.join(work, "profiles", "default")
plugins = os.path.join(profile, "python", "plugins")
os.makedirs(plugins)
os.environ["HOME"] = os.path.join(work, "home")
# QGIS's installer: the ZIP's one top folder unpacked into the profile's plugin folder.
with zipfile.ZipFile(zip_path) as z:
    names = z.namelist()
    check({n.split("/")[0] for n in names} == {"crvanchor"}, "the ZIP has more than the plugin's folder: %s" % names)
    for needed in ("crvanchor/metadata.txt", "crvanchor/help/index.html", "crvanchor/i18n/crvanchor_de.qm",
                   "crvanchor/libs/linux-x86_64/libcrvanchor_core.so", "crvanchor/icon.svg"):
        check(needed in names, "the ZIP lacks %s" % needed)
    z.extractall(plugins)
# A ZIP keeps no execute bits QGIS needs: the core is opened as a library, not run.
metadata = open(os.path.join(plugins, "crvanchor", "metadata.txt"), encoding="utf-8").read()
for line in ("qgisMinimumVersion=3.22", "qgisMaximumVersion=4.99", "supportsQt6=True", "hasProcessingProvider=yes"):
    check(line in metadata.splitlines(), "metadata.txt lacks %s" % line)
for key in ("about", "homepage", "tracker", "repository", "changelog", "version", "author", "email"):
    check(any(l.startswith(key + "=") and len(l) > len(key) + 1 for l in metadata.splitlines()),
          "metadata.txt lacks %s" % key)

subprocess.run([crvanchor, "book", os.path.join(source, "samples", "lakes_atlas.json"), "--report",
                os.path.join(work, "book.json")], check=True, stdout=subprocess.DEVNULL)
book = json.load(open(os.path.join(work, "book.json")))
for f in ("lakes_atlas.qgz", "sheets.gpkg", "north_arrow.xpm"):
    shutil.copy(os.path.join(source, "samples", f), work)

from qgis.core import (  # noqa: E402
    Qgis,
    QgsApplication,
    QgsFeature,
    QgsFeedback,
    QgsGeometry,
    QgsLayoutExporter,
    QgsLayoutItemLabel,
    QgsLayoutItemMap,
    QgsLayoutItemShape,
    QgsLayoutObject,
    QgsProperty,
    QgsRectangle,
    QgsLayoutValidityCheckContext,
    QgsPrintLayout,
    QgsProject,
    QgsSettings,
    QgsVectorLayer,
)
from qgis.PyQt.QtCore import QCoreApplication, QObject, QRectF, QTranslator, pyqtSignal  # noqa: E402
from qgis.PyQt.QtWidgets import QMainWindow  # noqa: E402
from qgis.PyQt.QtTest import QTest  # noqa: E402

app = QgsApplication([], True, profile)
app.initQgis()
import qgis.utils  # noqa: E402

# What QGIS does after unpacking: the plugin enabled, found on the profile's path, loaded, started.
QgsSettings().setValue("PythonPlugins/crvanchor", True)
qgis.utils.plugin_paths = [plugins]
sys.path.insert(0, plugins)
qgis.utils.updateAvailablePlugins()
if not (qgis.utils.loadPlugin("crvanchor") and qgis.utils.startPlugin("crvanchor")):
    sys.exit("FAILED: the plugin from the ZIP does not start")
plugin = qgis.utils.plugins["crvanchor"]
check(not plugin.load_error, "the plugin says: %s" % plugin.load_error)
from crvanchor.checks import LAYOUT_CHECK  # noqa: E402
from crvanchor.dock import HELP_PAGE, AnchorDock, DesignerDocks  # noqa: E402
from crvanchor.session import RECORD_PREFIX  # noqa: E402

check(HELP_PAGE.startswith(plugins) and os.path.isfile(HELP_PAGE), "no help page at %s" % HELP_PAGE)


def export_places_as_book():
    """QGIS's own atlas export: each page's anchored items, as QGIS draws it, where the book puts them."""
    project = QgsProject.instance()
    check(project.read(os.path.join(work, "lakes_atlas.qgz")), "the sample project does not open")
    layout = project.layoutManager().layoutByName("Lakes Atlas")
    session = plugin.anchoring.session(layout)
    atlas = layout.atlas()
    seen = {}
    numbered = {}  # feature number -> what a label reading @crvanchor_page shows
    folio = QgsLayoutItemLabel(layout)
    folio.setText("[% @crvanchor_page %]")
    layout.addLayoutItem(folio)
    atlas.featureChanged.connect(
        lambda f: f.isValid() and seen.__setitem__(atlas.currentFeatureNumber(),
                                                   {n: session.rect_of(i) for n, i in session._items.items()}))
    atlas.featureChanged.connect(
        lambda f: f.isValid() and numbered.__setitem__(atlas.currentFeatureNumber(), folio.currentText()))
    history = layout.undoStack().stack().count()
    result, error = QgsLayoutExporter.exportToPdf(atlas, os.path.join(work, "atlas.pdf"),
                                                  QgsLayoutExporter.PdfExportSettings())
    check(result == QgsLayoutExporter.ExportResult.Success, "QGIS's export: %s %s" % (result, error))
    check(len(seen) == len(book["pages"]), "the export rendered %d pages, the book has %d" % (len(seen), len(book["pages"])))
    for index, page in enumerate(book["pages"]):
        for e in page["elements"]:
            if e.get("anchored") and index in seen:
                want = [v * MM_PER_INCH for v in e["rect"]]
                got = seen[index][e["name"]]
                check(max(abs(a - b) for a, b in zip(want, got)) <= 1e-6,
                      "page %d, %s: the book puts it at %s mm, the export at %s" % (page["page"], e["name"], want, got))
    check(not session.errors, "the export's anchoring said: %s" % session.errors)
    check(numbered == {i: str(p["page"]) for i, p in enumerate(book["pages"])},
          "a label of @crvanchor_page read %s, not the book's page numbers" % numbered)
    layout.removeLayoutItem(folio)
    return project, layout, history


def layout_checks(project, layout, history):
    """QGIS's checks before an export from the designer, with an item put off every page: named
    once with its pages; the atlas and the history as they were."""
    atlas = layout.atlas()
    # Survey Note put below the page on every page, as a distance mistyped would.
    session = plugin.anchoring.session(layout)
    session.open()
    note = layout.itemById("Survey Note")
    stored = {k: note.customProperty(k) for k in note.customProperties()}
    for key, text in plugin.anchoring.core.write_record(session.mirror.edit_record(
            "Survey Note", ["VDistanceAll=-500", "VDistanceAlt=-500"])["custom"]).items():
        note.setCustomProperty(key, text)
    atlas.beginRender()
    atlas.seekTo(4)
    history = layout.undoStack().stack().count()  # QGIS's own record of its group refits
    results = QgsApplication.validityCheckRegistry().runChecks(
        LAYOUT_CHECK, QgsLayoutValidityCheckContext(layout), QgsFeedback())
    ours = [r.detailedDescription for r in results if "Anchor" in r.title]
    check(atlas.currentFeatureNumber() == 4, "the checks left the atlas on feature %d, not 4" % atlas.currentFeatureNumber())
    check(layout.undoStack().stack().count() == history, "the checks left %d undo steps"
          % (layout.undoStack().stack().count() - history))
    check(any(d == "&quot;Survey Note&quot; off the page on pages 1-16" for d in ours),
          "the checks did not find Survey Note off every page: %s" % ours)
    check(all("\n" not in d for d in ours), "a finding of more than one line: %s" % ours)
    atlas.endRender()

    # With no page previewed: the items stay where they stood and no page is left shown. Title
    # set from data is named as left out.
    title = layout.itemById("Title")
    title.dataDefinedProperties().setProperty(QgsLayoutObject.DataDefinedProperty.PositionX, QgsProperty.fromValue(30))
    title.refresh()
    atlas.updateFeatures()  # no page shown, as in a designer whose preview was never on
    places = {i.id(): i.pos() for i in layout.items() if hasattr(i, "id") and i.id()}
    extent = QgsRectangle(layout.itemById("Main Map").extent())
    results = QgsApplication.validityCheckRegistry().runChecks(
        LAYOUT_CHECK, QgsLayoutValidityCheckContext(layout), QgsFeedback())
    ours = [r.detailedDescription for r in results if "Anchor" in r.title]
    moved = [n for n, p in places.items() if layout.itemById(n).pos() != p]
    check(not moved, "the checks without a preview left %s moved" % moved)
    check(atlas.currentFeatureNumber() == -1 and layout.itemById("Main Map").extent() == extent,
          "the checks without a preview left the atlas on feature %d, the map's extent %s (was %s)"
          % (atlas.currentFeatureNumber(), layout.itemById("Main Map").extent().toString(), extent.toString()))
    check(any(d.startswith("&quot;Title&quot; is left out of the atlas: QGIS sets its position from data "
                           "(data-defined X)") for d in ours), "Title set from data is not named: %s" % ours)
    title.dataDefinedProperties().setProperty(QgsLayoutObject.DataDefinedProperty.PositionX, QgsProperty())
    for key in note.customProperties():
        note.removeCustomProperty(key)
    for key, value in stored.items():
        note.setCustomProperty(key, value)


def dock_on_sample(project, layout):
    """The dock on the sample's Page Number: its record shown; the form still the dock's after
    QGIS's checks and a preview begun elsewhere; an edit applied as one undo step placing the
    item for the page in view, the undo giving back position and record; the same for the
    Legend group, whose box comes back with its members."""
    session = plugin.anchoring.session(layout)
    description = plugin.anchoring.core.form_description()
    dock = AnchorDock(layout, session, description)
    item = layout.itemById("Page Number")
    layout.setSelectedItem(item)
    w = dock.widgets.widgets
    check(dock.widgets.tabs.isVisible() or not dock.widgets.tabs.isHidden(), "the form is hidden for an anchored item")
    check(w["chkAnchor"].isChecked(), "the dock does not show Page Number as anchored")
    units = {u.objectName(): u.suffix() for u in dock.widgets.units}
    check(units.get("txtHDistanceAll") == " mm" and len(units) == 4, "the distances' units: %s" % units)
    check(abs(w["txtHDistanceAll"].value() - -12.7) < 1e-9, "the distance shown is %s, the record's -12.7 mm"
          % w["txtHDistanceAll"].value())
    check(not dock.apply_button.isEnabled(), "Apply is enabled before any edit")
    atlas = layout.atlas()
    # The checks and the preview describe the layout afresh: the dock's form follows.
    QgsApplication.validityCheckRegistry().runChecks(LAYOUT_CHECK, QgsLayoutValidityCheckContext(layout),
                                                     QgsFeedback())
    atlas.beginRender()
    atlas.seekTo(2)  # page 3: odd, the primary rules
    before = item.pos()
    record = {k: item.customProperty(k) for k in item.customProperties() if k.startswith(RECORD_PREFIX)}
    # Five steps of a millimetre up, as the spin box's arrows give them.
    box = w["txtHDistanceAll"]
    box.setSingleStep(1)
    for _ in range(5):
        box.stepUp()
    check(dock.apply_button.isEnabled(), "Apply is not enabled after an edit")
    stack = layout.undoStack().stack()
    steps = stack.count()
    project.setDirty(False)
    dock.apply_button.click()
    check(stack.count() == steps + 1, "Apply made %d undo steps" % (stack.count() - steps))
    check(stack.count() > steps and stack.text(steps) == "Anchor \u201cPage Number\u201d",
          "the undo step is %r" % (stack.text(steps) if stack.count() > steps else None))
    check(abs(item.pos().x() - before.x() - 5) < 1e-6, "Apply moved Page Number by %s mm, not 5"
          % (item.pos().x() - before.x()))
    check(project.isDirty(), "Apply did not mark the project modified")
    check(dock.findings.text() == "No finding of the layout checks on this page.",
          "after Apply the dock says %r" % dock.findings.text())
    stack.undo()
    check(abs(item.pos().x() - before.x()) < 1e-9, "undo left Page Number at %s" % item.pos().x())
    after = {k: item.customProperty(k) for k in item.customProperties() if k.startswith(RECORD_PREFIX)}
    check(after == record, "undo did not give back the record: %s, was %s" % (after, record))

    legend = layout.itemById("Legend")
    layout.setSelectedItem(legend)
    members = legend.items()
    was = [m.pos() for m in members]
    box = w["txtHDistanceAll"]
    box.setValue(box.value() + 20)
    dock.apply_button.click()
    check(abs(members[0].pos().x() - was[0].x() - 20) < 1e-6, "Apply did not move the Legend's members by 20 mm")
    stack.undo()
    union = None
    for m in members:
        r = m.mapRectToScene(m.rect())
        union = r if union is None else union.united(r)
    box_now = legend.mapRectToScene(legend.rect())
    check([m.pos() for m in members] == was, "undo left the Legend's members moved")
    check(max(abs(a - b) for a, b in zip((box_now.left(), box_now.top(), box_now.right(), box_now.bottom()),
                                         (union.left(), union.top(), union.right(), union.bottom()))) < 1e-6,
          "after undo the Legend's box %s is not its members' %s" % (box_now, union))
    # On an even page the Legend's alternate rule places it: an edit of its primary rule moves
    # nothing there, and the dock says which rule did.
    atlas.seekTo(3)
    layout.setSelectedItem(legend)
    was = [m.pos() for m in members]
    box = w["txtHDistanceAll"]
    box.setValue(box.value() + 20)
    dock.apply_button.click()
    check([m.pos() for m in members] == was, "an edit of the primary rule moved the Legend on an even page")
    check(dock.findings.text().startswith("On this page its alternate rule places it"),
          "on an even page the dock says %r" % dock.findings.text())
    stack.undo()
    atlas.endRender()

    # The first page number set in the dock is the layout's, saved with the project, and the
    # book's pages follow it.
    project.setDirty(False)
    dock.first_page.setValue(5)
    check(str(layout.customProperty("crvanchor/first_page")) == "5", "the first page number is not stored")
    check(project.isDirty(), "a new first page number leaves the project unmodified")
    session.open()
    check(session.mirror.pages() == (5, 20), "pages %s after first page 5, not 5 to 20" % (session.mirror.pages(),))
    # With the atlas switched off the layout is one page, numbered 1, as the map-book command
    # numbers a layout without a map series: the first page number is the atlas's.
    layout.atlas().setEnabled(False)
    session.open()
    check(session.mirror.pages() == (1, 1), "pages %s with the atlas off, not 1 to 1" % (session.mirror.pages(),))
    layout.atlas().setEnabled(True)
    layout.removeCustomProperty("crvanchor/first_page")
    # Pages per atlas feature likewise, and the page in view placed by them at once, with nothing
    # selected: with 2, the atlas's page 2 prints page 3, odd, where Page Number takes its
    # primary rules as on page 1.
    atlas = layout.atlas()
    atlas.beginRender()
    atlas.seekTo(0)
    primary = item.pos()
    atlas.seekTo(1)
    alternate = item.pos()
    check(primary != alternate, "Page Number stands alike on pages 1 and 2")
    layout.deselectAll()
    project.setDirty(False)
    dock.pages_per_feature.setValue(2)
    check(str(layout.customProperty("crvanchor/pages_per_feature")) == "2", "the pages per feature are not stored")
    check(project.isDirty(), "new pages per feature leave the project unmodified")
    check(item.pos() == primary, "with 2 pages per feature, Page Number on page 2 is at %s, not %s"
          % (item.pos(), primary))
    dock.pages_per_feature.setValue(1)
    check(item.pos() == alternate, "back to 1 page per feature, Page Number on page 2 is not where it was")
    atlas.endRender()
    layout.removeCustomProperty("crvanchor/pages_per_feature")
    dock.detach()
    dock.deleteLater()


def dock_on_new_layout():
    """On a layout of its own: nothing and two items selected say so; an item without a record
    gets one switched off; Apply places for the atlas page in view, the alternate rules on even
    pages (distances from the atlas's field on odd ones)."""
    project = QgsProject.instance()
    project.clear()
    sheets = QgsVectorLayer("Polygon?field=HD:double", "sheets", "memory")
    project.addMapLayer(sheets)
    for hd in (10.0, 20.0, 30.0):
        f = QgsFeature(sheets.fields())
        f.setAttribute(0, hd)
        f.setGeometry(QgsGeometry.fromWkt("POLYGON((0 0,1 0,1 1,0 0))"))
        sheets.dataProvider().addFeature(f)
    layout = QgsPrintLayout(project)
    layout.initializeDefaults()
    layout.setName("Book")
    project.layoutManager().addLayout(layout)
    layout = project.layoutManager().layoutByName("Book")
    frame = QgsLayoutItemMap(layout)
    frame.setId("Map")
    frame.attemptSetSceneRect(QRectF(20, 20, 100, 100))
    frame.setAtlasDriven(True)
    layout.addLayoutItem(frame)
    layout.atlas().setCoverageLayer(sheets)
    layout.atlas().setEnabled(True)
    note = QgsLayoutItemShape(layout)
    note.setId("Note")
    note.attemptSetSceneRect(QRectF(50, 150, 10, 10))
    layout.addLayoutItem(note)
    other = QgsLayoutItemShape(layout)
    other.attemptSetSceneRect(QRectF(150, 150, 10, 10))
    layout.addLayoutItem(other)
    session = plugin.anchoring.session(layout)
    dock = AnchorDock(layout, session, plugin.anchoring.core.form_description())
    layout.deselectAll()
    check("Select one item" in dock.subject.text(), "with nothing selected the dock says %r" % dock.subject.text())
    note.setSelected(True)
    other.setSelected(True)
    check("2 items are selected" in dock.subject.text(), "with two selected the dock says %r" % dock.subject.text())
    layout.setSelectedItem(other)
    check("no ID" in dock.subject.text(), "for an item without ID the dock says %r" % dock.subject.text())
    layout.setSelectedItem(note)
    check(dock.give_record.isVisible() or not dock.give_record.isHidden(), "no button gives Note a record")
    dock.give_record.click()
    w = dock.widgets.widgets
    check(any(k.startswith(RECORD_PREFIX) for k in note.customProperties()), "Note got no record")
    check(not w["chkAnchor"].isChecked(), "the new record is switched on")

    def click(control):
        w[control].click()

    def type_into(control, text):
        # Typed as a user types, in the spin box's own line.
        line = w[control].lineEdit()
        line.selectAll()
        QTest.keyClicks(line, text)

    def choose(control, entry):
        box = w[control]
        index = [box.itemText(i) for i in range(box.count())].index(entry) if hasattr(box, "itemText") else \
            [box.item(i).text() for i in range(box.count())].index(entry)
        if hasattr(box, "itemText"):
            box.setCurrentIndex(index)
            box.activated.emit(index)
        else:
            box.setCurrentRow(index)

    click("chkAnchor")
    click("OptAnchorTo_1")
    choose("lstElementNames", "Map")
    click("optMultiPage_1")
    choose("cmbAlternateType", "Even Pages")
    click("chkHDistanceFieldAll")
    choose("cmdHFieldAll", "HD")
    check(dock.apply_button.isEnabled(), "Apply is not enabled after the rules were set: %s %s"
          % (dock.findings.text(), json.dumps(dock.form.state())))
    dock.apply_button.click()
    # Atlas page 2 (even): the alternate rules, their distance typed after the user moved the
    # item, then Apply; page 3 (odd): the primary rules, placed by the atlas's step: the
    # feature's HD (30 mm) right of the map's left edge (20 mm).
    atlas = layout.atlas()
    atlas.beginRender()
    atlas.seekTo(1)
    layout.setSelectedItem(note)
    note.attemptMoveBy(90 - note.pos().x(), 0)
    type_into("txtHDistanceAlt", "7")
    dock.apply_button.click()
    for page, left in ((2, 27.0), (3, 50.0)):
        if page == 3:
            atlas.seekTo(2)
        got = note.mapRectToScene(note.rectWithFrame()).left()
        check(abs(got - left) < 1e-6, "atlas page %d: Note at %s mm, not %s" % (page, got, left))
    atlas.endRender()

    # Features added to the coverage layer between two exports: the second export anchors its
    # new pages too (page 5, odd: HD 50 right of the map's edge).
    exported = {}
    atlas.featureChanged.connect(lambda f: f.isValid() and exported.__setitem__(
        atlas.currentFeatureNumber() + 1, note.mapRectToScene(note.rectWithFrame()).left()))
    for hd in (40.0, 50.0):
        f = QgsFeature(sheets.fields())
        f.setAttribute(0, hd)
        f.setGeometry(QgsGeometry.fromWkt("POLYGON((0 0,1 0,1 1,0 0))"))
        sheets.dataProvider().addFeature(f)
    sheets.updateExtents()
    result, error = QgsLayoutExporter.exportToPdf(atlas, os.path.join(work, "book.pdf"),
                                                  QgsLayoutExporter.PdfExportSettings())
    check(result == QgsLayoutExporter.ExportResult.Success, "the export of five pages: %s" % error)
    check(sorted(exported) == [1, 2, 3, 4, 5] and abs(exported.get(5, 0) - 70.0) < 1e-6,
          "after two features were added the export placed Note at %s" % exported)
    check(not session.errors, "the anchoring said: %s" % session.errors)
    dock.detach()
    dock.deleteLater()
    project.clear()


def algorithm_outputs():
    """The Processing algorithm made as the toolbox makes it: its outputs once each, so that
    QGIS logs no duplicate."""
    said = []
    QgsApplication.messageLog().messageReceived[str, str, Qgis.MessageLevel].connect(
        lambda message, tag, level: said.append(message))
    algorithm = QgsApplication.processingRegistry().createAlgorithmById("crvanchor:exportatlas")
    check(algorithm is not None, "no algorithm crvanchor:exportatlas")
    names = [o.name() for o in algorithm.outputDefinitions()] if algorithm is not None else []
    check(len(names) == len(set(names)) and not [m for m in said if "Duplicate output" in m],
          "the algorithm's outputs %s; QGIS said %s" % (names, said))
    check({"PDF", "PNG", "REPORT", "PAGE_COUNT", "FINDING_COUNT", "ERROR_REPORT_COUNT"} <= set(names),
          "the algorithm's outputs are %s" % names)


def layout_pdf_settings():
    """Processing's PDF as the designer's last PDF export set it up for the layout."""
    from crvanchor.atlasbook import pdf_settings
    layout = QgsPrintLayout(QgsProject.instance())
    defaults = pdf_settings(layout)
    check(not defaults.forceVectorOutput and defaults.appendGeoreference and not defaults.rasterizeWholeImage,
          "a layout never exported gets other settings than QGIS's defaults")
    for key, value in (("forceVector", 1), ("pdfAppendGeoreference", 0), ("rasterize", "true"), ("pdfTextFormat", 1)):
        layout.setCustomProperty(key, value)
    given = pdf_settings(layout)
    check(given.forceVectorOutput and not given.appendGeoreference and given.rasterizeWholeImage
          and int(getattr(given.textRenderFormat, "value", given.textRenderFormat)) == 1,
          "the layout's own PDF settings are not used")


def translation():
    t = QTranslator()
    path = os.path.join(plugins, "crvanchor", "i18n", "crvanchor_de.qm")
    check(t.load(path), "the German translation does not load")
    QCoreApplication.installTranslator(t)
    for english, german in (("Apply", "Anwenden"), ("Anchor this item", "Dieses Layoutobjekt verankern")):
        said = QCoreApplication.translate("AnchorDock", english)
        check(said == german, "%r in German is %r, not %r" % (english, said, german))
    QCoreApplication.removeTranslator(t)


class Designer:
    """A layout designer as QGIS hands it to plugins: its window, its View menu (with its Panels
    submenu, as QGIS's designer has it, or without), its docks."""

    def __init__(self, layout, panels):
        self._layout, self._window = layout, QMainWindow()
        self._view = self._window.menuBar().addMenu("View")
        self.panels = self._view
        if panels:
            self.panels = self._view.addMenu("Panels")
            self.panels.setObjectName("mPanelsMenu")

    def layout(self):
        return self._layout

    def window(self):
        return self._window

    def viewMenu(self):
        return self._view

    def addDockWidget(self, area, dock):
        self._window.addDockWidget(area, dock)

    def removeDockWidget(self, dock):
        self._window.removeDockWidget(dock)


class Desktop(QObject):
    """QGIS's desktop as the plugin's designer docks meet it: designers opened and closed."""
    layoutDesignerOpened = pyqtSignal(object)
    layoutDesignerWillBeClosed = pyqtSignal(object)

    def openLayoutDesigners(self):
        return []


def dock_in_designer(layout):
    """A designer opened on an anchored layout has the Anchor dock, which the designer's menu of
    panels shows and hides (its View menu where it has none)."""
    for what, panels in (("View > Panels", True), ("View alone", False)):
        desktop, designer = Desktop(), Designer(layout, panels)
        docks = DesignerDocks(desktop, plugin.anchoring)
        desktop.layoutDesignerOpened.emit(designer)
        designer.window().show()
        dock = docks.docks.get(designer)
        entry = dock.toggleViewAction() if dock is not None else None
        if check(entry is not None and entry in designer.panels.actions(),
                 "%s: the designer's menu lists no Anchor dock" % what):
            check(dock.isVisible() and entry.isChecked(), "%s: the dock is not shown in a new designer" % what)
            entry.trigger()
            check(not dock.isVisible(), "%s: the menu's entry does not hide the dock" % what)
            entry.trigger()
            check(dock.isVisible(), "%s: the menu's entry does not show the dock again" % what)
        desktop.layoutDesignerWillBeClosed.emit(designer)
        docks.close()
        designer.window().close()


def command_from_the_zip():
    """The command inside the ZIP, as its help page says to run it, with the core the ZIP holds:
    the sample atlas placed as the book places it."""
    env = dict(os.environ, PYTHONPATH=plugins, QT_QPA_PLATFORM="offscreen")
    env.pop("CRVANCHOR_CORE_LIBRARY", None)
    report = os.path.join(work, "command.json")
    run = subprocess.run([sys.executable, "-m", "crvanchor", os.path.join(work, "lakes_atlas.qgz"), "--report", report],
                         env=env, capture_output=True, text=True, timeout=600)
    check(run.returncode == 0, "python3 -m crvanchor: status %d: %s" % (run.returncode, run.stderr[-500:]))
    check(run.stdout.startswith("Map book ") and "16 pages, 5 anchored elements" in run.stdout, run.stdout)
    if run.returncode == 0:
        with open(report, encoding="utf-8") as f:
            placed = json.load(f)
        check(placed["anchor_order"] == book["anchor_order"], "the command's order %s" % placed["anchor_order"])
        check(len(placed["pages"]) == 16 and placed["error_reports"] == 0, "the command's report")


command_from_the_zip()
project, layout, history = export_places_as_book()
layout_checks(project, layout, history)
dock_on_sample(project, layout)
dock_in_designer(layout)
project.clear()
dock_on_new_layout()
algorithm_outputs()
layout_pdf_settings()
translation()
qgis.utils.unloadPlugin("crvanchor")
for f in failures:
    print("FAILED:", f)
app.exitQgis()
sys.exit(1 if failures else 0)
