"""A print layout's atlas written as a book, each page anchored by the layout's session: the PDF
through QGIS's own exporter, a PNG a page, the JSON report, the layout checks' findings.
What the Processing algorithm runs, and what the command runs."""
import os

from qgis.core import (
    QgsAbstractLayoutIterator,
    QgsFeature,
    QgsLayoutExporter,
    QgsLayoutItemGroup,
    QgsLayoutItemMap,
    QgsRectangle,
)
from qgis.PyQt.QtCore import QPointF, QRectF, QSize, Qt
from qgis.PyQt.QtGui import QColor, QPainter, QPen, QPolygonF

from . import files
from .session import fit_enclosing_groups


class BookError(Exception):
    """A book that cannot be made, in one line: nothing was replaced."""


def page_ranges_text(pages):
    """1, 2, 3, 7 as "1-3, 7"."""
    runs = []
    for p in sorted(set(pages)):
        if runs and runs[-1][1] == p - 1:
            runs[-1][1] = p
        else:
            runs.append([p, p])
    return ", ".join(str(a) if a == b else "%d-%d" % (a, b) for a, b in runs)


class CheckLog:
    """The layout checks' findings of a book: each item's finding of one kind (each pair's, for
    overlaps) with the pages it was found on, told as one line each."""

    def __init__(self):
        self._pages = {}  # (kind, element, other) -> pages, in the order first found

    def add(self, page, record):
        for f in record.get("checks", []):
            self._pages.setdefault((f["kind"], f["element"], f.get("other", "")), []).append(page)

    def lines(self):
        out = []
        for (kind, element, other), pages in self._pages.items():
            if kind == "data_defined":
                continue
            what = " off the page" if kind == "off_page" else ' overlaps "%s"' % other
            out.append('"%s"%s on page%s %s' % (element, what, "" if len(pages) == 1 else "s", page_ranges_text(pages)))
        return out

    def data_defined(self):
        return sorted({e for (kind, e, _o) in self._pages if kind == "data_defined"})

    def count(self):
        return len(self._pages)


def make_folder(path, what):
    try:
        os.makedirs(path, exist_ok=True)
    except OSError as e:
        raise BookError("%s %s: cannot make the folder: %s" % (what, path, e.strerror or e))


def picture_name(page, layout_page):
    """A page's picture: page-007.png, and page-007-2.png for the layout's second page."""
    return "page-%03d.png" % page if layout_page <= 1 else "page-%03d-%d.png" % (page, layout_page)


def paint_outlines(image, drawn, layout_page):
    """Each outline of an item on this layout page, drawn on its picture."""
    colour = QColor(*drawn["rgb"])
    painter = QPainter(image)
    painter.setRenderHint(QPainter.RenderHint.Antialiasing)
    for o in drawn["outlines"]:
        if o["layout_page"] != layout_page:
            continue
        painter.setBrush(Qt.BrushStyle.NoBrush)
        painter.setPen(QPen(colour, o["pen"]))
        painter.drawRect(QRectF(*o["box"]))
        if o["dot"]:
            (x, y), r = o["dot"]
            painter.drawEllipse(QPointF(x, y), r, r)
        if o["line"]:
            painter.setPen(QPen(colour, o["pen"], Qt.PenStyle.DashLine if o["dashed"] else Qt.PenStyle.SolidLine))
            painter.drawLine(QPointF(*o["line"][0]), QPointF(*o["line"][1]))
        if o["head"]:
            painter.setPen(Qt.PenStyle.NoPen)
            painter.setBrush(colour)
            painter.drawPolygon(QPolygonF([QPointF(*p) for p in o["head"]]))
    painter.end()


class AnchoredPages(QgsAbstractLayoutIterator):
    """The chosen pages of the atlas, each anchored before QGIS draws it. A failure inside
    QGIS's export is kept and raised after it."""

    def __init__(self, session, pages, first, report, on_page):
        super().__init__()
        self._session = session
        self._pages = pages
        self._first = first
        self._report = report
        self._on_page = on_page
        self._next = 0
        self.failure = None
        atlas = session.atlas
        self._atlas = atlas if atlas is not None and atlas.enabled() else None

    def layout(self):
        return self._session.layout

    def take_failure(self):
        """What stopped the pages, no longer kept here: its traceback holds this iterator."""
        failure, self.failure = self.failure, None
        return failure

    def beginRender(self):
        self._next = 0
        # The atlas's render describes the layout afresh: the report starts on that mirror.
        begun = self._atlas.beginRender() if self._atlas is not None else True
        try:
            if self._session.mirror is None:
                self._session.open()
            if self._report:
                self._session.mirror.start_report(self._report)
        except BaseException as e:  # noqa: BLE001 - raised after QGIS's export, never through it
            self.failure = e
        return begun

    def endRender(self):
        try:
            if self._report and self.failure is None and self._session.mirror is not None:
                self._session.mirror.finish_report()
        except BaseException as e:  # noqa: BLE001 - raised after QGIS's export, never through it
            self.failure = e
        if self._atlas is not None:
            return self._atlas.endRender()
        return True

    def count(self):
        return len(self._pages)

    def filePath(self, base, _extension):
        return base

    def next(self):
        if self.failure is not None or self._next >= len(self._pages):
            return False
        page = self._pages[self._next]
        self._next += 1
        try:
            if self._atlas is not None:
                # The session follows the atlas: the seek places the page.
                if not self._atlas.seekTo(page - self._first):
                    raise BookError("QGIS's atlas cannot go to page %d" % page)
            else:
                self._session.place_lone_page(page)
            if self._session.last_failure is not None:
                raise BookError(self._session.last_failure)
            self._on_page(self._next, page)
        except BaseException as e:  # noqa: BLE001 - raised after QGIS's export, never through it
            self.failure = e
            return False
        return True


def pdf_settings(layout):
    """The PDF settings the layout keeps from its designer's last PDF export (text as outlines
    or text, vectors forced, georeference, metadata, simplified geometries, printed as a raster),
    as QGIS's own export from the designer uses them."""
    settings = QgsLayoutExporter.PdfExportSettings()
    settings.flags = layout.renderContext().flags()

    def flag(key, default):
        value = layout.customProperty(key, default)
        return str(value).lower() not in ("0", "false", "")
    settings.rasterizeWholeImage = flag("rasterize", 0)
    settings.forceVectorOutput = flag("forceVector", 0)
    settings.appendGeoreference = flag("pdfAppendGeoreference", 1)
    settings.exportMetadata = flag("pdfIncludeMetadata", 1)
    settings.simplifyGeometries = flag("pdfSimplify", 1)
    text_format = layout.customProperty("pdfTextFormat", -1)
    try:
        if int(text_format) >= 0:
            settings.textRenderFormat = type(settings.textRenderFormat)(int(text_format))
    except (TypeError, ValueError):
        pass  # a value the designer did not write: QGIS's default
    return settings


def put_back(session, places, extents):
    """With no atlas page shown before the book: every item where it stood, its groups fitted
    again, the maps' extents and the atlas as they were (a single-page export after the checks
    prints the layout, not the book's last page); the mirror, which knows the book's last page,
    is described afresh when next needed."""
    for item, extent in extents.items():
        try:
            item.setExtent(extent)
        except RuntimeError:
            pass  # deleted meanwhile
    if session.atlas is not None:
        session.atlas.updateFeatures()  # before the first feature again, as before the book
        session.layout.reportContext().setFeature(QgsFeature())
    moved = []
    for item, place in places.items():
        try:
            if item.positionWithUnits() != place:
                item.attemptMove(place)
                moved.append(item)
        except RuntimeError:
            pass  # deleted meanwhile
    fit_enclosing_groups(moved)
    session.forget_mirror()


class Book:
    """One run over a layout's session; `feedback` is told the progress and may cancel."""

    def __init__(self, session, pages="", check_overlap=False, feedback=None, before_drawing=None, outline=False,
                 put_back=True):
        """`before_drawing(done, page)` is told each page once it is placed, before it is drawn,
        and may stop the book with a BookError; `outline` draws the anchoring on the PNG pages;
        `put_back` leaves the layout as it was before the book (else as its last page left it)."""
        self.session = session
        self.put_back = put_back
        self.before_drawing = before_drawing
        self.outline = outline
        self.check_overlap = check_overlap
        self.feedback = feedback
        self.checks = CheckLog()
        self.error_reports = []
        self.pages_text = pages
        self.pages = []
        self.left_out = []  # (name, why): anchored items the book did not place

    def run(self, pdf=None, png=None, dpi=None, report=None):
        session = self.session
        atlas = session.atlas if session.atlas is not None and session.atlas.enabled() else None
        shown = atlas.currentFeatureNumber() if atlas is not None else -1
        stack = session.layout.undoStack()
        # The book's steps (QGIS's own group refits among them) go into no undo history.
        stack.blockCommands(True)
        try:
            session.begin_book()
            places = {item: item.positionWithUnits() for item in session._items.values()
                      if not isinstance(item, QgsLayoutItemGroup)}
            extents = {item: QgsRectangle(item.extent()) for item in session._items.values()
                       if isinstance(item, QgsLayoutItemMap)}
            try:
                return self._run(pdf, png, dpi, report)
            finally:
                session.end_book()
                session.check_overlap = False
                # The layout as the user left it: the page previewed, or every item in its place.
                if shown >= 0:
                    atlas.seekTo(shown)
                elif self.put_back:
                    put_back(session, places, extents)
        finally:
            stack.blockCommands(False)

    def _run(self, pdf, png, dpi, report):
        session = self.session
        first = session.mirror.pages()[0]
        self.pages = session.mirror.parse_pages(self.pages_text.strip())
        for path, what in ((pdf, "PDF"), (report, "Report")):
            if path:
                make_folder(os.path.dirname(os.path.abspath(path)), what)
        if png:
            make_folder(png, "PNG folder")
        layout = session.layout
        exporter = QgsLayoutExporter(layout)
        resolution = dpi or layout.renderContext().dpi()

        def on_page(done, page):
            result = session.last_result
            self.checks.add(page, result["record"])
            self.error_reports += result["error_reports"]
            if self.before_drawing is not None:
                self.before_drawing(done, page)
            if png:
                pages = layout.pageCollection()
                for index in range(pages.pageCount()):
                    if not pages.shouldExportPage(index):
                        continue
                    image = exporter.renderPageToImage(index, QSize(), resolution)
                    if self.outline and not image.isNull():
                        height = pages.page(index).rect().height()
                        scale = image.width() / pages.page(index).rect().width()
                        paint_outlines(image, session.mirror.outlines(page, scale, height), index)
                    name = os.path.join(png, picture_name(page, index + 1))
                    temporary = files.temporary_beside(name, ".png")
                    if image.isNull() or not image.save(temporary, "PNG"):
                        files.discard(temporary)
                        raise BookError("%s: cannot write the picture of page %d" % (name, page))
                    files.put_in_place(temporary, name)
            if self.feedback is not None:
                self.feedback.setProgress(100.0 * done / len(self.pages))
                if self.feedback.isCanceled():
                    raise BookError("stopped after %d of %d pages: cancelled; the PDF was not written"
                                    % (done, len(self.pages)))

        session.check_overlap = self.check_overlap
        iterator = AnchoredPages(session, self.pages, first, report, on_page)
        if pdf:
            temporary = files.temporary_beside(pdf, ".pdf")
            try:
                status, error = QgsLayoutExporter.exportToPdf(iterator, temporary, pdf_settings(layout))
                if iterator.failure is not None:
                    raise iterator.take_failure()
                if status != QgsLayoutExporter.ExportResult.Success:
                    raise BookError("%s: cannot write: %s" % (pdf, error or "QGIS could not export the page"))
                # QGIS's writer does not see a full disk: what it wrote is read back before it
                # replaces the former PDF.
                defect = session.core.pdf_defect(temporary)
                if defect:
                    raise BookError("%s: cannot write: the PDF written is not whole (%s); the former file is left as "
                                    "it was" % (pdf, defect))
                files.put_in_place(temporary, pdf)
            finally:
                files.discard(temporary)
        else:
            iterator.beginRender()
            while iterator.next():
                pass
            iterator.endRender()
            if iterator.failure is not None:
                raise iterator.take_failure()
        if session.mirror is not None:
            self.left_out = [(left["element"], left["reason"]) for left in session.mirror.selection()["left_out"]]
        return self
