"""The anchoring of a project's print layouts: one LayoutSession per layout, owned here and
borrowed by the dock, the Processing algorithm and the layout checks, each following its atlas
wherever QGIS moves it (the designer's preview, an export from anywhere, a script)."""
from qgis.core import QgsPrintLayout

from .session import LayoutSession

LOG_TAG = "CRVAnchor"


class ProjectAnchoring:
    """Every print layout of `project` anchored as its atlas moves, until close()."""

    def __init__(self, core, project):
        self.core = core
        self.project = project
        self._sessions = {}  # the layout's name -> its session
        manager = project.layoutManager()
        self._connections = [(manager.layoutAdded, self._added),
                             (manager.layoutAboutToBeRemoved, self._removed),
                             (manager.layoutRenamed, self._renamed)]
        for signal, slot in self._connections:
            signal.connect(slot)
        for layout in manager.printLayouts():
            self._watch(layout)

    def session(self, layout):
        """The session of a print layout of the project, made when first asked for."""
        return self._watch(layout)

    def sessions(self):
        return list(self._sessions.values())

    def close(self):
        for signal, slot in self._connections:
            signal.disconnect(slot)
        self._connections = []
        for session in self._sessions.values():
            session.close()
        self._sessions = {}

    def _watch(self, layout):
        if not isinstance(layout, QgsPrintLayout):
            return None
        session = self._sessions.get(layout.name())
        if session is not None and session.layout is layout:
            return session
        if session is not None:
            session.close()
        session = LayoutSession(self.core, layout)
        session.follow_atlas()
        self._sessions[layout.name()] = session
        return session

    def _added(self, name):
        self._watch(self.project.layoutManager().layoutByName(name))

    def _removed(self, name):
        session = self._sessions.pop(name, None)
        if session is not None:
            session.close()

    def _renamed(self, layout, name):
        for old, session in list(self._sessions.items()):
            if session.layout is layout:
                self._sessions[name] = self._sessions.pop(old)
