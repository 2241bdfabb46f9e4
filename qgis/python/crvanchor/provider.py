"""The Processing provider: the atlas of a print layout exported with every anchored item placed."""

import os

from qgis.core import (
    Qgis,
    QgsProcessing,
    QgsProcessingAlgorithm,
    QgsProcessingException,
    QgsProcessingOutputFile,
    QgsProcessingOutputFolder,
    QgsProcessingParameterBoolean,
    QgsProcessingParameterFileDestination,
    QgsProcessingParameterFolderDestination,
    QgsProcessingParameterLayout,
    QgsProcessingParameterNumber,
    QgsProcessingParameterString,
    QgsProcessingProvider,
)
from qgis.PyQt.QtGui import QIcon

from . import bridge

# Where the algorithm flags moved to in later QGIS, the old class's enum otherwise.
NO_THREADING = (Qgis.ProcessingAlgorithmFlag.NoThreading if hasattr(Qgis, "ProcessingAlgorithmFlag")
                else QgsProcessingAlgorithm.Flag.FlagNoThreading)

_ICON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icon.svg")


class AnchorProvider(QgsProcessingProvider):
    def __init__(self, load_error="", dpi_range=None):
        super().__init__()
        self.load_error = load_error
        self.dpi_range = dpi_range

    def id(self):
        return "crvanchor"

    def name(self):
        return "CRVAnchor"

    def icon(self):
        return QIcon(_ICON)

    def loadAlgorithms(self):
        self.addAlgorithm(ExportAnchoredAtlas(self.load_error, self.dpi_range))


class ExportAnchoredAtlas(QgsProcessingAlgorithm):
    LAYOUT, PAGES, PDF, PNG, DPI, REPORT, CHECK_OVERLAP, STRICT = (
        "LAYOUT", "PAGES", "PDF", "PNG", "DPI", "REPORT", "CHECK_OVERLAP", "STRICT")

    def __init__(self, load_error="", dpi_range=None):
        super().__init__()
        self.load_error = load_error
        # The command's own range, so that QGIS refuses what the command would, naming the
        # parameter; none when the library could not be loaded (the algorithm then says so).
        self.dpi_range = dpi_range

    def createInstance(self):
        return ExportAnchoredAtlas(self.load_error, self.dpi_range)

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
        self.addParameter(QgsProcessingParameterLayout(self.LAYOUT, "Print layout"))
        self.addParameter(QgsProcessingParameterString(self.PAGES, "Pages (e.g. 1-3,7; all when empty)", optional=True))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.PDF, "PDF", "PDF files (*.pdf)", optional=True, createByDefault=False))
        self.addParameter(QgsProcessingParameterFolderDestination(
            self.PNG, "PNG folder (one picture a page)", optional=True, createByDefault=False))
        lowest, highest = self.dpi_range or (0, 1e9)
        self.addParameter(QgsProcessingParameterNumber(
            self.DPI, "PNG resolution (dpi)", QgsProcessingParameterNumber.Type.Double, 100, minValue=lowest, maxValue=highest))
        self.addParameter(QgsProcessingParameterFileDestination(
            self.REPORT, "Report", "JSON files (*.json)", optional=True, createByDefault=False))
        self.addParameter(QgsProcessingParameterBoolean(self.CHECK_OVERLAP, "Check overlapping items", False))
        self.addParameter(QgsProcessingParameterBoolean(self.STRICT, "Fail on findings of the checks", False))
        self.addOutput(QgsProcessingOutputFile(self.PDF, "PDF"))
        self.addOutput(QgsProcessingOutputFolder(self.PNG, "PNG folder"))
        self.addOutput(QgsProcessingOutputFile(self.REPORT, "Report"))

    def processAlgorithm(self, parameters, context, feedback):
        if self.load_error:
            raise QgsProcessingException(self.load_error)
        layout = self.parameterAsLayout(parameters, self.LAYOUT, context)
        if layout is None:
            raise QgsProcessingException("No print layout named {}".format(parameters.get(self.LAYOUT)))
        options = []
        pages = self.parameterAsString(parameters, self.PAGES, context).strip()
        if pages:
            options += ["--pages", pages]
        outputs = {}
        for name, option in ((self.PDF, "--pdf"), (self.REPORT, "--report")):
            path = self.parameterAsFileOutput(parameters, name, context)
            if path:
                options += [option, path]
                outputs[name] = path
        png = self.parameterAsString(parameters, self.PNG, context)
        if png:
            png = self.parameterAsFileOutput(parameters, self.PNG, context)
            options += ["--png", png, "--dpi", repr(self.parameterAsDouble(parameters, self.DPI, context))]
            outputs[self.PNG] = png
        if self.parameterAsBoolean(parameters, self.CHECK_OVERLAP, context):
            options.append("--check-overlap")
        if self.parameterAsBoolean(parameters, self.STRICT, context):
            options.append("--strict")

        def page_done(done, total):
            feedback.setProgress(100.0 * done / max(total, 1))
            return not feedback.isCanceled()

        status, out, err = bridge.book(layout, options, page_done)
        for line in err.splitlines():
            feedback.pushInfo(line)
        for line in out.splitlines():
            feedback.pushInfo(line)
        if status != 0:
            last = err.strip().splitlines()[-1] if err.strip() else "failed (status {})".format(status)
            raise QgsProcessingException(last)
        return outputs
