#!/usr/bin/env python3
"""Makes the bundled QGIS project: the map book of lakes_atlas.json as a QGIS print layout with
an atlas, its anchored items given the standalone sample's records through `crvanchor-qgis anchor`.

    python3 samples/make_qgis_sample.py --crvanchor-qgis build/crvanchor-qgis [OUT.qgz]
    bash scripts/make_qgis_sample.sh [build/crvanchor-qgis] [OUT.qgz]   (finds a python3 with PyQGIS)

OUT.qgz defaults to samples/lakes_atlas.qgz. Everything the project shows is read from
lakes_atlas.json beside this script (page, items and their rectangles, texts, the series, the
records), so the two samples cannot drift apart; the GeoPackage and the north arrow are copied
next to OUT when it lies elsewhere, since the project names them by relative path.

Needs PyQGIS (Debian package python3-qgis) and no screen. The result is committed; run it again
only to change the sample. A rerun writes the same bytes.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
# Qt writes XML attributes in hash order; a fixed seed fixes the order, here and in the
# crvanchor-qgis runs that inherit it.
os.environ["QT_HASH_SEED"] = "0"

from qgis.core import (  # noqa: E402  (the platform must be chosen before Qt loads)
    QgsApplication, QgsCoordinateReferenceSystem, QgsFeatureRequest, QgsField,
    QgsFillSymbol, QgsLayoutItemLabel, QgsLayoutItemMap, QgsLayoutItemMapGrid,
    QgsLayoutItemPicture, QgsLayoutItem, QgsLayoutMeasurement, QgsLayoutPoint, QgsLayoutSize,
    QgsPalLayerSettings, QgsPrintLayout, QgsProject, QgsProperty, QgsRectangle, QgsReferencedRectangle,
    QgsRuleBasedRenderer, QgsTextFormat, QgsUnitTypes, QgsVectorLayer, QgsVectorLayerSimpleLabeling)
from qgis.PyQt.QtCore import Qt, QVariant  # noqa: E402
from qgis.PyQt.QtGui import QColor, QFont  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DOCUMENT = os.path.join(HERE, "lakes_atlas.json")
DATA_FILES = ("sheets.gpkg", "north_arrow.xpm")
FONT = "DejaVu Sans"
INK = QColor(20, 20, 20)

# The layout measures in millimetres, so the anchor records' distances do too: QGIS 3.22 draws a
# layout in any other unit as if its units were millimetres (map contents and label text come out
# 25.4 times too large in inches), so an inch layout cannot be printed. The items' rectangles are
# the document's inches given in millimetres, so that the item's properties and the Anchor dock
# speak the same unit.
LAYOUT_UNITS = QgsUnitTypes.LayoutMillimeters
UNITS_PER_INCH = 25.4
# Distances an anchor record reads from a field are page units too: the record reads a field of
# the layer's own that gives the inch field in layout units.
FIELD_SUFFIX = "_MM"
FIELD_NAME_KEYS = ("HFieldNameAll", "VFieldNameAll", "HFieldNameAlt", "VFieldNameAlt")
NONE = "<None>"

# The page's own feature is the atlas feature; the rest are its neighbours.
THIS_SHEET = "$id = @atlas_featureid"


def rgb(c):
    return "%d,%d,%d,%d" % (c.red(), c.green(), c.blue(), c.alpha())


# ------------------------------------------------------------------ the standalone document

def series_layout_name(doc):
    active = doc.get("active_layout", {})
    if active.get("kind") == "SeriesLayout":
        return active["name"]
    return doc["series_layouts"][0]["name"]


def walk(elements):
    """Every element, group members after their group, in document order."""
    for e in elements:
        yield e
        yield from walk(e.get("members", []))


def series_frame(doc):
    frames = [e for e in walk(doc["elements"]) if e["type"] == "map_frame" and e.get("series", {}).get("enabled")]
    if len(frames) != 1:
        sys.exit("make_qgis_sample.py: %s has %d map frames with a series; expected one" % (DOCUMENT, len(frames)))
    return frames[0]


def qgis_text(text):
    """The document's placeholders as QGIS expressions; any other braces stay as they are."""
    def one(m):
        token = m.group(1)
        if token == "page":
            return "[% @atlas_featurenumber %]"
        if token.startswith("field:"):
            return '[%% "%s" %%]' % token[len("field:"):].replace('"', '""')
        return m.group(0)
    return re.sub(r"\{([^{}]*)\}", one, text)


def record_of(element):
    """The anchor record of an element as (key, kind, value) triples, or None."""
    def find(bag):
        for entry in bag.get("entries", []):
            if entry.get("kind") != "bag":
                continue
            if entry["key"] == "AnchorProperties":
                return entry
            found = find(entry)
            if found:
                return found
        return None
    custom = element.get("custom")
    record = find(custom) if custom else None
    if record is None:
        return None
    return [(e["key"], e["kind"], e["value"]) for e in record["entries"]]


def distance_fields(doc):
    """The fields anchor records read distances from, in document order."""
    names = []
    for e in walk(doc["elements"]):
        for k, _, v in record_of(e) or []:
            if k in FIELD_NAME_KEYS and v != NONE and v not in names:
                names.append(v)
    return names


def argument_value(key, kind, value):
    """The value as `crvanchor-qgis anchor` reads it, in layout units: codes by number, doubles
    exact to the document's digits."""
    if kind == "boolean":
        return "true" if value else "false"
    if kind == "double":
        return repr(float("%.12g" % (float(value) * UNITS_PER_INCH)))
    if key in FIELD_NAME_KEYS and value != NONE:
        return value + FIELD_SUFFIX
    if kind in ("int16", "int32"):
        return str(int(value))
    return str(value)


# ------------------------------------------------------------------ the QGIS project

def sheets_layer(frame, data_dir, inch_fields):
    series = frame["series"]
    layer = QgsVectorLayer("%s|layername=%s" % (os.path.join(data_dir, series["dataset"]), series["layer"]),
                           series["layer"], "ogr")
    if not layer.isValid():
        sys.exit("make_qgis_sample.py: cannot open the sheets in %s" % os.path.join(data_dir, series["dataset"]))

    # As the standalone book draws them: the page's sheet in warm yellow outlined in red, its
    # neighbours in pale green; the page's sheet last, so no neighbour's outline crosses it.
    def fill(colour, outline, width):
        return QgsFillSymbol.createSimple({"color": rgb(colour), "outline_color": rgb(outline),
                                           "outline_width": str(width), "outline_width_unit": "MM",
                                           "joinstyle": "miter"})
    root = QgsRuleBasedRenderer.Rule(None)
    root.appendChild(QgsRuleBasedRenderer.Rule(fill(QColor(250, 240, 200), QColor(150, 40, 30), 0.6),
                                               filterExp=THIS_SHEET, label="This sheet"))
    root.appendChild(QgsRuleBasedRenderer.Rule(fill(QColor(226, 236, 214), QColor(120, 130, 110), 0.2),
                                               elseRule=True, label="Neighbouring sheets"))
    renderer = QgsRuleBasedRenderer(root)
    renderer.setOrderBy(QgsFeatureRequest.OrderBy([QgsFeatureRequest.OrderByClause(THIS_SHEET, True)]))
    renderer.setOrderByEnabled(True)
    layer.setRenderer(renderer)
    for name in inch_fields:
        layer.addExpressionField('"%s" * %r' % (name.replace('"', '""'), UNITS_PER_INCH),
                                 QgsField(name + FIELD_SUFFIX, QVariant.Double))

    # Sheets named by the frame's label field: large and bold on the page's own sheet, smaller and
    # a little below the middle on the neighbours, clear of the grid labels through sheet centres.
    label = frame.get("label_field")
    if label:
        settings = QgsPalLayerSettings()
        settings.fieldName = label
        settings.placement = QgsPalLayerSettings.OverPoint
        settings.displayAll = True
        text = QgsTextFormat()
        text.setFont(QFont(FONT))
        text.setSizeUnit(QgsUnitTypes.RenderPoints)
        text.setSize(11)
        text.setColor(QColor(90, 100, 80))
        settings.setFormat(text)
        settings.offsetUnits = QgsUnitTypes.RenderMillimeters
        dd = settings.dataDefinedProperties()
        dd.setProperty(QgsPalLayerSettings.Size, QgsProperty.fromExpression("if(%s, 28, 11)" % THIS_SHEET))
        dd.setProperty(QgsPalLayerSettings.Bold, QgsProperty.fromExpression(THIS_SHEET))
        dd.setProperty(QgsPalLayerSettings.Color, QgsProperty.fromExpression(
            "if(%s, '%s', '%s')" % (THIS_SHEET, rgb(QColor(120, 30, 20)), rgb(QColor(90, 100, 80)))))
        dd.setProperty(QgsPalLayerSettings.OffsetXY, QgsProperty.fromExpression("if(%s, '0,0', '0,5.6')" % THIS_SHEET))
        settings.setDataDefinedProperties(dd)
        layer.setLabeling(QgsVectorLayerSimpleLabeling(settings))
        layer.setLabelsEnabled(True)
    return layer


class Page:
    """Places items by the document's rectangles: [x0, y0, x1, y1], y up from the page's foot."""

    def __init__(self, layout, height):
        self.layout = layout
        self.height = height

    def place(self, item, rect):
        x0, y0, x1, y1 = (v * UNITS_PER_INCH for v in rect)
        top = self.height * UNITS_PER_INCH - y1
        item.attemptMove(QgsLayoutPoint(x0, top, LAYOUT_UNITS))
        item.attemptResize(QgsLayoutSize(x1 - x0, y1 - y0, LAYOUT_UNITS))


def add_text(page, e):
    item = QgsLayoutItemLabel(page.layout)
    item.setText(qgis_text(e["text"]))
    font = QFont(FONT)
    font.setPointSizeF(e.get("font_size", 12))
    item.setFont(font)
    item.setFontColor(INK)
    align = {"left": Qt.AlignLeft, "right": Qt.AlignRight}.get(e.get("align"), Qt.AlignHCenter)
    item.setHAlign(align)
    item.setVAlign(Qt.AlignVCenter)
    item.setMargin(0)
    return item


def add_picture(page, e, data_dir):
    item = QgsLayoutItemPicture(page.layout)
    item.setPicturePath(os.path.join(data_dir, e["file"]), QgsLayoutItemPicture.FormatRaster)
    item.setResizeMode(QgsLayoutItemPicture.Zoom)
    item.setPictureAnchor(QgsLayoutItem.Middle)
    return item


def add_map(page, e, layer):
    item = QgsLayoutItemMap(page.layout)
    item.setCrs(layer.crs())
    item.setBackgroundColor(QColor(214, 230, 240))
    # The page's sheet with 30 % of its size of neighbours on every side, as the standalone book
    # shows it; QGIS's margin is the growth of the whole extent.
    item.setAtlasDriven(True)
    item.setAtlasScalingMode(QgsLayoutItemMap.Auto)
    item.setAtlasMargin(0.6)
    border = e.get("border", 0)
    if border > 0:
        item.setFrameEnabled(True)
        item.setFrameStrokeColor(QColor(30, 30, 30))
        item.setFrameStrokeWidth(QgsLayoutMeasurement(border, QgsUnitTypes.LayoutInches))
        item.setFrameJoinStyle(Qt.MiterJoin)
    grid = QgsLayoutItemMapGrid("Grid", item)
    grid.setUnits(QgsLayoutItemMapGrid.MapUnit)
    grid.setIntervalX(5000)
    grid.setIntervalY(5000)
    grid.setStyle(QgsLayoutItemMapGrid.Solid)
    grid.setGridLineColor(QColor(60, 90, 120, 110))
    grid.setGridLineWidth(0.2)
    grid.setAnnotationEnabled(True)
    grid.setAnnotationPrecision(0)
    annotation = QgsTextFormat()
    annotation.setFont(QFont(FONT))
    annotation.setSizeUnit(QgsUnitTypes.RenderPoints)
    annotation.setSize(7)
    annotation.setColor(QColor(60, 90, 120))
    grid.setAnnotationTextFormat(annotation)
    for side in (QgsLayoutItemMapGrid.Top, QgsLayoutItemMapGrid.Right):
        grid.setAnnotationDisplay(QgsLayoutItemMapGrid.HideAll, side)
    for side in (QgsLayoutItemMapGrid.Bottom, QgsLayoutItemMapGrid.Left):
        grid.setAnnotationPosition(QgsLayoutItemMapGrid.InsideMapFrame, side)
        grid.setAnnotationDirection(QgsLayoutItemMapGrid.Horizontal, side)
    item.grids().addGrid(grid)
    return item


def fitted(extent, aspect):
    """The extent grown about its centre to the width-to-height ratio of a frame."""
    grown = QgsRectangle(extent)
    if extent.width() / extent.height() < aspect:
        half = extent.height() * aspect / 2
        grown.setXMinimum(extent.center().x() - half)
        grown.setXMaximum(extent.center().x() + half)
    else:
        half = extent.width() / aspect / 2
        grown.setYMinimum(extent.center().y() - half)
        grown.setYMaximum(extent.center().y() + half)
    return grown


def add_elements(page, elements, layer, data_dir):
    """Adds the items in document order, so their stacking is the document's; returns them."""
    added = []
    for e in elements:
        kind = e["type"]
        if kind == "group":
            members = add_elements(page, e.get("members", []), layer, data_dir)
            group = page.layout.groupItems(members)
            group.setId(e["name"])
            added.append(group)
            continue
        if kind == "text":
            item = add_text(page, e)
        elif kind == "picture":
            item = add_picture(page, e, data_dir)
        elif kind == "map_frame":
            item = add_map(page, e, layer)
        else:
            sys.exit("make_qgis_sample.py: no QGIS item for a %s element (%s)" % (kind, e.get("name")))
        item.setId(e["name"])
        page.layout.addLayoutItem(item)
        page.place(item, e["outline"] if kind == "map_frame" else e["rect"])
        if kind == "map_frame":
            # The atlas keeps the shape of the extent it finds, and a map item takes the shape
            # of its extent: start from the frame's shape, or the first page squares the frame.
            x0, y0, x1, y1 = e["outline"]
            item.setExtent(fitted(layer.extent(), (x1 - x0) / (y1 - y0)))
        added.append(item)
    return added


def build_project(doc, out, data_dir):
    if doc["page"]["units"] != "inches":
        sys.exit("make_qgis_sample.py: the sample page is expected in inches")
    frame = series_frame(doc)
    project = QgsProject.instance()
    project.clear()
    project.setTitle(frame["series"]["name"])
    project.setCrs(QgsCoordinateReferenceSystem("EPSG:27700"))
    layer = sheets_layer(frame, data_dir, distance_fields(doc))
    project.addMapLayer(layer)
    # Without a canvas of its own the desktop would open the project at 1:1 on nothing: it
    # opens on the sheets instead.
    project.viewSettings().setDefaultViewExtent(QgsReferencedRectangle(layer.extent(), layer.crs()))

    layout = QgsPrintLayout(project)
    layout.setName(series_layout_name(doc))
    layout.setUnits(LAYOUT_UNITS)
    layout.initializeDefaults()
    layout.pageCollection().page(0).setPageSize(
        QgsLayoutSize(doc["page"]["width"], doc["page"]["height"], QgsUnitTypes.LayoutInches))
    add_elements(Page(layout, doc["page"]["height"]), doc["elements"], layer, data_dir)
    # A north arrow follows the map it points on (QGIS warns at every export about one that
    # does not); the document names its arrow as such.
    frame_item = layout.itemById(frame["name"])
    for item in layout.items():
        if isinstance(item, QgsLayoutItemPicture) and "north" in item.id().lower():
            item.setLinkedMap(frame_item)
            item.setNorthMode(QgsLayoutItemPicture.GridNorth)

    series = frame["series"]
    atlas = layout.atlas()
    atlas.setCoverageLayer(layer)
    atlas.setEnabled(True)
    atlas.setSortFeatures(True)
    atlas.setSortExpression('"%s"' % series["order_field"])
    atlas.setSortAscending(True)
    if frame.get("label_field"):
        atlas.setPageNameExpression('"%s"' % frame["label_field"])
    project.layoutManager().addLayout(layout)
    if not project.write(out):
        sys.exit("make_qgis_sample.py: cannot write %s: %s" % (out, project.error()))
    project.clear()


# ------------------------------------------------------------------ the records

def place_first_page(doc, out, command):
    """Saves the project as the book's first page leaves it, as a user who opens it in the
    designer expects to find it: the document's anchored elements stand where no page put them."""
    args = [command, out, "--layout", series_layout_name(doc), "--pages", "1", "--save", out]
    done = subprocess.run(args, stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        sys.exit("make_qgis_sample.py: %s placing the first page failed (status %d)" % (command, done.returncode))


def apply_records(doc, out, command):
    """Gives every anchored element's QGIS item the standalone sample's record, key by key, as a
    user would with `crvanchor-qgis anchor`."""
    layout = series_layout_name(doc)
    for e in walk(doc["elements"]):
        record = record_of(e)
        if record is None:
            continue
        args = [command, "anchor", out, "--layout", layout, e["name"]]
        args += ["%s=%s" % (k, argument_value(k, kind, v)) for k, kind, v in record]
        done = subprocess.run(args, stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            sys.exit("make_qgis_sample.py: %s anchor %r failed (status %d)" % (command, e["name"], done.returncode))


# ------------------------------------------------------------------ the same bytes on every run

def normalise(out):
    """Rewrites the archive so a rerun gives the same bytes: QGIS stamps the save time, makes new
    item and layer ids on every build and dates the archive's entries. The ids are renumbered in
    order of first appearance, which keeps every reference between them."""
    with zipfile.ZipFile(out) as z:
        names = sorted(z.namelist())
        project = [n for n in names if n.endswith(".qgs")]
        if len(project) != 1:
            sys.exit("make_qgis_sample.py: %s holds %d project files" % (out, len(project)))
        entries = {n: z.read(n) for n in names}
    text = entries[project[0]].decode("utf-8")
    text = re.sub(r'(saveDateTime|saveUser|saveUserFull)="[^"]*"', r'\1=""', text)
    text = re.sub(r"<creation>[^<]*</creation>", "<creation></creation>", text)
    # The atlas keeps its layer's source as a fallback to the layer id: the path the project was
    # built at, not one it keeps.
    text = re.sub(r'coverageLayerSource="[^"]*/([^"/]*)"', r'coverageLayerSource="./\1"', text)
    # So does a legend of its own keep its layers' sources.
    text = re.sub(r'(<Layer source=")[^"]*/([^"/]*")', r'\1./\2', text)
    ids = {}

    def renumber(m):
        return ids.setdefault(m.group(0), "{00000000-0000-4000-8000-%012d}" % (len(ids) + 1))
    text = re.sub(r"\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}", renumber, text)
    layers = {}

    def layer_id(m):
        # QGIS takes a layer id for its own only with an id's shape: name, then a uuid.
        return layers.setdefault(m.group(0), "%s_00000000_0000_4000_8000_%012d" % (m.group(1), len(layers) + 1))
    text = re.sub(r"\b([A-Za-z][A-Za-z0-9_]*?)_[0-9a-f]{8}_[0-9a-f]{4}_[0-9a-f]{4}_[0-9a-f]{4}_[0-9a-f]{12}\b",
                  layer_id, text)
    # The project file inside is named after the archive, as QGIS names it, whatever name the
    # last writer saved it under.
    del entries[project[0]]
    names.remove(project[0])
    inner = os.path.splitext(os.path.basename(out))[0] + ".qgs"
    entries[inner] = text.encode("utf-8")
    names = sorted(names + [inner])
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        for n in names:
            if n.endswith(".qgd"):
                continue  # an empty auxiliary store, different on every save; QGIS makes one on opening
            info = zipfile.ZipInfo(n, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, entries[n])
    os.replace(tmp, out)


def main():
    parser = argparse.ArgumentParser(description="Makes the QGIS sample project from lakes_atlas.json.")
    parser.add_argument("out", nargs="?", default=os.path.join(HERE, "lakes_atlas.qgz"))
    parser.add_argument("--crvanchor-qgis", dest="command", required=True,
                        help="the crvanchor-qgis program that writes the anchor records")
    a = parser.parse_args()
    out = os.path.abspath(a.out)
    if not out.endswith(".qgz"):
        sys.exit("make_qgis_sample.py: the project is written as a .qgz file")
    with open(DOCUMENT, encoding="utf-8") as f:
        doc = json.load(f)
    out_dir = os.path.dirname(out)
    os.makedirs(out_dir, exist_ok=True)
    if os.path.realpath(out_dir) != os.path.realpath(HERE):
        for name in DATA_FILES:
            shutil.copyfile(os.path.join(HERE, name), os.path.join(out_dir, name))

    app = QgsApplication([], False)
    app.initQgis()
    try:
        build_project(doc, out, out_dir)
    finally:
        app.exitQgis()
    apply_records(doc, out, a.command)
    place_first_page(doc, out, a.command)
    normalise(out)
    print("made %s" % os.path.relpath(out))


if __name__ == "__main__":
    main()
