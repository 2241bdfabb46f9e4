#!/usr/bin/env python3
"""crvanchor-qgis as a user runs it: its own process, in a folder of its own, on projects
written to disk by QGIS itself. Whatever the command is written in, these are its subcommands,
messages, exit statuses and outputs.

    command_test.py CRVANCHOR_QGIS SOURCE_DIR WORK_DIR [unittest options such as -k PATTERN]

WORK_DIR is emptied first. The command is given this environment (CRVANCHOR_REGISTRY,
CRVANCHOR_CORE_LIBRARY) as it is.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

from qgis.core import (QgsApplication, QgsLayoutItemLabel, QgsLayoutItemMap, QgsLayoutItemPage,  # noqa: E402
                       QgsLayoutItemPicture, QgsLayoutObject, QgsLayoutPoint, QgsLayoutSize, QgsPrintLayout,
                       QgsProject, QgsProperty, QgsRectangle, QgsSingleSymbolRenderer, QgsUnitTypes,
                       QgsVectorLayer)
from qgis.PyQt.QtGui import QColor, QImage, qGray  # noqa: E402

COMMAND = WORK = None
Core = LayoutSession = None  # the plugin's, imported once its folder is known
INCHES = QgsUnitTypes.LayoutUnit.LayoutInches
PAGE_WIDTH, PAGE_HEIGHT = 8.5, 11
PREFIX = "crvanchor-qgis: "
RECORD = "crvanchor/CorvaneProperties/AnchorProperties/"
TIMEOUT = 600

# ----------------------------------------------------------------------------- running it


class Run:
    def __init__(self, status, out, err):
        self.status, self.out, self.err = status, out, err

    @property
    def own(self):
        """The command's own lines of its standard error: QGIS and PROJ write theirs there too."""
        return "".join(line + "\n" for line in self.err.split("\n") if line.startswith(PREFIX))

    def __repr__(self):
        return "status %s, stdout %r, stderr %r" % (self.status, self.out, self.err)


def command(folder, *args):
    """The command run in `folder`, so that relative paths are the user's. Arguments are str,
    or bytes for a name that is no UTF-8. One that hangs is stopped, and fails its case."""
    env = dict(os.environ)
    # Under the leak checker standard error would end with the suppressions used.
    env["LSAN_OPTIONS"] = env.get("LSAN_OPTIONS", "") + ":print_suppressions=0"
    try:
        done = subprocess.run([COMMAND, *args], cwd=folder, env=env, capture_output=True, timeout=TIMEOUT)
        status, out, err = done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired as e:
        status, out, err = "timed out", e.stdout or b"", e.stderr or b""
    text = lambda b: b.decode("utf-8", "surrogateescape")  # noqa: E731
    return Run(status, text(out), text(err))


def quoted(text):
    """A value as the command's messages quote it: in double quotes, cut after 60 characters
    with "..." and its whole length in bytes (the paths quoted here need no escapes)."""
    if len(text) <= 60:
        return '"%s"' % text
    return '"%s"... (%d bytes)' % (text[:60], len(text.encode()))


def anchor_title_to_map(folder, project, map_point):
    """Gives the title a record: its top left corner to the map's point `map_point`, moved right
    by the coverage field HD."""
    return command(folder, "anchor", project, "--layout", "Atlas", "Title", "AnchorElement=true",
                   "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Top Left",
                   "AnchorToAll=" + map_point, "HFromFieldAll=true", "HFieldNameAll=HD")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def files_in(folder):
    return sorted(os.listdir(folder))


# ----------------------------------------------------------------------------- projects

SHEETS = ('{"type":"FeatureCollection","features":['
          '{"type":"Feature","properties":{"HD":0.25},"geometry":{"type":"Polygon",'
          '"coordinates":[[[0,0],[1,0],[1,1],[0,0]]]}},'
          '{"type":"Feature","properties":{"HD":0.5},"geometry":{"type":"Polygon",'
          '"coordinates":[[[1,0],[2,0],[2,1],[1,0]]]}},'
          '{"type":"Feature","properties":{"HD":0.75},"geometry":{"type":"Polygon",'
          '"coordinates":[[[2,0],[3,0],[3,1],[2,0]]]}}]}')


def add_item(layout, kind, name, rect, page=0):
    """A label or an atlas-driven map frame named `name` at `rect` (xmin, ymin, xmax, ymax in
    inches, y up from the bottom of its page) on the layout page `page` (from 0)."""
    xmin, ymin, xmax, ymax = rect
    if kind == "map":
        item = QgsLayoutItemMap(layout)
        item.setAtlasDriven(True)
    else:
        item = QgsLayoutItemLabel(layout)
    layout.addLayoutItem(item)
    item.setId(name)
    # Sized before it is moved: a map frame scales its extent to its shape at every change, and
    # an extent scaled to the 0 by 0 of a new item is not a number.
    item.attemptResize(QgsLayoutSize(xmax - xmin, ymax - ymin, INCHES))
    page_height = layout.pageCollection().page(page).rect().height()
    item.attemptMove(QgsLayoutPoint(xmin, page_height - ymax, INCHES), True, False, page)
    # After the size: a map's first extent would otherwise set its height from its own shape.
    if kind == "map":
        item.zoomToExtent(QgsRectangle(0, 0, 1000, 1000))
    return item


def add_page(layout, height):
    page = QgsLayoutItemPage(layout)
    page.setPageSize(QgsLayoutSize(PAGE_WIDTH, height, INCHES))
    layout.pageCollection().addPage(page)


def add_print_layout(project, name):
    other = QgsPrintLayout(project)
    other.initializeDefaults()
    other.setName(name)
    project.layoutManager().addLayout(other)


def write_project(folder, change=None, name="book.qgz"):
    """A project whose coverage layer is a GeoJSON file beside it, with an atlas of three pages:
    one page of 8.5 by 11 inches, the map frame "Map" at (1, 2, 7.5, 9) and the label "Title" at
    (3, 3, 5, 3.5). `change(project, layout)` alters it before it is written."""
    os.makedirs(folder, exist_ok=True)
    sheets = os.path.join(folder, "sheets.geojson")
    write_bytes(sheets, SHEETS.encode())
    project = QgsProject()
    layer = QgsVectorLayer(sheets, "sheets", "ogr")
    # QGIS gives a new layer a random colour, now and then close to the outlines' magenta: grey.
    if isinstance(layer.renderer(), QgsSingleSymbolRenderer):
        layer.renderer().symbol().setColor(QColor(200, 200, 200))
    project.addMapLayer(layer)
    layout = QgsPrintLayout(project)
    layout.setName("Atlas")
    layout.setUnits(INCHES)
    add_page(layout, PAGE_HEIGHT)
    project.layoutManager().addLayout(layout)
    add_item(layout, "map", "Map", (1, 2, 7.5, 9))
    add_item(layout, "label", "Title", (3, 3, 5, 3.5))
    layout.atlas().setCoverageLayer(layer)
    layout.atlas().setEnabled(True)
    if change:
        change(project, layout)
    path = os.path.join(folder, name)
    if not project.write(path):
        raise RuntimeError("QGIS could not write " + path)
    return path


def with_second_page(project, layout):
    """A second page, 14 inches tall, with the label "Low" where the first page's Title stands."""
    add_page(layout, 14)
    add_item(layout, "label", "Low", (3, 3, 5, 3.5), page=1)


def read_layout(path):
    project = QgsProject()
    if not project.read(path):
        raise AssertionError("QGIS cannot read " + path)
    # The layout lives as long as the project: keep both.
    return project, project.layoutManager().printLayouts()[0]


# ----------------------------------------------------------------------------- outputs


def magenta_pixels(path, x0=0, x1=1 << 20, y0=0, y1=1 << 20):
    """Magenta pixels of a page picture in the rows y0..y1 and columns x0..x1."""
    image = QImage(path)
    n = 0
    for y in range(max(0, y0), min(image.height(), y1 + 1)):
        for x in range(max(0, x0), min(image.width(), x1 + 1)):
            # Thin lines blend with the page: magenta is red and blue well above green.
            c = QColor(image.pixel(x, y))
            if c.red() > 150 and c.blue() > 150 and c.green() + 60 < min(c.red(), c.blue()):
                n += 1
    return n


def image_size(path):
    image = QImage(path)
    return (image.width(), image.height()) if not image.isNull() else None


def pdf_defect(data):
    """What is wrong with a PDF, or None when it is whole: its end of file mark, its last
    cross-reference offset, and every object its table lists where the table says."""
    if not data.startswith(b"%PDF-"):
        return "no PDF header"
    if not data.rstrip(b" \r\n\t\f\0").endswith(b"%%EOF"):
        return "no end of file mark"
    found = re.search(rb"startxref\s+(\d+)\s+%%EOF\s*$", data)
    if not found or int(found.group(1)) >= len(data):
        return "no cross-reference offset inside the file"
    at = int(found.group(1))
    if not data.startswith(b"xref", at):
        return None if re.match(rb"\d+\s+\d+\s+obj", data[at:at + 40]) else "the offset points at nothing"
    trailer = data.find(b"trailer", at)
    if trailer < 0:
        return "no trailer"
    words = data[at + 4:trailer].split()
    i = 0
    while i < len(words):
        first, count = int(words[i]), int(words[i + 1])
        entries = words[i + 2:i + 2 + 3 * count]
        if len(entries) != 3 * count:
            return "the cross-reference table is cut short"
        for k in range(count):
            offset, kind = int(entries[3 * k]), entries[3 * k + 2]
            if kind == b"n" and not re.match(rb"%d\s+\d+\s+obj" % (first + k), data[offset:offset + 40]):
                return "object %d is missing" % (first + k)
        i += 2 + 3 * count
    return None


def canonical(element):
    """An XML element as text with its attributes in order of name (QGIS writes them in an
    order of its own from run to run) and without the blanks between elements."""
    def solid(text):
        return text if text and text.strip() else ""

    text = "<%s %s>" % (element.tag, " ".join("%s=%s" % a for a in sorted(element.attrib.items())))
    text += solid(element.text)
    for child in element:
        text += canonical(child) + solid(child.tail)
    return text + "</%s>" % element.tag


def layout_text(path):
    """The print layout of a project written as .qgs and its map frame's extent, as text."""
    layout = ElementTree.parse(path).getroot().find(".//Layout")
    return canonical(layout), canonical(layout.find(".//Extent"))


# ----------------------------------------------------------------------------- cases


class CommandCase(unittest.TestCase):
    """Each case in a folder of its own under the work folder."""

    def setUp(self):
        self.dir = os.path.join(WORK, self._testMethodName[len("test_"):])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def assertRun(self, run, status, err=None, own=None, msg=""):
        """The run's status and, when given, its whole standard error or its own lines."""
        self.assertEqual(run.status, status, "%s: %r" % (msg, run))
        if err is not None:
            self.assertEqual(run.err, err, msg)
        if own is not None:
            self.assertEqual(run.own, own, msg)


class RefusesBadInput(CommandCase):
    """Bad arguments are refused with status 2 and one line, the whole of standard error, before
    anything is written."""

    def test_refuses_bad_input_in_one_line_with_status_two(self):
        project = write_project(self.dir)
        geojson = self.path("sheets.geojson")
        missing = self.path("missing.qgz")
        keys = ("AnchorElement, AnchorType, ElementName, UseAltAnchoring, AltAnchorType, AltAnchorPageRange, "
                "AnchorFromAll, AnchorToAll, HDistanceAll, HFromFieldAll, HFieldNameAll, VDistanceAll, "
                "VFromFieldAll, VFieldNameAll, AnchorFromAlt, AnchorToAlt, HDistanceAlt, HFromFieldAlt, "
                "HFieldNameAlt, VDistanceAlt, VFromFieldAlt, VFieldNameAlt, AnchorPriority, CanAnchor, Version")
        atlas = [project, "--layout", "Atlas"]
        cases = [
            ([project, "--layout", "Nope"],
             '--layout "Nope": no print layout of that name in %s (it has "Atlas")' % project),
            (atlas + ["--pages", "4"], "--pages: 4 is not in the map book (pages 1 to 3)"),
            (atlas + ["--pages", "3-1"], "--pages: the range 3-1 runs backwards"),
            # An empty variable in a script names no page; it is not every page.
            (atlas + ["--pages", ""], '--pages: expected a page or a range such as 3-5, found ""'),
            (atlas + ["--pages", "x"], '--pages: expected a page or a range such as 3-5, found "x"'),
            (atlas + ["--dpi", "5"], '--dpi: expected a number from 10 to 1200, found "5"'),
            (atlas + ["--outline"], "book: --outline draws on the PNG pages; add --png DIR"),
            (atlas + ["--png", "out", "--pdf", "out/page-002.png"],
             '--png "out": its page picture page-002.png would replace the --pdf file; nothing was written'),
            ([missing, "--layout", "Atlas"], "%s: no such project file" % missing),
            (atlas + ["--pdf", project],
             "--pdf %s: that is the project being read; nothing was written" % quoted(project)),
            (atlas + ["--report", project],
             "--report %s: that is the project being read; nothing was written" % quoted(project)),
            (atlas + ["--pdf", geojson],
             '--pdf %s: that is the data of the layer "sheets"; nothing was written' % quoted(geojson)),
            (atlas + ["--save", geojson],
             '--save %s: that is the data of the layer "sheets"; nothing was written' % quoted(geojson)),
            (["anchor"] + atlas + ["Title", "Colour=red"],
             'anchor: "Colour" is not a key of the anchor record (its keys: %s)' % keys),
            (["anchor"] + atlas + ["Title", "HFromFieldAll=true", "HFieldNameAll=HDX"],
             # The feature id is a field the rules can read too (OBJECTID when the layer names none).
             'HFieldNameAll="HDX": the atlas\'s coverage layer "sheets" has no field of that name (it has "OBJECTID", '
             '"HD"), nor is it "<None>"'),
            (["anchor"] + atlas + ["Nobody", "AnchorElement=true"],
             'anchor: no item named "Nobody" in the layout "Atlas"'),
        ]
        for args, err in cases:
            with self.subTest(args=" ".join(args)):
                # The whole of standard error: the one line and nothing else.
                self.assertRun(command(self.dir, *args), 2, err=PREFIX + err + "\n")
        self.assertTrue(read_bytes(geojson).startswith(b'{"type":"FeatureCollection"'),
                        "the layer's data was overwritten")
        self.assertEqual(files_in(self.dir), ["book.qgz", "sheets.geojson"])


def add_deep_property(project, layout):
    layout.itemById("Title").setCustomProperty("crvanchor" + "/a" * 100000, "int16:1")


def delete_the_page(project, layout):
    layout.pageCollection().deletePage(0)


def add_other_layout(project, layout):
    add_print_layout(project, "Other")


def rename_other_to_atlas(folder):
    # QGIS itself never makes two of one name, but a project edited by hand can have them.
    path = os.path.join(folder, "book.qgs")
    write_bytes(path, read_bytes(path).replace(b'name="Other"', b'name="Atlas"', 1))


def fifo_for_sheets(folder):
    os.remove(os.path.join(folder, "sheets.geojson"))
    os.mkfifo(os.path.join(folder, "sheets.geojson"), 0o600)


def remove_sheets(folder):
    os.remove(os.path.join(folder, "sheets.geojson"))


def add_roads(project, layout):
    folder = os.path.dirname(layout.atlas().coverageLayer().source())
    roads = os.path.join(folder, "roads.geojson")
    write_bytes(roads, SHEETS.encode())
    project.addMapLayer(QgsVectorLayer(roads, "roads", "ogr"))


def remove_roads(folder):
    os.remove(os.path.join(folder, "roads.geojson"))


def add_missing_picture(project, layout):
    picture = QgsLayoutItemPicture(layout)
    layout.addLayoutItem(picture)
    picture.setId("Arrow")
    picture.setPicturePath("/nowhere/arrow.svg")


def take_png_name(folder):
    write_bytes(os.path.join(folder, "taken"), b"x")


class RefusesWhatItCannotUse(CommandCase):
    """Projects, layers and outputs the command cannot use as asked are refused in one line with
    status 2 before anything is written, where they used to crash it, hang it, or write something
    else than was asked."""

    def test_refuses_what_it_cannot_read_or_write_faithfully(self):
        bakes = ["bake", "unbake"]
        # name, change before the project is written, change after, options, a part of the one
        # line (or its maker, given the folder), project file, the other commands that refuse it
        # with the same line.
        cases = [
            ("deep", add_deep_property, None, [], 'the item "Title": the custom property', "book.qgz", bakes),
            ("nopage", delete_the_page, None, [], '--layout "Atlas": the layout has no page\n', "book.qgz", bakes),
            ("twice", add_other_layout, rename_other_to_atlas, [],
             "has 2 print layouts of that name; rename all but one in QGIS\n", "book.qgs", bakes),
            ("fifo", None, fifo_for_sheets, [],
             lambda folder: "%s, which is not a regular file\n" % quoted(os.path.join(folder, "sheets.geojson")),
             "book.qgz", bakes),
            ("gone", None, remove_sheets, [], 'the atlas\'s coverage layer "sheets" cannot be read from', "book.qgz",
             ["bake"]),
            ("pngfile", None, take_png_name, ["--pdf", "book.pdf", "--png", "taken"],
             '--png "taken": not a folder; nothing was written\n', "book.qgz", []),
            ("utf8", None, None, ["--pdf", b"caf\xe9.pdf"], "QGIS writes a PDF to only a path that is UTF-8 text\n",
             "book.qgz", []),
            ("layer", add_roads, remove_roads, ["--pdf", "book.pdf"], 'the layer "roads" cannot be read from',
             "book.qgz", []),
            # And none of QGIS's own warnings about it is hidden.
            ("picture", add_missing_picture, None, ["--pdf", "book.pdf"],
             'the picture "Arrow" cannot find "/nowhere/arrow.svg" on page 1; the export was stopped', "book.qgz",
             []),
        ]
        for name, change, after, options, err, file, also in cases:
            with self.subTest(name):
                folder = self.path(name)
                project = write_project(folder, change, file)
                if after:
                    after(folder)
                run = command(folder, "--layout", "Atlas", project, *options)
                if callable(err):
                    err = err(folder)
                self.assertRun(run, 2)
                self.assertIn(err, run.own)
                self.assertEqual(run.own.count("\n"), 1, run.own)
                self.assertFalse([f for f in files_in(folder) if f.endswith(".pdf")], "a PDF was written")
                before = read_bytes(project)
                for other in also:
                    self.assertRun(command(folder, other, "--layout", "Atlas", project), 2, own=run.own, msg=other)
                    self.assertEqual(read_bytes(project), before, other + " wrote the project")

    def test_calls_what_is_not_a_project_file_what_it_is(self):
        os.mkfifo(self.path("pipe.qgz"), 0o600)
        for path, err in [(self.dir, "a folder, not a project file"),
                          (self.path("pipe.qgz"), "not a regular file (a device or a pipe)"),
                          (os.fsencode(self.dir) + b"/caf\xe9.qgz", "QGIS reads only a path that is UTF-8")]:
            with self.subTest(err):
                run = command(self.dir, path, "--layout", "Atlas")
                self.assertRun(run, 2)
                self.assertIn(err, run.own)


class FindsQgisOwnData(CommandCase):
    """QGIS's own data is found where QGIS is installed: a layer on its bundled data is read and
    a picture of its SVG library drawn; a picture that is missing all the same is drawn without
    when the user allows it."""

    def test_finds_qgis_own_data_and_allows_what_is_missing_only_when_asked(self):
        def change(project, layout):
            project.addMapLayer(QgsVectorLayer("inbuilt:/data/world_map.gpkg|layername=countries", "countries",
                                               "ogr"))
            picture = QgsLayoutItemPicture(layout)
            layout.addLayoutItem(picture)
            picture.setId("Arrow")
            picture.setPicturePath("arrows/NorthArrow_02.svg")
            picture.attemptMove(QgsLayoutPoint(0, 0, INCHES))
            picture.attemptResize(QgsLayoutSize(1, 1, INCHES))

        project = write_project(self.dir, change, "book.qgs")
        # As QGIS writes them: the layer and the picture by their names inside QGIS's folder.
        text = read_bytes(project)
        self.assertIn(b"inbuilt:/data/world_map.gpkg", text)
        self.assertIn(b'file="arrows/NorthArrow_02.svg"', text)
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pages", "1", "--png", "png"), 0)
        page = QImage(self.path("png", "page-001.png"))
        self.assertFalse(page.isNull())
        # In the picture's inch.
        dark = sum(1 for y in range(page.height() // 11) for x in range(page.width() * 2 // 17)
                   if qGray(page.pixel(x, y)) < 128)
        self.assertGreater(dark, 50, "the north arrow is drawn")

        write_bytes(project, text.replace(b"arrows/NorthArrow_02.svg", b"arrows/NoSuchArrow.svg", 1))
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pages", "1", "--png", "png",
                               "--allow-missing"), 0)


class NamesItemsThatShareAnId(CommandCase):
    """Items sharing an id are named once on standard error, by every command that reads the
    layout; an anchor to that id takes one."""

    def test_names_items_that_share_an_id(self):
        project = write_project(self.dir, lambda p, layout: add_item(layout, "label", "Title", (1, 1, 2, 2)))
        for subcommand in ("show", "bake", "unbake"):
            with self.subTest(subcommand):
                self.assertRun(command(self.dir, subcommand, project, "--layout", "Atlas"), 0,
                               own=PREFIX + '2 items of the layout "Atlas" are named "Title"; an anchor to that '
                               "name takes only one of them\n")


    def test_anchor_edits_the_item_the_core_finds_by_that_name(self):
        """anchor on a shared id changes the first item's record, the one an anchor to that id
        takes, and leaves the other's as it was."""
        def second_title(project, layout):
            add_item(layout, "label", "Title", (1, 1, 2, 2))
        project = write_project(self.dir, second_title)
        self.assertRun(command(self.dir, "anchor", project, "Title", "AnchorElement=true", "HDistanceAll=7"), 0)
        _project, layout = read_layout(project)
        # In drawing order: the first is the one made first, the one the core finds.
        titles = sorted((i for i in layout.items() if isinstance(i, QgsLayoutItemLabel) and i.id() == "Title"),
                        key=lambda i: i.zValue())
        records = [sorted(k for k in t.customProperties() if k.startswith("crvanchor")) for t in titles]
        self.assertEqual(len(titles), 2)
        self.assertEqual([bool(r) for r in records], [True, False], records)


class WritesFilesAsTheUserHadThem(CommandCase):
    """What the command writes keeps the mode the former file had (a project shared read-only by
    the group stays so), and what it cannot write is one line naming the user's own path, with no
    temporary file left behind."""

    def test_keeps_the_mode_and_names_what_it_cannot_write(self):
        project = write_project(self.dir)
        self.assertRun(command(self.dir, project, "--pages", "1", "--pdf", "book.pdf"), 0)
        for path in (project, self.path("book.pdf")):
            os.chmod(path, 0o640)
        runs = [["anchor", project, "Title", "AnchorElement=true"], ["bake", project],
                [project, "--pages", "1", "--pdf", "book.pdf", "--save", project]]
        for args in runs:
            with self.subTest(" ".join(args[:2])):
                self.assertRun(command(self.dir, *args), 0)
                for path in (project, self.path("book.pdf")):
                    self.assertEqual(os.stat(path).st_mode & 0o777, 0o640, path)
        # A page picture's name taken by a folder: refused in one line, nothing left beside it.
        os.makedirs(self.path("png", "page-001.png"))
        run = command(self.dir, project, "--pages", "1", "--png", "png")
        self.assertRun(run, 2)
        self.assertRegex(run.own, r"^crvanchor-qgis: png/page-001\.png: cannot write: .*; the former file is left as "
                                  r"it was\n$")
        self.assertEqual(os.listdir(self.path("png")), ["page-001.png"])


class ChangesAProjectOneRunAtATime(CommandCase):
    """Two changes to one project at the same time both stay: each run holds the project from
    its read to its save. A project with a second name is not parted from it by a save."""

    def test_keeps_both_of_two_changes_made_at_once(self):
        project = write_project(self.dir)
        for folder in ("a", "b"):
            os.makedirs(self.path(folder))
        for h, v in (("1", "3"), ("2", "4")):
            runs = {}

            def anchor(folder, item, setting):
                runs[folder] = command(self.path(folder), "anchor", project, "--layout", "Atlas", item, setting)

            threads = [threading.Thread(target=anchor, args=("a", "Title", "HDistanceAll=" + h)),
                       threading.Thread(target=anchor, args=("b", "Map", "VDistanceAll=" + v))]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            self.assertRun(runs["a"], 0)
            self.assertRun(runs["b"], 0)
            saved, layout = read_layout(project)
            self.assertEqual(layout.itemById("Title").customProperty(RECORD + "HDistanceAll"), "double:" + h)
            self.assertEqual(layout.itemById("Map").customProperty(RECORD + "VDistanceAll"), "double:" + v)

    def test_refuses_to_part_a_project_from_its_other_name(self):
        project = write_project(self.dir)
        os.link(project, self.path("second-name.qgz"))
        before = read_bytes(project)
        run = command(self.dir, "anchor", project, "--layout", "Atlas", "Title", "HDistanceAll=9")
        self.assertRun(run, 2)
        self.assertIn("one of 2 hard links", run.own)
        self.assertEqual(read_bytes(project), before)
        self.assertEqual(read_bytes(self.path("second-name.qgz")), before)
        # Saved at the end of a book, it is refused before any page is written.
        run = command(self.dir, project, "--layout", "Atlas", "--pdf", "book.pdf", "--report", "book.json",
                      "--save", project)
        self.assertRun(run, 2)
        self.assertIn("one of 2 hard links", run.own)
        self.assertEqual(files_in(self.dir), ["book.qgz", "second-name.qgz", "sheets.geojson"])


class AFullDiskLeavesTheFormerPdf(CommandCase):
    """QGIS's PDF writer reports success on a full disk; the PDF is read back, so the former
    file stays and the run fails, where it used to be replaced by a damaged one with status 0."""

    def test_a_full_disk_leaves_the_former_pdf(self):
        project = write_project(self.dir)
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pdf", "first.pdf"), 0)
        former = read_bytes(self.path("first.pdf"))
        small = self.path("small")
        os.makedirs(small)
        try:
            mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (len(former) + 65536), "tmpfs",
                                      small], capture_output=True).returncode == 0
        except OSError:
            mounted = False
        if not mounted:
            self.skipTest("a full disk needs a small file system (mounting one needs root)")
        self.addCleanup(subprocess.run, ["umount", small], capture_output=True)
        write_bytes(os.path.join(small, "book.pdf"), former)
        info = os.statvfs(small)
        try:
            write_bytes(os.path.join(small, "filler"), b"x" * (info.f_bavail * info.f_frsize))
        except OSError:
            pass  # full already: what was asked for
        run = command(self.dir, project, "--layout", "Atlas", "--pdf", "small/book.pdf")
        self.assertRun(run, 2)
        self.assertIn("the PDF written is not whole", run.own)
        self.assertTrue(read_bytes(os.path.join(small, "book.pdf")) == former, "the former PDF was replaced")
        self.assertEqual(files_in(small), ["book.pdf", "filler"])


class ChecksEachItemOnItsOwnPage(CommandCase):
    """On a layout of two pages, each item is checked on its own page: one low on a taller
    second page is on it, and two at the same place of different pages do not overlap."""

    def test_checks_each_item_on_the_layout_page_it_stands_on(self):
        project = write_project(self.dir, with_second_page)

        def anchor(item, v):
            return command(self.dir, "anchor", project, "--layout", "Atlas", item, "AnchorElement=true",
                           "AnchorFromAll=Bottom Left", "AnchorToAll=Bottom Left", "HDistanceAll=3",
                           "VDistanceAll=" + v)

        self.assertRun(anchor("Title", "10"), 0)
        # Low's distance up its page, the status and the command's own lines.
        cases = [
            ("10", 0, ""),  # at the same place as the title, on another page
            ("12", 0, ""),  # past the first page's height, on the second page
            ("13.8", 1, PREFIX + '"Low" off the page on page 1\n'),  # past the top of its page
        ]
        for v, status, own in cases:
            with self.subTest(v):
                self.assertRun(anchor("Low", v), 0)
                self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pages", "1", "--check-overlap",
                                       "--strict"), status, own=own)


class AnchorsAnItemAndRunsTheAtlas(CommandCase):
    """An item given a record from the command line is placed on every page, and the report
    says where."""

    def test_anchors_an_item_and_runs_the_atlas(self):
        project = write_project(self.dir)
        self.assertRun(anchor_title_to_map(self.dir, project, "Top Left"), 0)
        # Every output into a folder not made yet: each folder is made, as the PNG folder is.
        report = self.path("out", "reports", "report.json")
        book_pdf = self.path("out", "pdf", "book.pdf")
        saved = self.path("saved.qgz")
        run = command(self.dir, project, "--layout", "Atlas", "--pages", "2-3", "--report", report, "--pdf", book_pdf,
                      "--png", self.path("png"), "--save", saved, "--dpi", "50", "--timing")
        self.assertRun(run, 0)
        # Each page is anchored once, whatever outputs are drawn from it.
        self.assertIn("(2 placements, ", run.out)
        self.assertEqual(files_in(self.path("png")), ["page-002.png", "page-003.png"])
        self.assertEqual(image_size(self.path("png", "page-002.png")), (425, 550))

        # The anchoring drawn over the page only when asked: the title's rectangle and its arrow.
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pages", "2", "--png", self.path("outlined"),
                               "--dpi", "50", "--outline"), 0)
        self.assertEqual(magenta_pixels(self.path("png", "page-002.png")), 0)
        outlined = self.path("outlined", "page-002.png")
        self.assertGreater(magenta_pixels(outlined), 100)
        # The title, 2 x 0.5 inches, stands at (1.5, 9) on page 2: at 50 dpi its box's top edge
        # runs along row 100 and its bottom edge along row 125, from column 75 to 175.
        self.assertGreater(magenta_pixels(outlined, 90, 160, 99, 101), 50)
        self.assertGreater(magenta_pixels(outlined, 90, 160, 124, 126), 50)
        self.assertEqual(magenta_pixels(outlined, 90, 160, 110, 115), 0)

        # Page 2: the map's top left corner (1, 9) moved right by the field's 0.5; page 3 by 0.75.
        with open(report, encoding="utf-8") as f:
            book = json.load(f)
        self.assertEqual(book["error_reports"], 0)
        titles = {p["page"]: [e["rect"] for e in p["elements"] if e["name"] == "Title"] for p in book["pages"]}
        self.assertEqual(titles, {2: [[1.5, 8.5, 3.5, 9.0]], 3: [[1.75, 8.5, 3.75, 9.0]]})

        # The PDF reads back whole; the check that says so finds a PDF cut short anywhere.
        pdf = read_bytes(book_pdf)
        self.assertIsNone(pdf_defect(pdf))
        self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", pdf)), 2)
        for part in (0.0, 0.03, 0.5, 0.9, 0.999):
            self.assertIsNotNone(pdf_defect(pdf[:int(len(pdf) * part)]), part)

        # The saved project holds the item where the last page left it, and its record.
        saved_project, layout = read_layout(saved)
        title = layout.itemById("Title")
        self.assertAlmostEqual(title.pos().x(), 1.75, places=9)
        self.assertEqual(title.customProperty(RECORD + "HFieldNameAll"), "string:HD")
        # The project inside the archive is named after the file, as QGIS names it itself.
        with zipfile.ZipFile(saved) as archive:
            self.assertIn("saved.qgs", archive.namelist())
        self.assertFalse([f for f in os.listdir(self.dir) if "crvanchor-save" in f])


class ChecksPagesAndMarksCycles(CommandCase):
    """The layout checks and the cycle marks work on a QGIS atlas as on the standalone book: an
    item pushed off the page is named once with its pages, --strict makes that exit 1, and items
    anchored to each other are shown as a cycle and left where they stand."""

    def test_checks_pages_and_marks_cycles(self):
        project = write_project(self.dir)
        # The title's left edge goes to the map's right edge (7.5) plus the field: 2 wide, it
        # ends past the 8.5 page on every page.
        self.assertRun(anchor_title_to_map(self.dir, project, "Top Right"), 0)
        cases = [
            (["--pages", "2-3"], 0, '"Title" off the page on pages 2-3'),
            (["--pages", "1,3", "--strict"], 1, '"Title" off the page on pages 1, 3'),
            (["--pages", "2", "--check-overlap", "--strict"], 1, '"Title" off the page on page 2'),
        ]
        for options, status, own in cases:
            with self.subTest(" ".join(options)):
                self.assertRun(command(self.dir, project, "--layout", "Atlas", *options), status,
                               own=PREFIX + own + "\n")

        # The map anchored back to the title: neither can be placed first.
        cycle = '"Map" is in a cycle of anchors: "Map" → "Title" → "Map"; the %s leaves it where it stands\n'
        self.assertRun(command(self.dir, "anchor", project, "--layout", "Atlas", "Map", "AnchorElement=true",
                               "AnchorType=NamedElement", "ElementName=Title"), 0, own=PREFIX + cycle % "book")
        run = command(self.dir, "show", project, "--layout", "Atlas")
        self.assertRun(run, 0)
        self.assertIn(cycle % "atlas", run.out)
        run = command(self.dir, project, "--layout", "Atlas", "--pages", "1")
        self.assertRun(run, 0)
        self.assertIn('"Title" is left out of the book: it is in the same cycle of anchors as "Map"', run.err)


class LeavesOutItemsQgisPlacesFromData(CommandCase):
    """QGIS puts an item with a data-defined position back after every move: such an item, or a
    group with one inside, is left out of the book and named once, and every page of the report
    lists it among its checks (--strict fails on it), where the book used to report it placed. A
    data-defined size is applied before the item is measured, so that item is placed."""

    def test_leaves_out_items_qgis_places_from_data(self):
        def change(project, layout):
            by_page = QgsProperty.fromExpression("1 + @atlas_featurenumber")
            properties = layout.itemById("Title").dataDefinedProperties()
            properties.setProperty(QgsLayoutObject.DataDefinedProperty.PositionX, by_page)
            key = add_item(layout, "label", "Key", (1, 1, 2, 1.5))
            key.dataDefinedProperties().setProperty(QgsLayoutObject.DataDefinedProperty.PositionY,
                                                    QgsProperty.fromValue(2))
            swatch = add_item(layout, "label", "Swatch", (1, 2, 1.5, 2.5))
            layout.groupItems([key, swatch]).setId("Legend")
            scale = add_item(layout, "label", "Scale", (4, 1, 6, 1.5))
            scale.dataDefinedProperties().setProperty(QgsLayoutObject.DataDefinedProperty.ItemWidth, by_page)

        project = write_project(self.dir, change)
        for item in ("Title", "Legend", "Scale"):
            self.assertRun(command(self.dir, "anchor", project, "--layout", "Atlas", item, "AnchorElement=true",
                                   "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right", "HDistanceAll=-0.5",
                                   "VDistanceAll=0.5"), 0, msg=item)
        report = self.path("report.json")
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--strict", "--report", report), 1,
                       own=PREFIX + '"Title" is left out of the book: QGIS sets its position from data '
                       "(data-defined X), so a move would not hold\n" + PREFIX + '"Legend" is left out of the book: '
                       'QGIS sets the position of its member "Key" from data (data-defined Y), so a move would not '
                       "hold\n")
        with open(report, encoding="utf-8") as f:
            book = json.load(f)
        # Every page lists both; the report names no other finding.
        self.assertEqual([page["page"] for page in book["pages"]], [1, 2, 3])
        for page in book["pages"]:
            self.assertEqual(sorted((c["kind"], c["element"]) for c in page["checks"]),
                             [("data_defined", "Legend"), ("data_defined", "Title")], page)
        self.assertEqual(book["anchor_order"], ["Scale"])
        # The item of a data-defined width: the page number plus one wide, its right edge where
        # the record puts it.
        scales = [e["rect"] for p in book["pages"] for e in p["elements"] if e["name"] == "Scale"]
        self.assertEqual(scales, [[6.0, 0.5, 8.0, 1.0], [5.0, 0.5, 8.0, 1.0], [4.0, 0.5, 8.0, 1.0]])


class LeavesNothingBesideTheProject(CommandCase):
    """anchor, --save and bake on a .qgs leave nothing beside the project but what was asked
    for, where QGIS's backup "~" of the temporary file it wrote used to stay after every run."""

    def test_leaves_nothing_beside_the_project(self):
        project = write_project(self.dir, name="book.qgs")
        p = [project, "--layout", "Atlas"]
        runs = [["anchor"] + p + ["Title", "AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map"],
                p + ["--pages", "1", "--save", "book.qgs"],
                p + ["--pages", "1", "--save", "copy.qgs"],
                p + ["--pages", "1", "--save", "copy.qgs"],
                ["bake"] + p,
                ["unbake"] + p]
        expected = {"book.qgs", "copy.qgs", "sheets.geojson"}
        for args in runs:
            with self.subTest(" ".join(args)):
                self.assertRun(command(self.dir, *args), 0)
                self.assertLessEqual(set(os.listdir(self.dir)), expected)


class BakesAndUnbakes(CommandCase):
    def test_bake_and_unbake_give_back_what_they_took(self):
        """bake and unbake give back exactly what they took: after both, the layout is as it was
        saved, where the map frame kept the last atlas page's extent and the user's own
        data-defined X and Y, switched off, were overwritten by the bake and deleted by the
        unbake."""

        def change(project, layout):
            properties = layout.itemById("Title").dataDefinedProperties()
            properties.setProperty(QgsLayoutObject.DataDefinedProperty.PositionX,
                                   QgsProperty.fromExpression('2 * "HD"', False))
            properties.setProperty(QgsLayoutObject.DataDefinedProperty.PositionY, QgsProperty.fromField("HD", False))
            layout.itemById("Map").setExtent(QgsRectangle(-1, -1, 4, 2))

        project = write_project(self.dir, change, "book.qgs")
        self.assertRun(anchor_title_to_map(self.dir, "book.qgs", "Top Left"), 0)
        before = layout_text(project)
        self.assertIn('2 * "HD"', before[0])
        self.assertNotIn("nan", before[1])

        self.assertRun(command(self.dir, "bake", "book.qgs"), 0)
        baked, layout = read_layout(project)
        properties = layout.itemById("Title").dataDefinedProperties()
        # The title's baked X follows the field HD from page to page; its Y stays.
        x = properties.property(QgsLayoutObject.DataDefinedProperty.PositionX)
        y = properties.property(QgsLayoutObject.DataDefinedProperty.PositionY)
        self.assertTrue(x.isActive() and "@atlas_featureid" in x.expressionString(), x.expressionString())
        self.assertTrue(y.isActive() and y.propertyType() == QgsProperty.Type.ExpressionBasedProperty,
                        y.expressionString())
        # The map frame as it was saved, not on the atlas's last page.
        self.assertEqual(layout_text(project)[1], before[1])
        self.assertRun(command(self.dir, "unbake", "book.qgs"), 0)
        self.assertEqual(layout_text(project), before)

    def test_an_edit_after_a_bake_places_the_item_at_once(self):
        """A baked position does not hold an item the anchoring moves (QGIS's move applies an
        active data-defined position over the one asked for): a record edited after the bake
        places the item on the page where the new record says, and the bake stays for the next
        print without the plugin. The page is stepped as QGIS's exporter steps it, in process,
        since what QGIS draws is the item as it stands then."""
        project = write_project(self.dir, name="book.qgs")
        self.assertRun(anchor_title_to_map(self.dir, "book.qgs", "Top Left"), 0)
        self.assertRun(command(self.dir, "bake", "book.qgs"), 0)
        # Further right than the bake has it on any page, and than its fallback (where it was saved).
        self.assertRun(command(self.dir, "anchor", "book.qgs", "Title", "HFromFieldAll=false", "HDistanceAll=2.5"), 0)
        _project, layout = read_layout(project)
        title = layout.itemById("Title")
        x = title.dataDefinedProperties().property(QgsLayoutObject.DataDefinedProperty.PositionX)
        self.assertTrue(x.isActive() and "@atlas_featureid" in x.expressionString(), x.expressionString())
        session = LayoutSession(Core(), layout)
        session.follow_atlas()
        atlas = layout.atlas()
        atlas.beginRender()
        try:
            for page in range(3):
                atlas.seekTo(page)
                self.assertIsNone(session.last_failure)
                self.assertAlmostEqual(title.pos().x(), 3.5, places=9, msg="page %d" % (page + 1))
                self.assertTrue(title.dataDefinedProperties().isActive(QgsLayoutObject.DataDefinedProperty.PositionX))
        finally:
            atlas.endRender()
            session.close()

    def test_a_bake_edited_by_hand_is_the_users(self):
        """A baked X expression the user has edited since is theirs: the item is left out as one
        QGIS places from data, and unbake leaves the edit in place."""
        project = write_project(self.dir, name="book.qgs")
        self.assertRun(anchor_title_to_map(self.dir, "book.qgs", "Top Left"), 0)
        self.assertRun(command(self.dir, "bake", "book.qgs"), 0)
        # The baked X edited in QGIS's own editor: the expression changed, the bake's mark kept.
        edited, layout = read_layout(project)
        title = layout.itemById("Title")
        properties = title.dataDefinedProperties()
        properties.setProperty(QgsLayoutObject.DataDefinedProperty.PositionX, QgsProperty.fromExpression("50"))
        title.setDataDefinedProperties(properties)
        self.assertTrue(title.customProperty("crvanchor-bake/x"))
        self.assertTrue(edited.write(project))
        run = command(self.dir, "book.qgs", "--pages", "1")
        self.assertRun(run, 0)
        self.assertIn(PREFIX + '"Title" is left out of the book: QGIS sets its position from data (data-defined X)',
                      run.own)
        self.assertRun(command(self.dir, "unbake", "book.qgs"), 0)
        _project, layout = read_layout(project)
        x = layout.itemById("Title").dataDefinedProperties().property(QgsLayoutObject.DataDefinedProperty.PositionX)
        self.assertEqual(x.expressionString(), "50")

    def test_a_bake_with_error_reports_writes_nothing(self):
        """A bake during which the anchoring reported errors writes nothing: the places it would
        save are not the anchoring's."""
        project = write_project(self.dir, name="book.qgs")
        self.assertRun(anchor_title_to_map(self.dir, "book.qgs", "Top Left"), 0)
        # A field the coverage layer lacks, as a project edited elsewhere can have it.
        text = read_bytes(project)
        self.assertIn(b"string:HD", text)
        write_bytes(project, text.replace(b"string:HD", b"string:HX", 1))
        before = read_bytes(project)
        run = command(self.dir, "bake", "book.qgs")
        self.assertRun(run, 1)
        self.assertIn(PREFIX + "bake: the anchoring reported errors; nothing was baked, the project is left as it "
                      "was\n", run.own)
        self.assertRegex(run.own, r"[1-9][0-9]* error reports? shown\n$")
        self.assertEqual(read_bytes(project), before)


class TakesTheOnlyPrintLayout(CommandCase):
    """Every command takes the project's only print layout without --layout; with several, it
    asks which, naming them."""

    def test_takes_the_only_print_layout(self):
        one = write_project(self.path("one"))
        two = write_project(self.path("two"), add_other_layout)
        for subcommand, rest in ((["show"], []), (["anchor"], ["Title", "AnchorElement=true"]), ([], ["--pages", "1"]),
                                 (["bake"], []), (["unbake"], [])):
            with self.subTest(" ".join(subcommand) or "book"):
                run = command(self.dir, *subcommand, one, *rest)
                self.assertRun(run, 0)
                if subcommand == ["show"]:
                    self.assertTrue(run.out.startswith('Layout "Atlas" of '), run.out)
                self.assertRun(command(self.dir, *subcommand, two, *rest), 2,
                               own=PREFIX + 'which print layout? %s has "Atlas", "Other" (--layout NAME)\n' % two)


class DrawsEveryLayoutPage(CommandCase):
    """Every page of the layout is drawn, the first as page-NNN.png and the next as
    page-NNN-2.png and so on, where only the first used to be; the output check knows those
    names too."""

    def test_draws_every_layout_page(self):
        project = write_project(self.dir, with_second_page)
        self.assertRun(command(self.dir, "anchor", project, "Low", "AnchorElement=true"), 0)
        book = [project, "--layout", "Atlas", "--pages", "2", "--dpi", "50"]
        self.assertRun(command(self.dir, *book, "--png", "png", "--outline"), 0)
        self.assertEqual(files_in(self.path("png")), ["page-002-2.png", "page-002.png"])
        self.assertEqual(image_size(self.path("png", "page-002.png")), (425, 550))
        self.assertEqual(image_size(self.path("png", "page-002-2.png")), (425, 700))
        # The outline of the item on the second page is drawn on that page's picture alone.
        self.assertEqual(magenta_pixels(self.path("png", "page-002.png")), 0)
        self.assertGreater(magenta_pixels(self.path("png", "page-002-2.png")), 100)
        self.assertRun(command(self.dir, *book, "--png", "png", "--pdf", "png/page-002-2.png"), 2,
                       own=PREFIX + '--png "png": its page picture page-002-2.png would replace the --pdf file; '
                       "nothing was written\n")


def first_page(value, atlas=True):
    def change(project, layout):
        layout.setCustomProperty("crvanchor/first_page", value)
        layout.atlas().setEnabled(atlas)
    return change


class CountsPagesFromTheFirstPageNumber(CommandCase):
    """The layout's custom property crvanchor/first_page numbers the atlas's pages after front
    matter: odd and even, --pages, the report and the pictures count from it, and the bake
    places by it. A value that is no whole number of 16 bits is refused in one line."""

    def test_counts_pages_from_the_layouts_first_page_number(self):
        project = write_project(self.dir, first_page(3))
        p = [project, "--layout", "Atlas"]
        # The title at the map's left edge (1), on even pages at its right edge (7.5).
        self.assertRun(command(self.dir, "anchor", *p, "Title", "AnchorElement=true", "AnchorType=NamedElement",
                               "ElementName=Map", "AnchorFromAll=Top Left", "AnchorToAll=Top Left",
                               "UseAltAnchoring=true", "AltAnchorType=Even Pages", "AnchorFromAlt=Top Right",
                               "AnchorToAlt=Top Right"), 0)
        for page, x in (("4", 5.5), ("5", 1.0)):
            with self.subTest(page=page):
                saved = "saved-%s.qgs" % page
                self.assertRun(command(self.dir, *p, "--pages", page, "--png", "png", "--dpi", "20", "--report",
                                       "report.json", "--save", saved), 0)
                self.assertTrue(os.path.isfile(self.path("png", "page-00%s.png" % page)))
                with open(self.path("report.json"), encoding="utf-8") as f:
                    report = json.load(f)
                self.assertEqual([q["page"] for q in report["pages"]], [int(page)])
                self.assertEqual(report["series"]["first_page"], 3)
                saved_project, layout = read_layout(self.path(saved))
                self.assertAlmostEqual(layout.itemById("Title").pos().x(), x, places=9)
        self.assertEqual(files_in(self.path("png")), ["page-004.png", "page-005.png"])
        self.assertRun(command(self.dir, *p, "--pages", "2"), 2,
                       own=PREFIX + "--pages: 2 is not in the map book (pages 3 to 5)\n")

    def test_numbers_the_lone_page_of_a_layout_without_atlas_one(self):
        """The first page number is the atlas's: with the atlas switched off the lone page is 1,
        as the map-book command numbers a layout without a map series."""
        project = write_project(self.dir, first_page(3, atlas=False))
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--report", "report.json"), 0)
        with open(self.path("report.json"), encoding="utf-8") as f:
            self.assertEqual([q["page"] for q in json.load(f)["pages"]], [1])
        self.assertRun(command(self.dir, project, "--layout", "Atlas", "--pages", "3"), 2,
                       own=PREFIX + "--pages: 3 is not in the map book (pages 1 to 1)\n")

    def test_refuses_a_first_page_number_of_no_16_bits(self):
        for bad in ("x", "2.5", "32768", "-32769", ""):
            folder = self.path("bad" + bad)
            project = write_project(folder, first_page(bad))
            for subcommand in ([], ["bake"]):
                with self.subTest(bad=bad, command=" ".join(subcommand) or "book"):
                    self.assertRun(command(folder, *subcommand, project, "--layout", "Atlas"), 2,
                                   own=PREFIX + '%s: the layout "Atlas": its custom property crvanchor/first_page is '
                                   '"%s", not a whole number from -32768 to 32767\n' % (project, bad))



def printing(pages_per_feature):
    def change(project, layout):
        with_second_page(project, layout)
        # Its page's printed number, as a cartographer numbers the later pages of a feature.
        layout.itemById("Low").setText("[% @crvanchor_page + @layout_page - 1 %]")
        if pages_per_feature is not None:
            layout.setCustomProperty("crvanchor/pages_per_feature", pages_per_feature)
    return change


class CountsPrintedPages(CommandCase):
    """The layout's custom property crvanchor/pages_per_feature makes every atlas feature that
    many printed pages: odd and even count them. "Low" stands on the layout's second page, 14
    inches tall, anchored to its bottom left corner, on even pages to its bottom right."""

    def test_odd_and_even_count_printed_pages(self):
        cases = (  # pages per feature, "Low"'s left edge on the atlas's three pages, and what it reads
            (None, [0, 6.5, 0], ["2", "3", "4"]),  # odd and even count the features
            (1, [0, 6.5, 0], ["2", "3", "4"]),
            (2, [6.5, 6.5, 6.5], ["2", "4", "6"]),  # a map page and a notes page a feature
            (3, [6.5, 0, 6.5], ["2", "5", "8"]),
        )
        for per, lefts, texts in cases:
            with self.subTest(pages_per_feature=per):
                folder = self.path("per-%s" % per)
                project = write_project(folder, printing(per))
                self.assertRun(command(folder, "anchor", project, "Low", "AnchorElement=true",
                                       "AnchorFromAll=Bottom Left", "AnchorToAll=Bottom Left", "UseAltAnchoring=true",
                                       "AltAnchorType=Even Pages", "AnchorFromAlt=Bottom Right",
                                       "AnchorToAlt=Bottom Right"), 0)
                self.assertRun(command(folder, project, "--report", "report.json"), 0)
                with open(os.path.join(folder, "report.json"), encoding="utf-8") as f:
                    pages = json.load(f)["pages"]
                rects = [next(e["rect"] for e in p["elements"] if e["name"] == "Low") for p in pages]
                # Anchored to its own page's foot, not to the first page's 11 inches.
                self.assertEqual([[round(v, 9) for v in r] for r in rects],
                                 [[x, 0, x + 2, 0.5] for x in lefts])
                # @crvanchor_page is the printed number of the feature's first page.
                _project, layout = read_layout(project)
                session = LayoutSession(Core(), layout)
                session.follow_atlas()
                atlas = layout.atlas()
                atlas.beginRender()
                try:
                    read = []
                    for page in range(3):
                        atlas.seekTo(page)
                        read.append(layout.itemById("Low").currentText())
                    self.assertEqual(read, texts)
                finally:
                    atlas.endRender()
                    session.close()

    def test_refuses_a_count_of_printed_pages_it_cannot_print(self):
        for bad in ("0", "1001", "x"):
            folder = self.path("bad" + bad)
            project = write_project(folder, printing(bad))
            for subcommand in ([], ["show"]):
                with self.subTest(bad=bad, command=" ".join(subcommand) or "book"):
                    self.assertRun(command(folder, *subcommand, project), 2,
                                   own=PREFIX + '%s: the layout "Atlas": its custom property crvanchor/pages_per_feature '
                                   'is "%s", not a whole number from 1 to 1000\n' % (project, bad))

def main():
    global COMMAND, WORK
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    # Every project is made here; SOURCE_DIR gives the plugin's package for the one case that
    # steps a layout in process (CRVANCHOR_CORE_LIBRARY names the core).
    COMMAND, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[3])
    sys.path.insert(0, os.path.join(sys.argv[2], "qgis", "python"))
    import crvanchor.core
    import crvanchor.session
    globals().update(Core=crvanchor.core.Core, LayoutSession=crvanchor.session.LayoutSession)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    app = QgsApplication([], False)
    app.initQgis()
    # Options after the three, such as -k PATTERN, are unittest's.
    result = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[4:]], exit=False).result
    app.exitQgis()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
