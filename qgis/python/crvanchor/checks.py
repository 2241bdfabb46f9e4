"""The anchoring among QGIS's own checks before a layout is exported from the designer: items
left out of the anchoring, items off their page or overlapping on any page, what the engine
reported. The atlas is stepped through every page and put back where it was."""
import html

from qgis.core import QgsAbstractValidityCheck, QgsPrintLayout, QgsValidityCheckResult

from .atlasbook import Book, BookError
from .core import CoreError

CHECK_ID = "crvanchor_anchoring"


def warning(title, text):
    result = QgsValidityCheckResult()
    result.type = QgsValidityCheckResult.Type.Warning
    result.title = title
    result.detailedDescription = html.escape(text)
    return result


def findings(session, feedback=None):
    """Every page of the layout placed and checked, overlaps included: (title, one line) each."""
    atlas = session.atlas if session.atlas is not None and session.atlas.enabled() else None
    shown = atlas.currentFeatureNumber() if atlas is not None else -1
    stack = session.layout.undoStack()
    # The steps through the atlas (QGIS's own group refits among them) go into no undo history.
    stack.blockCommands(True)
    found = []
    try:
        book = Book(session, "", True, feedback).run()
        for left in session.mirror.selection()["left_out"] if session.mirror is not None else []:
            found.append(("Anchored item left out", '"%s" is left out of the atlas: %s' % (left["element"], left["reason"])))
        found += [("Anchored item off the page" if " off the page" in line else "Anchored items overlap", line)
                  for line in book.checks.lines()]
        found += [("Anchoring reported an error", " ".join(r.get("text", "").split())) for r in book.error_reports]
    except (BookError, CoreError, ValueError) as e:
        found.append(("Anchoring could not be checked", str(e)))
    finally:
        if shown >= 0:
            atlas.seekTo(shown)
        stack.blockCommands(False)
    return found


class AnchorValidityCheck(QgsAbstractValidityCheck):
    def __init__(self, anchoring):
        super().__init__()
        self.anchoring = anchoring
        self.results = []

    def create(self):
        return AnchorValidityCheck(self.anchoring)

    def id(self):
        return CHECK_ID

    def checkType(self):
        return QgsAbstractValidityCheck.Type.TypeLayoutCheck

    def prepareCheck(self, context, feedback):
        layout = getattr(context, "layout", None)
        if not isinstance(layout, QgsPrintLayout) or layout.project() is not self.anchoring.project:
            return False
        session = self.anchoring.session(layout)
        if session is None or not session.has_records():
            return False
        self.results = [warning(title, text) for title, text in findings(session, feedback)]
        return True

    def runCheck(self, _context, _feedback):
        return self.results
