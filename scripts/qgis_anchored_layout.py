"""What the plugin's measuring scripts share: QGIS started without a screen, a project read, one
of its print layouts with the session the plugin's project anchoring makes for it, and the
process's resident memory."""
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "qgis", "python"))

from qgis.core import QgsApplication, QgsProject  # noqa: E402

from crvanchor.core import Core  # noqa: E402
from crvanchor.project import ProjectAnchoring  # noqa: E402


def resident_kb():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def open_anchored(project_path, layout_name):
    """(app, layout, anchoring, session): the session follows the layout's atlas."""
    app = QgsApplication([], False)
    app.initQgis()
    project = QgsProject.instance()
    if not project.read(project_path):
        sys.exit("cannot read %s" % project_path)
    layout = project.layoutManager().layoutByName(layout_name)
    if layout is None:
        sys.exit("%s has no print layout %s" % (project_path, layout_name))
    anchoring = ProjectAnchoring(Core(), project)
    return app, layout, anchoring, anchoring.session(layout)
