"""The anchoring among QGIS's own checks before a layout is exported from the designer: items
left out of the anchoring, items off their page or overlapping on any page, what the engine
reported. The atlas is stepped through every page and put back where it was."""
import html

from qgis.core import QgsAbstractValidityCheck, QgsPrintLayout, QgsValidityCheckResult

from .atlasbook import Book

CHECK_ID = "crvanchor_anchoring"
# The layout checks' type by its later name where QGIS has it, by the old one otherwise.
LAYOUT_CHECK = getattr(QgsAbstractValidityCheck.Type, "LayoutCheck", None) or \
    QgsAbstractValidityCheck.Type.TypeLayoutCheck


def warning(title, text):
    result = QgsValidityCheckResult()
    result.type = QgsValidityCheckResult.Type.Warning
    result.title = title
    result.detailedDescription = html.escape(text)
    return result


def findings(session, feedback=None):
    """Every page of the layout placed and checked, overlaps included: (title, one line) each.
    The book leaves the atlas and the items as the user had them, and no undo history."""
    found = []
    try:
        book = Book(session, "", True, feedback).run()
        found += [("Anchored item left out", '"%s" is left out of the atlas: %s' % (name, why))
                  for name, why in book.left_out]
        found += [("Anchored item off the page" if " off the page" in line else "Anchored items overlap", line)
                  for line in book.checks.lines()]
        found += [("Anchoring reported an error", " ".join(r.get("text", "").split())) for r in book.error_reports]
    except Exception as e:  # noqa: BLE001 - a check must not stop QGIS's export dialog
        found.append(("Anchoring could not be checked", " ".join(str(e).split()) or type(e).__name__))
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
        return LAYOUT_CHECK

    def prepareCheck(self, context, feedback):
        layout = getattr(context, "layout", None)
        if not isinstance(layout, QgsPrintLayout) or layout.project() is not self.anchoring.project:
            return False
        try:
            session = self.anchoring.session(layout)
            if session is None or not session.has_records():
                return False
        except RuntimeError:
            return False  # the layout went away meanwhile
        self.results = [warning(title, text) for title, text in findings(session, feedback)]
        return True

    def runCheck(self, _context, _feedback):
        return self.results
