"""Run by QGIS (--code) for qgis_designer_screenshot.sh: opens a layout designer, selects an
anchored item, and saves the designer window as CRV_SHOT once the dock has shown its page."""
import os

from qgis.core import (QgsLayoutItemShape, QgsLayoutPoint, QgsLayoutSize, QgsPrintLayout,
                       QgsProject, QgsUnitTypes)
from qgis.PyQt.QtCore import Qt, QTimer
from qgis.PyQt.QtWidgets import QApplication, QDockWidget
from qgis.utils import iface

RECORD = "crvanchor/CorvaneProperties/AnchorProperties"


def anchored(item):
    return any(key.startswith(RECORD) for key in item.customProperties())


def small_layout(project):
    """A page with a frame anchored to the page's lower right corner, 0.5 in from it."""
    layout = QgsPrintLayout(project)
    layout.initializeDefaults()
    layout.setName("Anchor demo")
    box = QgsLayoutItemShape(layout)
    box.setId("Inset Frame")
    box.attemptMove(QgsLayoutPoint(20, 20, QgsUnitTypes.LayoutMillimeters))
    box.attemptResize(QgsLayoutSize(80, 50, QgsUnitTypes.LayoutMillimeters))
    for key, value in (("AnchorElement", "boolean:true"), ("AnchorFromAll", "int16:8"),
                       ("AnchorToAll", "int16:8"), ("HDistanceAll", "string:-0.5"),
                       ("VDistanceAll", "string:0.5")):
        box.setCustomProperty(RECORD + "/" + key, value)
    layout.addLayoutItem(box)
    project.layoutManager().addLayout(layout)
    return layout


project = QgsProject.instance()
layouts = project.layoutManager().printLayouts()
layout = layouts[0] if layouts else small_layout(project)
designer = iface.openLayoutDesigner(layout)
window = designer.window()
window.resize(1580, 980)
# With an atlas, preview its second page: the plugin anchors the items as the page changes.
if layout.atlas().enabled():
    designer.setAtlasPreviewEnabled(True)
    layout.atlas().seekTo(1)
items = [i for i in layout.items() if hasattr(i, "customProperties") and anchored(i)]
items.sort(key=lambda i: i.id() != "North Arrow")
if items:
    designer.selectItems([items[0]])


def arrange():
    # The anchor page is tall: the designer's own property docks make room for it.
    for dock in window.findChildren(QDockWidget):
        if dock.objectName() in ("ItemDock", "LayoutDock", "GuideDock"):
            dock.hide()
        if dock.objectName() == "CRVAnchorDock":
            dock.show()
            dock.raise_()
            window.resizeDocks([dock], [640], Qt.Orientation.Horizontal)
    QTimer.singleShot(1000, shoot)


def shoot():
    window.grab().save(os.environ["CRV_SHOT"])
    QApplication.instance().exit(0)


QTimer.singleShot(3000, arrange)
