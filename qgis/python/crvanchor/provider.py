"""The Processing provider: the atlas of a print layout exported with every anchored item placed."""

import os

from qgis.core import (
    Qgis,
    QgsProcessingAlgorithm,
    QgsProcessingException,
    QgsProcessingOutputNumber,
    QgsProcessingParameterBoolean,
    QgsProcessingParameterFileDestination,
    QgsProcessingParameterFolderDestination,
    QgsProcessingParameterLayout,
    QgsProcessingParameterNumber,
    QgsProcessingParameterString,
    QgsProcessingProvider,
)
from qgis.PyQt.QtGui import QIcon

from .atlasbook import Book, BookError
from .core import CoreError
from .files import WriteError
from .session import LayoutSession

# Where later QGIS moved the number parameter's type, the old class's enum otherwise.
NUMBER_DOUBLE = (Qgis.ProcessingNumberParameterType.Double if hasattr(Qgis, "ProcessingNumberParameterType")
                 else QgsProcessingParameterNumber.Type.Double)

# The resolutions a page's picture is drawn at, as the command takes them.
DPI_RANGE = (10.0, 1200.0)

# Where the algorithm flags moved to in later QGIS, the old class's enum otherwise.
NO_THREADING = (Qgis.ProcessingAlgorithmFlag.NoThreading if hasattr(Qgis, "ProcessingAlgorithmFlag")
                else QgsProcessingAlgorithm.Flag.FlagNoThreading)

_ICON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icon.svg")


class AnchorProvider(QgsProcessingProvider):
    def __init__(self, load_error="", anchoring=None):
        super().__init__()
        self.load_error = load_error
        self.anchoring = anchoring

    def id(self):
        return "crvanchor"

    def name(self):
        return "CRVAnchor"

    def icon(self):
        return QIcon(_ICON)

    def loadAlgorithms(self):
        self.addAlgorithm(ExportAnchoredAtlas(self.load_error, self.anchoring))


class ExportAnchoredAtlas(QgsProcessingAlgorithm):
    LAYOUT, PAGES, PDF, PNG, DPI, REPORT, CHECK_OVERLAP, STRICT = (
        "LAYOUT", "PAGES", "PDF", "PNG", "DPI", "REPORT", "CHECK_OVERLAP", "STRICT")
    PAGE_COUNT, FINDING_COUNT, ERROR_REPORT_COUNT = "PAGE_COUNT", "FINDING_COUNT", "ERROR_REPORT_COUNT"

    def __init__(self, load_error="", anchoring=None):
        super().__init__()
        self.load_error = load_error
        self.anchoring = anchoring

    def createInstance(self):
        return ExportAnchoredAtlas(self.load_error, self.anchoring)

    def name(self):
        return "exportatlas"

    def displayName(self):
        return "Export atlas with anchoring"

    def group(self):
        return "Layouts"

    def groupId(self):
        return "layouts"

    def icon(self):
        return QIcon(_ICON)

    def shortHelpString(self):
        return ("Exports the atlas of a print layout with every anchored item placed for each page, as "
                "crvanchor-qgis does: a PDF, a PNG a page (page-001.png ...), a JSON report of every anchored "
                "item's rectangle on every page with the layout checks. Pages: a list such as 1-3,7 in the "
                "atlas's order (all when empty). Strict: findings of the checks fail the algorithm.")

    def flags(self):
        # The layout is the project's own, on the main thread as the designer's is.
        return super().flags() | NO_THREADING

    def initAlgorithm(self, config=None):
        # The project's first print layout chosen, as a user exporting "the atlas" expects.
        project = self.anchoring.project if self.anchoring is not None else None
        layouts = project.layoutManager().printLayouts() if project is not None else []
        self.addParameter(QgsProcessingParameterLayout(self.LAYOUT, "Print layout",
                                                       layouts[0].name() if layouts else None))
        self.addParameter(QgsProcessingParameterString(self.PAGES, "Pages (e.g. 1-3,7; all when empty)", optional=True))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.PDF, "PDF", "PDF files (*.pdf)", optional=True, createByDefault=False))
        self.addParameter(QgsProcessingParameterFolderDestination(
            self.PNG, "PNG folder (one picture a page)", optional=True, createByDefault=False))
        self.addParameter(QgsProcessingParameterNumber(
            self.DPI, "PNG resolution (dpi; the layout's export resolution when empty)",
            NUMBER_DOUBLE, None, True, DPI_RANGE[0], DPI_RANGE[1]))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.REPORT, "Report", "JSON files (*.json)", optional=True, createByDefault=False))
        self.addParameter(QgsProcessingParameterBoolean(self.CHECK_OVERLAP, "Check overlapping items", False))
        self.addParameter(QgsProcessingParameterBoolean(self.STRICT, "Fail on findings of the checks", False))
        self.addOutput(QgsProcessingOutputNumber(self.PAGE_COUNT, "Pages exported"))
        self.addOutput(QgsProcessingOutputNumber(self.FINDING_COUNT, "Findings of the layout checks"))
        self.addOutput(QgsProcessingOutputNumber(self.ERROR_REPORT_COUNT, "Error reports of the anchoring"))

    def processAlgorithm(self, parameters, context, feedback):
        if self.load_error:
            raise QgsProcessingException(self.load_error)
        layout = self.parameterAsLayout(parameters, self.LAYOUT, context)
        if layout is None:
            raise QgsProcessingException("No print layout named {}".format(parameters.get(self.LAYOUT)))
        outputs = {}
        for name in (self.PDF, self.REPORT):
            path = self.parameterAsFileOutput(parameters, name, context) if parameters.get(name) else ""
            outputs[name] = path or None
        png = self.parameterAsFileOutput(parameters, self.PNG, context) if parameters.get(self.PNG) else ""
        outputs[self.PNG] = png or None
        dpi = self.parameterAsDouble(parameters, self.DPI, context) if parameters.get(self.DPI) is not None else None
        # The project's own session when the layout is one of the watched project's; a session
        # of its own otherwise (a project Processing opened alone).
        own = self.anchoring is None or self.anchoring.project is not layout.project()
        session = LayoutSession(self.anchoring.core if self.anchoring else None, layout) if own \
            else self.anchoring.session(layout)
        if own:
            session.follow_atlas()
        book = Book(session, self.parameterAsString(parameters, self.PAGES, context),
                    self.parameterAsBoolean(parameters, self.CHECK_OVERLAP, context), feedback)
        try:
            book.run(outputs[self.PDF], outputs[self.PNG], dpi, outputs[self.REPORT])
        except (BookError, CoreError, ValueError, WriteError) as e:
            raise QgsProcessingException(str(e))
        finally:
            if own:
                session.close()
        for report in book.error_reports:
            feedback.reportError(" ".join(report.get("text", "").split()))
        for name, why in book.left_out:
            feedback.pushWarning('"%s" is left out of the atlas: %s' % (name, why))
        lines = book.checks.lines()
        for line in lines:
            feedback.pushWarning(line)
        if self.parameterAsBoolean(parameters, self.STRICT, context) and book.checks.count():
            raise QgsProcessingException("%d finding%s of the layout checks (strict)"
                                         % (book.checks.count(), "" if book.checks.count() == 1 else "s"))
        outputs.update({self.PAGE_COUNT: len(book.pages), self.FINDING_COUNT: book.checks.count(),
                        self.ERROR_REPORT_COUNT: len(book.error_reports)})
        return {k: v for k, v in outputs.items() if v is not None}
