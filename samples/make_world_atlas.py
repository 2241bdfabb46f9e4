#!/usr/bin/env python3
"""Makes samples/world_atlas.qgz: an atlas of Europe from the countries QGIS ships
(resources/data/world_map.gpkg), a country a page with its neighbours, for printing as facing
pages; its anchored items given their records through `crvanchor-qgis anchor`.

    python3 samples/make_world_atlas.py --crvanchor-qgis build/crvanchor-qgis [OUT.qgz]
    bash scripts/make_qgis_sample.sh --world [build/crvanchor-qgis] [OUT.qgz]

OUT.qgz defaults to samples/world_atlas.qgz; the countries it reads go into europe.gpkg beside
it (clipped to Europe, in the European equal-area projection, a little simplified). The north
arrow is QGIS's own SVG, which every QGIS finds under its prefix. A rerun writes the same bytes.

What the pages show, and what the anchoring does on them:
  - the map frame takes the shape of the page's country (its width and height are data-defined
    from the feature's extent) and is anchored to the page's inner margin: the left one on odd
    pages, the right one on even pages, as a bound book faces them;
  - the country's name and region stand centred on the map frame; the legend (filtered to the
    page's country and what touches it) and the scale bar hang below it, the legend on the
    inner side;
  - the north arrow sits in the map frame's top right corner, inset by the distances in the
    country's ARROW_DX_MM and ARROW_DY_MM fields;
  - the page number stands at the outer foot of the page.
"""
import argparse
import os
import subprocess
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
os.environ["QT_HASH_SEED"] = "0"
# GeoPackage stamps its tables with the time they were written; a fixed time gives the same bytes.
os.environ["OGR_CURRENT_DATE"] = "2000-01-01T00:00:00.000Z"

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_qgis_sample import FONT, INK, normalise, rgb  # noqa: E402

from qgis.core import (  # noqa: E402
    QgsApplication, QgsCoordinateReferenceSystem, QgsFillSymbol, QgsLayoutItemLabel,
    QgsLayoutItemLegend, QgsLayoutItemMap, QgsLayoutItemPicture, QgsLayoutItemScaleBar,
    QgsLayoutMeasurement, QgsLayoutObject, QgsLegendRenderer, QgsReferencedRectangle, QgsLayoutPoint, QgsLayoutSize, QgsLegendStyle, QgsPalLayerSettings, QgsPrintLayout,
    QgsProject, QgsProperty, QgsRuleBasedRenderer, QgsScaleBarSettings, QgsTextFormat, QgsUnitTypes, QgsVectorLayer,
    QgsVectorLayerSimpleLabeling)
from qgis.PyQt.QtCore import Qt  # noqa: E402
from qgis.PyQt.QtGui import QColor, QFont  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
LAYOUT = "Europe"
DATA = "europe.gpkg"
LAYER = "countries"
ARROW = "arrows/NorthArrow_02.svg"  # found in QGIS's SVG library, wherever QGIS is installed

# The countries that get a page, by ISO code, with their region (the legend's categories). The
# others inside the clip are drawn as the neighbours they are.
REGIONS = {
    "Northern Europe": "DNK EST FIN GBR IRL ISL LTU LVA NOR SWE",
    "Western Europe": "AUT BEL CHE DEU FRA LUX NLD",
    "Southern Europe": "ALB BIH ESP GRC HRV ITA MKD MNE PRT SRB SVN",
    "Eastern Europe": "BGR BLR CZE HUN MDA POL ROU SVK UKR",
}
REGION_COLOURS = {
    "Northern Europe": QColor(214, 226, 240),
    "Western Europe": QColor(240, 226, 200),
    "Southern Europe": QColor(236, 214, 214),
    "Eastern Europe": QColor(216, 234, 208),
}
# The north arrow's inset from the map frame's top right corner, in millimetres: most countries
# leave that corner to the sea or a neighbour; where the country itself reaches it, further in.
ARROW_INSET = (-5, -5)
ARROW_INSETS = {"NOR": (-5, -40), "SWE": (-5, -30), "FIN": (-30, -5), "ITA": (-5, -25), "GRC": (-5, -20)}
# Europe without the overseas territories and the Arctic islands (longitude, latitude boxes): the
# second box takes in the North Cape and leaves out Jan Mayen, which would widen Norway's page.
CLIP = "ST_Union(BuildMbr(-24.6, 34, 45, 69.5), BuildMbr(-7, 69.5, 45, 72.5))"

# The page: A4 portrait in millimetres; the map frame at most MAP_BOX and never flatter or
# taller than the aspect limits, so a long country still leaves room for the rest.
PAGE = (210, 297)
MAP_BOX = (150, 190)
ASPECT = (0.6, 1.5)
INNER, TOP, OUTER, FOOT = 35, 32, 15, 12
THIS_COUNTRY = "$id = @atlas_featureid"


def sql_text(s):
    return "'" + s.replace("'", "''") + "'"


def make_data(path):
    """The countries inside the clip, with the fields the project reads, into a GeoPackage."""
    source = os.path.join(QgsApplication.pkgDataPath(), "resources", "data", "world_map.gpkg")
    region = " ".join("WHEN ISO_A3 IN (%s) THEN %s" % (", ".join(sql_text(c) for c in codes.split()), sql_text(name))
                      for name, codes in REGIONS.items())
    dx = " ".join("WHEN %s THEN %g" % (sql_text(c), v[0]) for c, v in sorted(ARROW_INSETS.items()))
    dy = " ".join("WHEN %s THEN %g" % (sql_text(c), v[1]) for c, v in sorted(ARROW_INSETS.items()))
    sql = ("SELECT NAME, ISO_A3, CASE %s END AS REGION, "
           "CAST(CASE ISO_A3 %s ELSE %g END AS REAL) AS ARROW_DX_MM, "
           "CAST(CASE ISO_A3 %s ELSE %g END AS REAL) AS ARROW_DY_MM, "
           # A zero buffer mends the few rings that cross themselves, which a clip refuses.
           "ST_Intersection(ST_Buffer(geom, 0), %s) AS geom "
           "FROM countries WHERE NAME IS NOT NULL AND ST_Intersects(geom, %s) ORDER BY NAME"
           % (region, dx, ARROW_INSET[0], dy, ARROW_INSET[1], CLIP, CLIP))
    tmp = os.path.splitext(path)[0] + ".tmp.gpkg"
    if os.path.exists(tmp):
        os.remove(tmp)
    done = subprocess.run(["ogr2ogr", "-q", "-f", "GPKG", tmp, source, "-dialect", "SQLite", "-sql", sql, "-t_srs", "EPSG:3035", "-simplify", "0.015", "-nln", LAYER, "-nlt", "MULTIPOLYGON",
                           "-lco", "SPATIAL_INDEX=NO"])
    if done.returncode != 0:
        sys.exit("make_world_atlas.py: ogr2ogr could not write %s from %s" % (path, source))
    os.replace(tmp, path)


def countries_layer(path):
    layer = QgsVectorLayer("%s|layername=%s" % (path, LAYER), LAYER, "ogr")
    if not layer.isValid():
        sys.exit("make_world_atlas.py: cannot open %s" % path)

    def fill(colour, outline, width):
        return QgsFillSymbol.createSimple({"color": rgb(colour), "outline_color": rgb(outline),
                                           "outline_width": str(width), "outline_width_unit": "MM"})
    # The page's country strong, the others by region; the page's country drawn last so no
    # neighbour's outline crosses its own.
    root = QgsRuleBasedRenderer.Rule(None)
    root.appendChild(QgsRuleBasedRenderer.Rule(fill(QColor(250, 236, 170), QColor(150, 40, 30), 0.5),
                                               filterExp=THIS_COUNTRY, label="This country"))
    for name, colour in REGION_COLOURS.items():
        root.appendChild(QgsRuleBasedRenderer.Rule(
            fill(colour, QColor(120, 120, 120), 0.15), label=name,
            filterExp='NOT (%s) AND "REGION" = %s' % (THIS_COUNTRY, sql_text(name))))
    root.appendChild(QgsRuleBasedRenderer.Rule(fill(QColor(232, 232, 228), QColor(150, 150, 150), 0.15),
                                               elseRule=True, label="Other countries"))
    renderer = QgsRuleBasedRenderer(root)
    layer.setRenderer(renderer)

    settings = QgsPalLayerSettings()
    settings.fieldName = "NAME"
    settings.placement = QgsPalLayerSettings.OverPoint
    text = QgsTextFormat()
    text.setFont(QFont(FONT))
    text.setSizeUnit(QgsUnitTypes.RenderPoints)
    text.setSize(7)
    text.setColor(QColor(90, 90, 90))
    settings.setFormat(text)
    dd = settings.dataDefinedProperties()
    dd.setProperty(QgsPalLayerSettings.Size, QgsProperty.fromExpression("if(%s, 11, 7)" % THIS_COUNTRY))
    dd.setProperty(QgsPalLayerSettings.Bold, QgsProperty.fromExpression(THIS_COUNTRY))
    settings.setDataDefinedProperties(dd)
    layer.setLabeling(QgsVectorLayerSimpleLabeling(settings))
    layer.setLabelsEnabled(True)
    return layer


def label(layout, name, text, size, bold=False):
    item = QgsLayoutItemLabel(layout)
    item.setId(name)
    item.setText(text)
    font = QFont(FONT)
    font.setPointSizeF(size)
    font.setBold(bold)
    item.setFont(font)
    item.setFontColor(INK)
    item.setMargin(0)
    item.setHAlign(Qt.AlignHCenter)
    item.setVAlign(Qt.AlignBottom)
    layout.addLayoutItem(item)
    # As wide as the widest map frame, centred over the frame: a label does not fit its size to
    # each page's text.
    item.adjustSizeToText()
    item.attemptResize(QgsLayoutSize(MAP_BOX[0], item.sizeWithUnits().height(), QgsUnitTypes.LayoutMillimeters))
    return item


def build_project(out, data_path):
    project = QgsProject.instance()
    project.clear()
    project.setTitle("Europe, a country a page")
    crs = QgsCoordinateReferenceSystem("EPSG:3035")
    project.setCrs(crs)
    layer = countries_layer(data_path)
    project.addMapLayer(layer)
    # The desktop opens on the covered countries, not on an empty canvas at 1:1.
    covered = layer.extent()
    project.viewSettings().setDefaultViewExtent(QgsReferencedRectangle(covered, crs))

    layout = QgsPrintLayout(project)
    layout.setName(LAYOUT)
    layout.setUnits(QgsUnitTypes.LayoutMillimeters)
    layout.initializeDefaults()
    layout.pageCollection().page(0).setPageSize(QgsLayoutSize(PAGE[0], PAGE[1], QgsUnitTypes.LayoutMillimeters))

    atlas = layout.atlas()
    atlas.setCoverageLayer(layer)
    atlas.setEnabled(True)
    atlas.setFilterFeatures(True)
    atlas.setFilterExpression('"REGION" IS NOT NULL')
    atlas.setSortFeatures(True)
    atlas.setSortExpression('"NAME"')
    atlas.setPageNameExpression('"NAME"')

    frame = QgsLayoutItemMap(layout)
    frame.setId("Map")
    frame.setCrs(crs)
    frame.setBackgroundColor(QColor(204, 222, 236))
    frame.setFrameEnabled(True)
    frame.setFrameStrokeWidth(QgsLayoutMeasurement(0.4, QgsUnitTypes.LayoutMillimeters))
    frame.setAtlasDriven(True)
    frame.setAtlasScalingMode(QgsLayoutItemMap.Auto)
    frame.setAtlasMargin(0.25)
    frame.setLayers([layer])
    frame.setKeepLayerSet(True)
    layout.addLayoutItem(frame)
    frame.attemptMove(QgsLayoutPoint(INNER, TOP, QgsUnitTypes.LayoutMillimeters))
    frame.attemptResize(QgsLayoutSize(MAP_BOX[0], MAP_BOX[1], QgsUnitTypes.LayoutMillimeters))
    frame.zoomToExtent(layer.extent())
    # The frame takes the country's shape: the widest it can within MAP_BOX at the extent's
    # ratio of width to height, held between the aspect limits.
    aspect = ("max(%g, min(%g, bounds_width(@atlas_geometry) / bounds_height(@atlas_geometry)))" % ASPECT)
    width = "min(%g, %g * %s)" % (MAP_BOX[0], MAP_BOX[1], aspect)
    frame.dataDefinedProperties().setProperty(QgsLayoutObject.ItemWidth, QgsProperty.fromExpression(width))
    frame.dataDefinedProperties().setProperty(QgsLayoutObject.ItemHeight,
                                              QgsProperty.fromExpression("(%s) / (%s)" % (width, aspect)))

    title = label(layout, "Title", '[% "NAME" %]', 22, bold=True)
    region = label(layout, "Region", '[% "REGION" %]', 10)

    arrow = QgsLayoutItemPicture(layout)
    arrow.setId("North Arrow")
    arrow.setPicturePath(ARROW, QgsLayoutItemPicture.FormatSVG)
    arrow.setLinkedMap(frame)
    arrow.setNorthMode(QgsLayoutItemPicture.GridNorth)
    arrow.setResizeMode(QgsLayoutItemPicture.Zoom)
    layout.addLayoutItem(arrow)
    arrow.attemptResize(QgsLayoutSize(10, 16, QgsUnitTypes.LayoutMillimeters))

    legend = QgsLayoutItemLegend(layout)
    legend.setId("Legend")
    legend.setTitle("Regions on this page")
    legend.setLinkedMap(frame)
    legend.setLegendFilterByMapEnabled(True)
    legend.setLegendFilterOutAtlas(True)
    legend.setSymbolWidth(6)
    legend.setSymbolHeight(4)
    for style in (QgsLegendStyle.Title, QgsLegendStyle.SymbolLabel):
        f = QFont(FONT)
        f.setPointSizeF(10 if style == QgsLegendStyle.Title else 8)
        legend.rstyle(style).setFont(f)
    legend.rstyle(QgsLegendStyle.Group).setFont(QFont(FONT))
    layout.addLayoutItem(legend)
    # The layer's own name says nothing a reader needs: the legend lists its rules alone.
    legend.setAutoUpdateModel(False)
    node = legend.model().rootGroup().findLayer(layer)
    if node is not None:
        QgsLegendRenderer.setNodeLegendStyle(node, QgsLegendStyle.Hidden)

    scale = QgsLayoutItemScaleBar(layout)
    scale.setId("Scale")
    scale.setStyle("Single Box")
    scale.setLinkedMap(frame)
    scale.applyDefaultSize(QgsUnitTypes.DistanceKilometers)
    scale.setNumberOfSegments(2)
    scale.setNumberOfSegmentsLeft(0)
    scale.setSegmentSizeMode(QgsScaleBarSettings.SegmentSizeFitWidth)
    scale.setMinimumBarWidth(25)
    scale.setMaximumBarWidth(45)
    layout.addLayoutItem(scale)

    number = label(layout, "Page Number", "[% @atlas_featurenumber %]", 10)
    number.attemptResize(QgsLayoutSize(12, 6, QgsUnitTypes.LayoutMillimeters))

    project.layoutManager().addLayout(layout)
    if not project.write(out):
        sys.exit("make_world_atlas.py: cannot write %s: %s" % (out, project.error()))
    project.clear()


# ------------------------------------------------------------------ the records

# Reference points: 0 top left, 1 top centre, 2 top right, 6 bottom left, 7 bottom centre, 8 bottom
# right. Distances in the
# layout's millimetres, right and up positive. The primary rule is the odd (right-hand) page's,
# the alternate rule the even page's, mirrored about the binding.
TL, TC, TR, BL, BC, BR = 0, 1, 2, 6, 7, 8


def rule(anchor_from, anchor_to, h=0.0, v=0.0, suffix="All"):
    return {"AnchorFrom" + suffix: anchor_from, "AnchorTo" + suffix: anchor_to,
            "HDistance" + suffix: h, "VDistance" + suffix: v}


def facing(target, odd, even, priority=1):
    record = {"AnchorElement": "true", "AnchorPriority": priority, "UseAltAnchoring": "true", "AltAnchorType": 0}
    record.update({"AnchorType": "Layout"} if target is None else {"AnchorType": "NamedElement", "ElementName": target})
    record.update(rule(*odd))
    record.update(rule(*even, suffix="Alt"))
    return record


RECORDS = [
    # The frame at the inner margin: the left one on odd pages, the right one on even pages.
    ("Map", facing(None, (TL, TL, INNER, -TOP), (TR, TR, -INNER, -TOP), priority=2)),
    # Region and title centred above the frame.
    ("Region", {"AnchorElement": "true", "AnchorType": "NamedElement", "ElementName": "Map",
                "AnchorFromAll": BC, "AnchorToAll": TC, "VDistanceAll": 2}),
    ("Title", {"AnchorElement": "true", "AnchorType": "NamedElement", "ElementName": "Region",
               "AnchorFromAll": BC, "AnchorToAll": TC, "VDistanceAll": 1}),
    # Legend below the frame at the inner edge, scale bar at the outer edge.
    ("Legend", facing("Map", (TL, BL, 0, -5), (TR, BR, 0, -5))),
    ("Scale", facing("Map", (TR, BR, 0, -5), (TL, BL, 0, -5))),
    ("Page Number", facing(None, (BR, BR, -OUTER, FOOT), (BL, BL, OUTER, FOOT), priority=0)),
    # The arrow in the frame's top right corner on every page, inset as the country's fields say.
    ("North Arrow", {"AnchorElement": "true", "AnchorType": "NamedElement", "ElementName": "Map",
                     "AnchorFromAll": TR, "AnchorToAll": TR,
                     "HDistanceAll": ARROW_INSET[0], "HFromFieldAll": "true", "HFieldNameAll": "ARROW_DX_MM",
                     "VDistanceAll": ARROW_INSET[1], "VFromFieldAll": "true", "VFieldNameAll": "ARROW_DY_MM"}),
]


def apply_records(out, command):
    for name, record in RECORDS:
        args = [command, "anchor", out, "--layout", LAYOUT, name] + ["%s=%s" % kv for kv in record.items()]
        done = subprocess.run(args, stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            sys.exit("make_world_atlas.py: %s anchor %r failed (status %d)" % (command, name, done.returncode))


def main():
    parser = argparse.ArgumentParser(description="Makes the QGIS atlas of Europe from QGIS's own countries.")
    parser.add_argument("out", nargs="?", default=os.path.join(HERE, "world_atlas.qgz"))
    parser.add_argument("--crvanchor-qgis", dest="command", required=True,
                        help="the crvanchor-qgis program that writes the anchor records")
    a = parser.parse_args()
    out = os.path.abspath(a.out)
    if not out.endswith(".qgz"):
        sys.exit("make_world_atlas.py: the project is written as a .qgz file")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    data = os.path.join(os.path.dirname(out), DATA)

    app = QgsApplication([], False)
    app.initQgis()
    try:
        make_data(data)
        build_project(out, data)
    finally:
        app.exitQgis()
    apply_records(out, a.command)
    normalise(out)
    print("made %s" % os.path.relpath(out))


if __name__ == "__main__":
    main()
