"""One print layout mirrored in the anchoring core: described once as the core reads a layout,
then, page by page, told what QGIS changed (the atlas feature, items QGIS resized), asked where
the anchored items go, and the moves applied to the layout's items.

Rectangles cross to the core in the layout's units on the page an item stands on, y growing up
the page as the core measures; QGIS's scene grows y down, its pages stacked one below another."""
import datetime
import math
import re

from qgis.core import (
    Qgis,
    QgsExpressionContextUtils,
    QgsLayoutItem,
    QgsLayoutItemGroup,
    QgsLayoutItemLabel,
    QgsLayoutItemLegend,
    QgsLayoutItemMap,
    QgsLayoutItemPage,
    QgsLayoutItemPicture,
    QgsLayoutObject,
    QgsMessageLog,
    QgsProperty,
    QgsUnitTypes,
)

from qgis.PyQt.QtGui import QImage, QPainter
from qgis.PyQt.QtWidgets import QStyleOptionGraphicsItem

from .core import CoreError

# The core's field kinds, as the map series interface reports them.
FIELD_INTEGER, FIELD_DOUBLE, FIELD_STRING, FIELD_DATE, FIELD_OBJECT_ID, FIELD_BLOB = 1, 3, 4, 5, 6, 8
ID_FIELD = "OBJECTID"
FIRST_PAGE_PROPERTY = "crvanchor/first_page"
# How many pages of the layout every atlas feature prints (a map page and a notes page): odd and
# even pages then count printed pages.
PAGES_PER_FEATURE_PROPERTY = "crvanchor/pages_per_feature"
MAX_PAGES_PER_FEATURE = 1000
PAGE_VARIABLE = "crvanchor_page"
RECORD_PREFIX = "crvanchor"
INT32 = (-2 ** 31, 2 ** 31 - 1)


def is_record_key(key):
    """Whether a custom property of an item is part of its anchor record (one compact
    property, or one a value)."""
    return key == RECORD_PREFIX or key.startswith(RECORD_PREFIX + "/")


def is_element(item):
    return isinstance(item, QgsLayoutItem) and not isinstance(item, QgsLayoutItemPage)


def drawing_order(items):
    """Items in drawing order: ascending stacking order, ties as given."""
    return sorted(items, key=lambda i: i.zValue())


def tagged(value):
    """A feature's value as the core's description tags it."""
    if value is None or (hasattr(value, "isNull") and value.isNull()):
        return {"kind": "null"}
    if isinstance(value, bool):
        return {"kind": "int32", "value": 1 if value else 0}
    if isinstance(value, int):
        if INT32[0] <= value <= INT32[1]:
            return {"kind": "int32", "value": value}
        return {"kind": "double", "value": float(value)}
    if isinstance(value, float):
        if math.isfinite(value):
            return {"kind": "double", "value": value}
        # As the description names a double that is not finite: JSON has no such number.
        return {"kind": "double", "value": "NaN" if math.isnan(value) else "Infinity" if value > 0 else "-Infinity"}
    if isinstance(value, (datetime.date, datetime.datetime)):
        return {"kind": "string", "value": value.isoformat()}
    if isinstance(value, datetime.time):
        return {"kind": "string", "value": value.isoformat()}
    if hasattr(value, "toPyDateTime"):
        return {"kind": "string", "value": value.toPyDateTime().isoformat()}
    if hasattr(value, "toPyDate"):
        return {"kind": "string", "value": value.toPyDate().isoformat()}
    if hasattr(value, "toPyTime"):
        return {"kind": "string", "value": value.toPyTime().isoformat()}
    return {"kind": "string", "value": str(value)}


def field_kind(field):
    name = field.typeName().lower()
    if name in ("bool", "boolean"):
        return FIELD_INTEGER  # read as 0 and 1
    if field.isNumeric():
        return FIELD_DOUBLE if any(w in name for w in ("real", "double", "float", "numeric", "decimal")) else FIELD_INTEGER
    if "date" in name or "time" in name:
        return FIELD_DATE
    if "blob" in name or "binary" in name:
        return FIELD_BLOB
    return FIELD_STRING


def quoted(text, limit=60):
    """A value in a message, quoted, its control characters and bytes that are not UTF-8 (a
    path's, as Python keeps them) escaped, long ones cut."""
    out = []
    for ch in text[:limit]:
        if "\udc80" <= ch <= "\udcff":
            out.append("\\x%02X" % (ord(ch) - 0xDC00))
        elif ch in '"\\':
            out.append("\\" + ch)
        elif ch in "\n\t\r":
            out.append({"\n": "\\n", "\t": "\\t", "\r": "\\r"}[ch])
        elif ord(ch) < 0x20 or ord(ch) == 0x7F or 0x80 <= ord(ch) < 0xA0:
            out.append("\\x%02X" % ord(ch) if ord(ch) < 0x80 else "\\u%04X" % ord(ch))
        else:
            out.append(ch)
    cut = "" if len(text) <= limit else "... (%d bytes)" % len(text.encode("utf-8", "surrogateescape"))
    return '"%s"%s' % ("".join(out), cut)


class LayoutSettingError(ValueError):
    """A setting of the layout's it cannot have; `reason` says why, without the layout's name."""

    def __init__(self, layout, reason):
        super().__init__("The layout %s: %s" % (quoted(layout.name()), reason))
        self.reason = reason


def _whole_setting(layout, key, low, high):
    value = layout.customProperty(key, 1)
    text = str(value) if value is not None else ""
    if not re.fullmatch(r"[+-]?[0-9]+", text) or not low <= int(text) <= high:
        raise LayoutSettingError(layout, "its custom property %s is %s, not a whole number from %d to %d"
                                 % (key, quoted(text), low, high))
    return int(text)


def first_page_number(layout):
    """The book's first page number: the layout's crvanchor/first_page, else 1."""
    # The page numbers of a map series are 16-bit whole numbers.
    return _whole_setting(layout, FIRST_PAGE_PROPERTY, -32768, 32767)


def pages_per_feature(layout):
    """How many printed pages each atlas feature makes: the layout's crvanchor/pages_per_feature,
    else 1 (odd and even pages count the features)."""
    return _whole_setting(layout, PAGES_PER_FEATURE_PROPERTY, 1, MAX_PAGES_PER_FEATURE)



def fit_enclosing_groups(items):
    """Fits every group around the moved items, innermost first, to its members again (the
    union of their rectangles, frames left out) without moving them, as QGIS fits a group it
    makes: a stale group box makes its items jump when the user next drags it. The group's own
    move would carry its members along and record each as an undo step: its base item's does
    not."""
    groups, seen = [], set()
    for item in items:
        depth, group = 0, item.parentGroup()
        while group is not None:
            depth += 1
            if id(group) not in seen:
                seen.add(id(group))
                groups.append((depth, group))
            group = group.parentGroup()
    layout = items[0].layout() if items else None
    for _depth, group in sorted(groups, key=lambda g: -g[0]):
        united = None
        for member in group.items():
            if member is not None:
                r = member.mapRectToScene(member.rect())
                united = r if united is None else united.united(r)
        if united is None:
            continue
        reference = group.referencePoint()
        group.setReferencePoint(QgsLayoutItem.ReferencePoint.UpperLeft)
        QgsLayoutItem.attemptResize(group, layout.convertFromLayoutUnits(united.size(), group.sizeWithUnits().units()))
        QgsLayoutItem.attemptMove(group, layout.convertFromLayoutUnits(united.topLeft(), group.positionWithUnits().units()))
        group.setReferencePoint(reference)


def reads_page_variable(item):
    """Whether the item's text or one of its data-defined properties names @crvanchor_page."""
    if PAGE_VARIABLE in (item.text() if isinstance(item, QgsLayoutItemLabel) else ""):
        return True
    properties = item.dataDefinedProperties()
    return any(PAGE_VARIABLE in properties.property(key).expressionString() for key in properties.propertyKeys())


# Each coordinate QGIS may set from data, and the custom property that marks an expression for it
# as the position the command baked (its text).
BAKE_MARKS = ((QgsLayoutObject.DataDefinedProperty.PositionX, "crvanchor-bake/x"),
              (QgsLayoutObject.DataDefinedProperty.PositionY, "crvanchor-bake/y"))
COORDINATES = tuple(prop for prop, _mark in BAKE_MARKS)


def baked(item, prop):
    """Whether the item's data-defined coordinate is a position the command baked for QGIS
    without the plugin (it places the item where the anchoring would): the expression the mark
    keeps, as the bake wrote it. One edited since is the user's."""
    mark = item.customProperty(dict(BAKE_MARKS)[prop])
    if mark is None:
        return False
    p = item.dataDefinedProperties().property(prop)
    return p.propertyType() == QgsProperty.Type.ExpressionBasedProperty and p.expressionString() == str(mark)


def move_past_bake(item, dx, dy):
    """Moves the item by (dx, dy) in layout units. QGIS's move applies an active data-defined
    position over the one asked for: a position the command baked is switched off for the move
    and on again, so that a record edited since the bake places the item at once."""
    properties = item.dataDefinedProperties()
    lifted = [prop for prop in COORDINATES if properties.isActive(prop) and baked(item, prop)]
    for prop in lifted:
        p = properties.property(prop)
        p.setActive(False)
        properties.setProperty(prop, p)
    if lifted:
        item.setDataDefinedProperties(properties)
    item.attemptMoveBy(dx, dy)
    if lifted:
        properties = item.dataDefinedProperties()
        for prop in lifted:
            p = properties.property(prop)
            p.setActive(True)
            properties.setProperty(prop, p)
        item.setDataDefinedProperties(properties)


def data_defined_coordinates(item):
    """"X", "Y", "X and Y" or "": the coordinates QGIS sets from data, bakes left aside."""
    properties = item.dataDefinedProperties()
    found = [name for name, prop in (("X", QgsLayoutObject.DataDefinedProperty.PositionX),
                                     ("Y", QgsLayoutObject.DataDefinedProperty.PositionY))
             if properties.isActive(prop) and not baked(item, prop)]
    return " and ".join(found)


def why_move_does_not_hold(item):
    """Why a move of the item would not hold, QGIS setting its position (or a member's) from
    data; empty when it holds."""
    own = data_defined_coordinates(item)
    if own:
        return "QGIS sets its position from data (data-defined %s), so a move would not hold" % own
    if isinstance(item, QgsLayoutItemGroup):
        for member in item.items():
            if member is not None and data_defined_coordinates(member):
                return ('QGIS sets the position of its member "%s" from data (data-defined %s), so a move would '
                        "not hold" % (member.id(), data_defined_coordinates(member)))
    return ""


def same_rect(a, b, tolerance=1e-9):
    return max(abs(x - y) for x, y in zip(a, b)) <= tolerance


class LayoutSession:
    """A print layout's mirror in the core, kept between the atlas's pages."""

    def __init__(self, core, layout, log=None):
        self.core = core
        self.layout = layout
        self.pages = layout.pageCollection()
        self.atlas = layout.atlas() if hasattr(layout, "atlas") else None
        self._items = {}  # name -> item
        self._item_pages = {}  # name -> the layout page the item was described on
        self._known = {}  # name -> the rectangle the core knows
        self._id_field = True
        self.mirror = None
        self.errors = []
        self._described = set()  # what the description holds once (the atlas's series)
        self._following = None  # the atlas's signals and the slots connected to them
        self.check_overlap = False  # asked on every page the atlas steps to
        self.last_result = None  # the core's answer for the page placed last
        self.last_failure = None  # why the page the atlas stepped to last was not placed
        self._page = None  # the page placed last
        self._page_frames = {}  # a layout page's index -> the scene y of its foot
        self._numbers_pages = False  # whether an item reads @crvanchor_page
        self.left_out = {}  # name -> why QGIS, not the anchoring, places the item
        self.reopened = []  # told after the mirror was opened afresh
        self._told = False  # a failure was logged in this render
        self._seen = {}  # name -> the item's scene bounding box when the core was last told it
        self._book = False  # a book runs: described and placed with no anchored item too
        self.document = None  # how the report and messages name the layout; its name when None
        self._log = log or (lambda m: QgsMessageLog.logMessage(m, "CRVAnchor", Qgis.MessageLevel.Warning))

    # ------------------------------------------------------------------ measuring

    def _page_of(self, item):
        top = item
        while top.parentGroup() is not None:
            top = top.parentGroup()
        corner = top.mapRectToScene(top.rect()).topLeft() if not isinstance(top, QgsLayoutItemGroup) \
            else self._scene_outline(top).topLeft()
        return max(0, self.pages.pageNumberForPoint(corner))

    def _scene_outline(self, item):
        if not isinstance(item, QgsLayoutItemGroup):
            return item.mapRectToScene(item.rect())
        united = None
        for member in item.items():
            if member is None:
                continue
            b = self._scene_outline(member) if isinstance(member, QgsLayoutItemGroup) \
                else member.mapRectToScene(member.rectWithFrame())
            united = b if united is None else united.united(b)
        return united if united is not None else item.mapRectToScene(item.rect())

    def _scene_bounds(self, item):
        """What the core reports of an item: its rectangle with its frame (a group's: its
        members' union)."""
        if isinstance(item, QgsLayoutItemGroup):
            return self._scene_outline(item)
        return item.mapRectToScene(item.rectWithFrame())

    def _point_on_page(self, point, page):
        """A scene point as the core measures it on `page`: y up from the page's foot."""
        frame = self._page_frames.get(page)
        if frame is None:
            # Kept while the mirror is open: asking QGIS for a page costs more than the sum.
            p = self.pages.page(page)
            frame = self._page_frames[page] = (p.pos().y() + p.rect().height())
        return [point.x(), frame - point.y()]

    def _on_page(self, scene_rect, page):
        """A scene rectangle as the core measures it on `page`."""
        left, bottom = self._point_on_page(scene_rect.bottomLeft(), page)
        right, top = self._point_on_page(scene_rect.topRight(), page)
        # An item QGIS has not sized yet (a scale bar before its map is drawn) has no width:
        # measured as a line at its finite edge.
        if not math.isfinite(right):
            right = left if math.isfinite(left) else 0.0
        if not math.isfinite(left):
            left = right
        if not math.isfinite(top):
            top = bottom if math.isfinite(bottom) else 0.0
        if not math.isfinite(bottom):
            bottom = top
        return [left, bottom, right, top]

    def rect_of(self, item):
        """The item's rectangle on its page as the core reports it in moves and in the book's
        report: with its frame, but a map frame's without (the frame is drawn around the map's
        extent); a group's is its members' union."""
        if isinstance(item, QgsLayoutItemMap):
            return self.outline_of(item)
        return self._on_page(self._scene_bounds(item), self._described_page(item))

    def outline_of(self, item):
        """The item's own rectangle on its page, as the core is told it."""
        return self._on_page(self._scene_outline(item), self._described_page(item))

    def _described_page(self, item):
        """The page the core has the item on: the one it stood on when described, so that an item
        pushed past its page's foot is measured where the core put it, not on the next page."""
        page = self._item_pages.get(item.id())
        return page if page is not None else self._page_of(item)

    # ------------------------------------------------------------------ describing

    def _page_size(self, page):
        """{"page_size": [w, h]} for a layout page whose size is not the first page's, else {}."""
        size, first = self.pages.page(page).rect(), self.pages.page(0).rect()
        if page == 0 or (size.width(), size.height()) == (first.width(), first.height()):
            return {}
        return {"page_size": [size.width(), size.height()]}

    def _element(self, item):
        page = self._page_of(item)
        self._item_pages.setdefault(item.id(), page)
        kind = ("group" if isinstance(item, QgsLayoutItemGroup) else "map_frame" if isinstance(item, QgsLayoutItemMap)
                else "picture" if isinstance(item, QgsLayoutItemPicture) else "text")
        stored = {k: str(item.customProperty(k)) for k in item.customProperties()
                  if is_record_key(k)}
        why = why_move_does_not_hold(item)
        if why and stored:
            # QGIS would put it back on its next refresh: the core leaves it out, measured where
            # QGIS puts it.
            self.left_out[item.id()] = why
        outline, framed = item.rect(), item.rectWithFrame()
        element = {"kind": kind, "name": item.id(), "layout_page": page,
                   **self._page_size(page), **({"held": why} if why else {}),
                   "border": 0 if kind == "group" else max(0.0, (framed.width() - outline.width()) / 2),
                   "text": item.text() if hasattr(item, "text") and callable(item.text) else "",
                   "custom": self.core.read_record(stored)["custom"]}
        if kind != "group" and abs(item.rotation()) > 1e-12:
            polygon = item.mapToScene(item.rect())
            element["outline"] = [self._point_on_page(polygon.at(i), page) for i in range(4)]
        else:
            element["rect"] = self.outline_of(item)
        if kind == "group":
            element["members"] = [self._element(m) for m in drawing_order([m for m in item.items() if m is not None])]
        if (kind == "map_frame" and self.atlas is not None and self.atlas.coverageLayer() is not None
                and item.atlasDriven() and "series" not in self._described):
            element["series"] = self._series()
            self._described.add("series")
        # Items sharing an id: the first is the one the core finds by that name.
        self._items.setdefault(item.id(), item)
        if reads_page_variable(item):
            self._numbers_pages = True
        return element

    def _series(self):
        layer = self.atlas.coverageLayer()
        fields = layer.fields()
        provider = layer.dataProvider()
        id_column = (provider is not None and list(provider.pkAttributeIndexes()) == [0] and fields.count() > 0
                     and field_kind(fields.at(0)) == FIELD_INTEGER)
        self._id_field = not id_column
        described = [{"name": ID_FIELD, "type": FIELD_OBJECT_ID}] if self._id_field else []
        for i in range(fields.count()):
            described.append({"name": fields.at(i).name(),
                              "type": FIELD_OBJECT_ID if id_column and i == 0 else field_kind(fields.at(i))})
        # Outside a render the feature list may be stale; inside one, requerying it would put
        # the atlas back before its first feature.
        if self.atlas.currentFeatureNumber() < 0:
            self.atlas.updateFeatures()
        return {"name": layer.name(), "called": "the atlas's coverage layer %s" % quoted(layer.name()),
                "fields": described, "page_count": self.atlas.count(),
                "first_page": first_page_number(self.layout), "current_position": 1,
                "enabled": self.atlas.enabled(), "envelopes": []}

    def describe(self):
        """The layout as the core reads it."""
        self._items, self._described, self._numbers_pages, self.left_out = {}, set(), False, {}
        self._item_pages = {}
        top = [i for i in self.layout.items() if is_element(i) and i.parentGroup() is None]
        first = self.pages.page(0).rect()
        elements = [self._element(i) for i in drawing_order(top)]
        first_page = first_page_number(self.layout) if "series" in self._described else 1
        project = self.layout.project()
        return {"format": "crvanchor-snapshot", "version": 1,
                "document": self.document or (project.fileName() if project is not None else "") or self.layout.name(),
                "units": QgsUnitTypes.toAbbreviatedString(self.layout.units()), "page": [first.width(), first.height()],
                "elements": elements,
                # Before any page is placed, the book's first is in force.
                "series_layouts": [{"name": self.layout.name(),
                                    "current_page": {"kind": "int32", "value": first_page}}],
                "section_templates": [], "active_layout": {"name": self.layout.name(), "kind": "SeriesLayout"},
                "printed_pages_per_page": pages_per_feature(self.layout)}

    def open(self):
        self._close_mirror()
        self._page = None
        self._page_frames, self._seen = {}, {}
        self.mirror = self.core.open_mirror(self.describe(), self.document or self.layout.name())
        self._known = {name: self.rect_of(item) for name, item in self._items.items()}
        # What borrowed the former mirror (the dock's form) takes up the new one.
        for listener in list(self.reopened):
            listener()
        return self.mirror

    def close(self):
        self.stop_following()
        if self.mirror is not None:
            self.mirror.close()
            self.mirror = None

    # ------------------------------------------------------------------ following the atlas

    def follow_atlas(self):
        """Anchors every page the atlas steps to, however it is driven (QGIS's own export, the
        designer's preview, a script): described afresh when a render begins, placed on each
        feature."""
        if self.atlas is None or self._following:
            return
        self._following = [(self.atlas.renderBegun, self._render_begun),
                           (self.atlas.featureChanged, self._feature_changed)]
        for signal, slot in self._following:
            signal.connect(slot)

    def stop_following(self):
        for signal, slot in self._following or []:
            signal.disconnect(slot)
        self._following = None

    def has_records(self):
        """Whether any item of the layout holds an anchor record: a layout without one costs
        nothing as its atlas moves."""
        return any(is_record_key(k) for i in self.layout.items() if is_element(i) for k in i.customProperties())

    def begin_book(self):
        """Opened afresh for a book, which places and reports every page, anchored items or not."""
        self._book = True
        self.open()

    def end_book(self):
        self._book = False

    def _render_begun(self):
        # Described at the render's first feature, once QGIS has gathered the atlas's features
        # afresh (a coverage layer edited since the last render has another page count).
        self._close_mirror()
        self._told = False

    def _feature_changed(self, feature):
        self.last_result, self.last_failure = None, None
        # The end of a render says so with no feature: the page was placed when it was shown.
        if feature is not None and not feature.isValid():
            return

        def step():
            if self.mirror is None:
                if not (self._book or self.has_records()):
                    return
                self.open()
            page = first_page_number(self.layout) + self.atlas.currentFeatureNumber()
            self.last_result = self.place(page, self.check_overlap)
        self._guarded(step)

    def place_lone_page(self, page):
        """The layout's one page, with no atlas to step: placed as the atlas's pages are."""
        self.last_result, self.last_failure = None, None
        self._guarded(lambda: setattr(self, "last_result", self.place(page, self.check_overlap)))

    def _guarded(self, work):
        """Runs a step the atlas's signal asked for: a failure is one line in QGIS's log and in
        `errors`, never an exception through QGIS's export."""
        try:
            work()
        except Exception as e:  # noqa: BLE001 - nothing may pass into QGIS's export from here
            if not isinstance(e, (CoreError, ValueError)):
                # An item deleted or the atlas's layer removed under the mirror: described
                # afresh on the next page.
                self._close_mirror()
            message = "%s: %s" % (self.layout.name(), " ".join(str(e).split()) or type(e).__name__)
            self.last_failure = message
            self.errors.append(message)
            if not self._told:
                # Once a render: an export of 300 pages must not say the same 300 times.
                self._log(message)
                self._told = True

    def forget_mirror(self):
        """Closes the mirror: the next step describes the layout afresh."""
        self._close_mirror()

    def _close_mirror(self):
        if self.mirror is not None:
            self.mirror.close()
            self.mirror = None

    # ------------------------------------------------------------------ placing

    def feature_values(self, feature):
        values = [tagged(feature.id())] if self._id_field else []
        return values + [tagged(v) for v in feature.attributes()]

    def place(self, page, check_overlap=False):
        """Places the anchored items for `page`, the atlas's feature in force: QGIS's own
        resizes told first, the moves applied without an undo record. Returns the core's page."""
        if self.atlas is not None and self.atlas.enabled() and self.atlas.count() > 0:
            self.mirror.set_feature(page, self.feature_values(self.atlas.layout().reportContext().feature()))
        self.fit_legends()
        self.tell_moved()
        result = self.mirror.place_page(page, check_overlap)
        if self._page != page and self._numbers_pages:
            # The book's page number for labels: [% @crvanchor_page %]. Setting a layout variable
            # makes QGIS refresh the layout: only for a layout whose items read it.
            QgsExpressionContextUtils.setLayoutVariable(self.layout, PAGE_VARIABLE, result["printed_page"])
        self._page = page
        self.apply_moves(result["moves"])
        return result

    def fit_legends(self):
        """QGIS fits a legend to its contents (its entries filtered by the atlas feature) only
        when it paints it, after the page would have been anchored and measured: each such
        legend is painted once on a scrap picture at the layout's resolution, so that it has the
        size the page draws it at."""
        scrap = None
        for item in self._items.values():
            if not isinstance(item, QgsLayoutItemLegend) or not item.resizeToContents():
                continue
            if scrap is None:
                scrap = QImage(1, 1, QImage.Format.Format_ARGB32_Premultiplied)
                dots = round(self.layout.renderContext().dpi() / 0.0254)
                scrap.setDotsPerMeterX(dots)
                scrap.setDotsPerMeterY(dots)
            painter = QPainter(scrap)
            item.paint(painter, QStyleOptionGraphicsItem(), None)
            painter.end()

    def tell_moved(self):
        """Tells the core of every item moved or resized since it last knew it (QGIS's own
        resizes, the user's moves)."""
        for name, item in self._items.items():
            if isinstance(item, QgsLayoutItemGroup):
                continue
            # One call to QGIS an item: only a box that changed is measured as the core measures.
            box = item.sceneBoundingRect()
            if self._seen.get(name) == box:
                continue
            self._seen[name] = box
            now = self.rect_of(item)
            known = self._known.get(name)
            if known is None or not same_rect(now, known):
                self.mirror.set_rect(name, self.outline_of(item))
                self._known[name] = now

    def placed_page(self):
        """The page placed last since the mirror opened, or None."""
        return self._page

    def apply_moves(self, moves):
        """The core's moves applied to the layout's items, without an undo record of their own
        (an atlas step records none; the dock's Apply records them in its own step)."""
        stack = self.layout.undoStack()
        stack.blockCommands(True)
        moved = []
        try:
            # Each item by its own change: a group's members are listed whenever it moves, and a
            # group is listed when one anchored member moves alone.
            for move in moves:
                item = self._items.get(move["element"])
                old = self._known.get(move["element"])
                if item is not None and old is not None and not isinstance(item, QgsLayoutItemGroup):
                    dx, dy = move["rect"][0] - old[0], move["rect"][1] - old[1]
                    if dx or dy:
                        move_past_bake(item, dx, -dy)
                        moved.append(item)
                        self._seen[move["element"]] = item.sceneBoundingRect()
                self._known[move["element"]] = move["rect"]
            fit_enclosing_groups(moved)
        finally:
            stack.blockCommands(False)
