#!/usr/bin/env python3
"""Generated QGIS layouts anchored page by page through the plugin's session: after every atlas
page, each item stands in QGIS where the core placed it (the page's report record). Groups nested three deep, framed map
frames, a second layout page of another size, distances read from the atlas's field, alternate
rules on page lists: what the session measures, moves and refits must agree with the engine.

    random_layouts_test.py SOURCE_DIR [LAYOUTS [SEED]]   (CRVANCHOR_CORE_LIBRARY names the core)
"""
import os
import random
import sys

os.environ["QT_QPA_PLATFORM"] = "offscreen"

from qgis.core import (  # noqa: E402
    QgsApplication,
    QgsFeature,
    QgsGeometry,
    QgsLayoutItemLabel,
    QgsLayoutItemMap,
    QgsLayoutItemPage,
    QgsLayoutMeasurement,
    QgsLayoutPoint,
    QgsLayoutSize,
    QgsPrintLayout,
    QgsProject,
    QgsRectangle,
    QgsUnitTypes,
    QgsVectorLayer,
)

source = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 40
seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261207
sys.path.insert(0, os.path.join(source, "qgis", "python"))
from crvanchor.core import Core  # noqa: E402
from crvanchor.session import LayoutSession, is_record_key  # noqa: E402

INCHES = QgsUnitTypes.LayoutUnit.LayoutInches
PAGES = 3
TOLERANCE = 1e-6


def coverage(project):
    layer = QgsVectorLayer("Polygon?crs=EPSG:27700&field=HD:double", "sheets", "memory")
    features = []
    for i, hd in enumerate((0.25, 0.5, 0.75)):
        f = QgsFeature(layer.fields())
        f.setAttributes([hd])
        f.setGeometry(QgsGeometry.fromRect(QgsRectangle(i, 0, i + 1, 1)))
        features.append(f)
    layer.dataProvider().addFeatures(features)
    project.addMapLayer(layer)
    return layer


def place(item, x, y, w, h):
    item.attemptResize(QgsLayoutSize(w, h, INCHES))
    item.attemptMove(QgsLayoutPoint(x, y, INCHES), page=item.page() if item.page() >= 0 else 0)


class Generator:
    """One random layout: its items, and the records given to them through the core."""

    def __init__(self, rng, project, layer, index):
        self.rng = rng
        self.layout = QgsPrintLayout(project)
        self.layout.initializeDefaults()
        self.layout.setName("Generated %d" % index)
        self.layout.setUnits(INCHES)
        page = self.layout.pageCollection().page(0)
        page.setPageSize(QgsLayoutSize(8.5, 11, INCHES))
        self.two_pages = rng.random() < 0.3
        if self.two_pages:
            second = QgsLayoutItemPage(self.layout)
            second.setPageSize(QgsLayoutSize(8.5, 14, INCHES))
            self.layout.pageCollection().addPage(second)
        project.layoutManager().addLayout(self.layout)
        self.names = []
        self.targets = []  # what the engine finds by name: top-level items and a top-level group's members
        self.made = 0
        frame = QgsLayoutItemMap(self.layout)
        frame.setId("Map")
        self.layout.addLayoutItem(frame)
        place(frame, 1, 2, 6.5, 7)
        if rng.random() < 0.5:
            frame.setFrameEnabled(True)
            frame.setFrameStrokeWidth(QgsLayoutMeasurement(round(rng.uniform(0.01, 0.1), 3), INCHES))
        frame.setExtent(QgsRectangle(0, 0, 3, 1))
        frame.setAtlasDriven(True)
        self.names.append("Map")
        self.targets.append("Map")
        for _ in range(rng.randint(2, 5)):
            self.make(1)
        atlas = self.layout.atlas()
        atlas.setCoverageLayer(layer)
        atlas.setEnabled(True)

    def make(self, depth):
        self.made += 1
        name = "E%d" % self.made
        rng = self.rng
        if depth < 3 and rng.random() < 0.25:
            members = [self.make(depth + 1) for _ in range(rng.randint(2, 3))]
            group = self.layout.groupItems(members)
            group.setId(name)
            item = group
        else:
            item = QgsLayoutItemLabel(self.layout)
            item.setText(name)
            item.setId(name)
            self.layout.addLayoutItem(item)
            x, y = round(rng.uniform(0.5, 6), 3), round(rng.uniform(0.5, 9), 3)
            if self.two_pages and depth == 1 and rng.random() < 0.3:
                y += 11 + self.layout.pageCollection().spaceBetweenPages() / 25.4  # on the second page
            place(item, x, y, round(rng.uniform(0.2, 2), 3), round(rng.uniform(0.2, 1.5), 3))
        self.names.append(name)
        if depth <= 2:
            self.targets.append(name)
        return item

    def record(self, name):
        """KEY=VALUE texts for `name`: anchored to the page or to an item made before it."""
        rng = self.rng
        if rng.random() < 0.25:
            return []
        r = ["AnchorElement=true", "AnchorFromAll=%d" % rng.randint(0, 8), "AnchorToAll=%d" % rng.randint(0, 8),
             "HDistanceAll=%.3f" % rng.uniform(-1, 1), "VDistanceAll=%.3f" % rng.uniform(-1, 1)]
        targets = [n for n in self.targets if n != name]
        if rng.random() < 0.66 and targets:
            target = rng.choice(targets)
            r += ["AnchorType=NamedElement", "ElementName=" + target]
            if target == "Map" and rng.random() < 0.5:
                r += ["HFromFieldAll=true", "HFieldNameAll=HD"]
        if rng.random() < 0.5:
            alt = rng.randint(0, 2)
            r += ["UseAltAnchoring=true", "AltAnchorType=%d" % alt]
            if alt == 2:
                r.append("AltAnchorPageRange=" + rng.choice(("2", "1,3")))
            r += ["AnchorFromAlt=%d" % rng.randint(0, 8), "AnchorToAlt=%d" % rng.randint(0, 8),
                  "HDistanceAlt=%.3f" % rng.uniform(-1, 1)]
        return r


def give_records(core, session, generator):
    """Each item's record written through the core, stored as QGIS keeps it."""
    mirror = session.open()
    for name in generator.names:
        changes = generator.record(name)
        if not changes:
            continue
        result = mirror.edit_record(name, changes)
        item = session._items[name]
        for key in [k for k in item.customProperties() if is_record_key(k)]:
            item.removeCustomProperty(key)
        for key, text in core.write_record(result["custom"]).items():
            item.setCustomProperty(key, text)
    session.forget_mirror()


def differences(where, measured, placed):
    out = []
    for name, rect in placed.items():
        got = measured.get(name)
        if got is None or max(abs(a - b) for a, b in zip(got, rect)) > TOLERANCE:
            out.append("%s: %s stands at %s in QGIS, the core placed it at %s" % (where, name, got, rect))
    return out


app = QgsApplication([], False)
app.initQgis()
core = Core()
project = QgsProject.instance()
layer = coverage(project)
rng = random.Random(seed)
failures, placements = [], 0
for index in range(count):
    generator = Generator(rng, project, layer, index)
    layout = generator.layout
    session = LayoutSession(core, layout)
    give_records(core, session, generator)
    session.follow_atlas()
    atlas = layout.atlas()
    atlas.beginRender()
    for i in range(PAGES):
        atlas.seekTo(i)
        result = session.last_result
        where = "layout %d (seed %d), page %d" % (index, seed, i + 1)
        if result is None:
            failures.append("%s: not placed: %s" % (where, session.last_failure))
            continue
        placed = {e["name"]: e["rect"] for e in result["record"]["elements"]}
        measured = {name: session.rect_of(item) for name, item in session._items.items()}
        failures += differences(where, measured, placed)
        placements += sum(1 for e in result["record"]["elements"] if e.get("anchored"))
    atlas.endRender()
    session.close()
    project.layoutManager().removeLayout(layout)

app.exitQgis()
if failures:
    print("FAILED: %d differences; the first:\n  %s" % (len(failures), "\n  ".join(failures[:15])))
    sys.exit(1)
print("%d generated layouts, %d pages each: every item where the core placed it (%d placements)"
      % (count, PAGES, placements))
