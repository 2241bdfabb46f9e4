"""Starts the anchoring wherever QGIS loads the plugin: the desktop and Processing (qgis_process)."""
import os

from qgis.core import Qgis, QgsApplication, QgsMessageLog, QgsProject, QgsSettings
from qgis.PyQt.QtCore import QCoreApplication, QLocale, QTranslator

from .core import Core, CoreUnavailable
from .project import LOG_TAG, ProjectAnchoring
from .provider import AnchorProvider


def translator():
    """The plugin's words in the language QGIS runs in, when the plugin has it; else None."""
    locale = str(QgsSettings().value("locale/userLocale", QLocale().name()) or "")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "i18n", "crvanchor_%s.qm" % locale[:2])
    t = QTranslator()
    return t if os.path.isfile(path) and t.load(path) else None


class CrvAnchorPlugin:
    def __init__(self, iface):
        self.iface = iface
        self.translator = translator()
        if self.translator is not None:
            QCoreApplication.installTranslator(self.translator)
        self.provider = None
        self.anchoring = None
        self.desktop = None
        self.check = None
        self.load_error = ""

    def initProcessing(self):
        """What qgis_process calls alone: the anchoring of the project's layouts and the provider."""
        if self.provider is not None:
            return
        try:
            core = Core()
        except CoreUnavailable as e:
            # One line in QGIS's log and from the algorithm, never a traceback.
            self.load_error = str(e)
            QgsMessageLog.logMessage(self.load_error, LOG_TAG, Qgis.MessageLevel.Critical)
        else:
            self.anchoring = ProjectAnchoring(core, QgsProject.instance())
            from .checks import AnchorValidityCheck
            self.check = AnchorValidityCheck(self.anchoring)
            QgsApplication.validityCheckRegistry().addCheck(self.check)
        self.provider = AnchorProvider(self.load_error, self.anchoring)
        QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()
        if self.iface is None:
            return
        if self.load_error:
            self.iface.messageBar().pushCritical("CRVAnchor", self.load_error)
            return
        from .dock import DesignerDocks
        self.desktop = DesignerDocks(self.iface, self.anchoring)

    def unload(self):
        if self.desktop is not None:
            self.desktop.close()
            self.desktop = None
        if self.check is not None:
            QgsApplication.validityCheckRegistry().removeCheck(self.check)
            self.check = None
        if self.anchoring is not None:
            self.anchoring.close()
            self.anchoring = None
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
        if self.translator is not None:
            QCoreApplication.removeTranslator(self.translator)
            self.translator = None
