"""Starts the anchoring wherever QGIS loads the plugin: the desktop and Processing (qgis_process)."""

from qgis.core import Qgis, QgsApplication, QgsMessageLog, QgsProject

from . import bridge
from .provider import AnchorProvider


class CrvAnchorPlugin:
    def __init__(self, iface):
        self.iface = iface
        self.provider = None
        self.desktop = None
        self.watching = False
        self.load_error = ""

    def initProcessing(self):
        """What qgis_process calls alone: the anchoring of the project's layouts and the provider."""
        if self.provider is not None:
            return
        error = bridge.load()
        self.load_error = error
        if error:
            QgsMessageLog.logMessage(error, "CRVAnchor", Qgis.MessageLevel.Critical)
        else:
            bridge.watch(QgsProject.instance())
            self.watching = True
        self.provider = AnchorProvider(error, None if error else bridge.dpi_range())
        QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()
        if self.iface is not None and self.watching:
            self.desktop = bridge.desktop_start(self.iface)
        elif self.iface is not None and self.load_error:
            self.iface.messageBar().pushCritical("CRVAnchor", self.load_error)

    def unload(self):
        if self.desktop is not None:
            bridge.desktop_stop(self.desktop)
            self.desktop = None
        if self.watching:
            bridge.unwatch(QgsProject.instance())
            self.watching = False
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
