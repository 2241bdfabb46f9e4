"""crvanchor-qgis: a QGIS print layout's atlas from the command line, every anchored item placed
on every page before QGIS draws it; an item's anchor record edited; a layout's records shown;
the places baked into the project for QGIS without the plugin.

The same layout session as the plugin's dock and Processing: one QGIS host. Exit status: 0 done;
1 the anchoring showed error reports (counted on the last line of standard error), or findings
with --strict; 2 a bad project or argument (one line on standard error)."""
import errno
import gc
import os
import signal
import sys
import tempfile
import threading
import time

from qgis.core import (
    Qgis,
    QgsAbstractValidityCheck,
    QgsApplication,
    QgsFeedback,
    QgsLayoutItemGroup,
    QgsLayoutItemMap,
    QgsLayoutItemPicture,
    QgsLayoutObject,
    QgsLayoutValidityCheckContext,
    QgsProject,
    QgsProjectBadLayerHandler,
    QgsProperty,
    QgsProviderRegistry,
    QgsXmlUtils,
)
from qgis.PyQt.QtCore import Qt, QtMsgType, qInstallMessageHandler
from qgis.PyQt.QtXml import QDomDocument

from . import files
from .atlasbook import Book, BookError, picture_name
from .core import Core, CoreError, CoreUnavailable
from .session import (BAKE_MARKS, LayoutSettingError, LayoutSession, baked, first_page_number, is_element, is_record_key,
                      pages_per_feature, quoted)

PROGRAM = "crvanchor-qgis"

USAGE = (
    "usage: crvanchor-qgis PROJECT [--layout NAME] [--pages 1-3,7] [--pdf OUT.pdf] [--png DIR] [--dpi N]\n"
    "                      [--report OUT.json] [--save OUT.qgz] [--timing] [--check-overlap] [--strict] [--outline]\n"
    "                      [--allow-missing]\n"
    "       crvanchor-qgis show PROJECT [--layout NAME]\n"
    "       crvanchor-qgis anchor PROJECT [--layout NAME] ITEM KEY=VALUE ...\n"
    "       crvanchor-qgis bake|unbake PROJECT [--layout NAME]\n"
    "--layout may be left out when the project has one print layout. A project named show, anchor, bake or unbake\n"
    "is given as ./show.\n"
    "Every page is checked for anchored items off the page (--check-overlap: also overlapping), listed on\n"
    "standard error; --outline draws the anchoring on the PNG pages. A layer of the layout that cannot be read or a\n"
    "picture that cannot be found stops the export (status 2) unless --allow-missing is given. --dpi defaults to\n"
    "the layout's export resolution. QGIS's own warnings follow \"QGIS: \" on standard error. bake writes each\n"
    "anchored item's place on every atlas page into the project, so that QGIS without the plugin prints it the\n"
    "same; unbake takes it out.\n"
    "Exit status: 0 done; 1 error reports shown, or findings with --strict; 2 bad input.\n")

COMMANDS = ("show", "anchor", "bake", "unbake")
DPI_RANGE = (10, 1200)


class UsageError(Exception):
    """A bad command line, project or output: one line, status 2."""


# ---------------------------------------------------------------------- words

def plain_or_quoted(text):
    """A path in a message as it stands, quoted only when it needs escaping."""
    shown = quoted(text, 300)
    return text if len(shown) == len(text) + 2 else shown


def plural(n, one, many):
    return "%d %s" % (n, one if n == 1 else many)


# ---------------------------------------------------------------------- the command line

class Args:
    def __init__(self):
        self.command = "book"
        self.project = None
        self.layout = None
        self.pages = None
        self.pdf = self.png = self.report = self.save = None
        self.rest = []
        self.dpi = None
        self.timing = self.check_overlap = self.strict = self.outline = self.allow_missing = False

    def writes_project(self):
        """Whether the command writes the project it reads, and so holds it from the read to the save."""
        return self.command in ("anchor", "bake", "unbake") or self.save is not None


def parse_dpi(text):
    try:
        dpi = float(text)
    except ValueError:
        dpi = None
    if dpi is None or not DPI_RANGE[0] <= dpi <= DPI_RANGE[1] or text.strip() != text:
        raise UsageError("--dpi: expected a number from %d to %d, found %s" % (DPI_RANGE[0], DPI_RANGE[1], quoted(text)))
    return dpi


VALUE_OPTIONS = {"--pages": "pages", "--pdf": "pdf", "--png": "png", "--report": "report", "--save": "save"}
FLAG_OPTIONS = {"--timing": "timing", "--check-overlap": "check_overlap", "--strict": "strict",
                "--outline": "outline", "--allow-missing": "allow_missing"}


def parse_options(a, args, i, have_project):
    """The options of `a.command` in args[i:]; the first word that is not an option names the
    project unless `a` has it already."""
    book = a.command == "book"
    while i < len(args):
        arg = args[i]

        def value():
            nonlocal i
            if i + 1 >= len(args):
                raise UsageError(arg + " needs a value")
            i += 1
            return args[i]
        if arg == "--layout":
            a.layout = value()
        elif book and arg in VALUE_OPTIONS:
            setattr(a, VALUE_OPTIONS[arg], value())
        elif book and arg == "--dpi":
            a.dpi = parse_dpi(value())
        elif book and arg in FLAG_OPTIONS:
            setattr(a, FLAG_OPTIONS[arg], True)
        elif arg.startswith("--"):
            raise UsageError("%s: unknown option %s" % (a.command, arg))
        elif not have_project:
            a.project = arg
            have_project = True
        elif a.command == "anchor":
            a.rest.append(arg)
        else:
            raise UsageError('%s: unexpected argument "%s"' % (a.command, arg))
        i += 1
    if not have_project:
        raise UsageError("which project? (crvanchor-qgis %sPROJECT [--layout NAME] ...)"
                         % ("" if a.command == "book" else a.command + " "))
    if a.outline and a.png is None:
        raise UsageError("book: --outline draws on the PNG pages; add --png DIR")
    if a.command == "anchor" and not a.rest:
        raise UsageError("anchor: expected an item and KEY=VALUE ... (crvanchor-qgis anchor PROJECT [--layout NAME] "
                         "ITEM ...)")


def parse_args(args):
    """A first word that names a command is the command: a project of that name is given as ./show."""
    a = Args()
    i = 0
    if args and args[0] in COMMANDS:
        a.command = args[0]
        i = 1
    parse_options(a, args, i, False)
    return a


# ---------------------------------------------------------------------- files

class Identity:
    """A file as the system knows it (device and inode), or, when it does not exist yet, the
    absolute path it will have: two spellings of one file compare equal."""

    def __init__(self, path):
        p = os.path.normpath(path) if path else path
        try:
            st = os.stat(p)
        except OSError:
            self.exists, self.regular, self.folder = False, False, False
            self.key = ("future", os.path.normcase(os.path.realpath(os.path.abspath(p))))
            return
        self.exists = True
        self.regular = os.path.isfile(p)
        self.folder = os.path.isdir(p)
        self.key = ("file", st.st_dev, st.st_ino)

    def __eq__(self, other):
        return self.key == other.key


def require_utf8(option, path, why):
    """QGIS takes paths as text: bytes that are not UTF-8 would be changed on the way, and the
    file read or written would be another one. `option` leads the message ("--pdf ")."""
    if any("\udc80" <= ch <= "\udcff" for ch in path):
        raise UsageError("%s%s: %s only a path that is UTF-8 text" % (option, quoted(path), why))


def refuse(option, path, why):
    raise UsageError("%s %s: %s; nothing was written" % (option, quoted(path), why))


def require_replaceable(option, path, name=None):
    """A new file renamed over a name leaves the file's other names with the old content: a file
    with several names is refused rather than parted from them without a word."""
    try:
        st = os.stat(path)
    except OSError:
        return
    if os.path.isfile(path) and st.st_nlink > 1:
        raise UsageError("%s: cannot replace it: it is one of %d hard links to one file, and the others would keep "
                         "the old content; nothing was written"
                         % (name or "%s %s" % (option, quoted(path)), st.st_nlink))


def picture_page(name):
    """The book page and layout page whose picture has that name; None for another name."""
    if not (name.startswith("page-") and name.endswith(".png")):
        return None
    parts = name[5:-4].split("-")
    try:
        page, layout_page = int(parts[0]), int(parts[1]) if len(parts) == 2 else 1
    except (ValueError, IndexError):
        return None
    if len(parts) > 2 or picture_name(page, layout_page) != name:
        return None
    return page, layout_page


def check_outputs(outputs, inputs, png=None, png_pages=(), png_layout_pages=1):
    """Outputs that would replace a file the command reads, or each other, or that name what
    they cannot be, refused before anything is written. `outputs`: (option, path); `inputs`:
    (what, path, saved_in_place)."""
    ins = [(what, Identity(path), in_place) for what, path, in_place in inputs]
    seen = []
    for option, path in outputs:
        ident = Identity(path)
        if ident.exists and not ident.regular:
            refuse(option, path, "not a regular file")
        require_replaceable(option, path)
        for what, other, in_place in ins:
            if ident == other and not (option == "--save" and in_place):
                refuse(option, path, "that is " + what)
        for earlier, other in seen:
            if ident == other:
                refuse(option, path, "that is the %s file" % earlier)
        seen.append((option, ident))
    if png is None:
        return
    folder = Identity(png)
    if folder.exists and not folder.folder:
        refuse("--png", png, "not a folder")
    for what, other, _in_place in ins:
        if folder == other:
            refuse("--png", png, "that is " + what)
    pages = set(png_pages)
    for what, path in [(w, p) for w, p, _ in inputs] + list(outputs):
        p = os.path.normpath(path)
        at = picture_page(os.path.basename(p))
        if at is None or at[0] not in pages or at[1] > png_layout_pages:
            continue
        if Identity(os.path.dirname(p) or ".") == folder:
            refuse("--png", png, "its page picture %s would replace %s"
                   % (os.path.basename(p), "the %s file" % what if what.startswith("--") else what))


def make_output_folders(outputs, png):
    for option, path in list(outputs) + ([("--png", os.path.join(png, "x"))] if png is not None else []):
        folder = os.path.dirname(path)
        if folder:
            try:
                os.makedirs(folder, exist_ok=True)
            except OSError as e:
                raise UsageError("%s %s: cannot create the folder: %s" % (option, quoted(folder), e.strerror or e))


def save_project(project, path):
    """Writes the project over `path` whole or not at all, leaving no other file beside it.
    QGIS chooses the format by the suffix, which the temporary file keeps, beside the destination
    so that the layers' relative paths stay right; it names the project inside a .qgz after the
    file's name up to its first dot, so the temporary name starts as the destination's does."""
    require_replaceable("", path, plain_or_quoted(path))
    stem, ext = os.path.splitext(os.path.basename(path))
    temporary = files.temporary_beside(path, suffix=ext, prefix=stem + ".crvanchor-save-")
    if not project.write(temporary):
        files.discard(temporary)
        raise UsageError("%s: cannot write: %s" % (path, project.error()))
    # QGIS keeps a backup "~" of a .qgs it writes over: of the empty temporary file here.
    files.discard(temporary + "~")
    files.put_in_place(temporary, path)


class FileLock:
    """Holds a project from its read to its save: two commands changing one project take turns.
    A lock taken on a file that another command has replaced meanwhile is taken again on the new
    one. On Windows, where a locked byte cannot be read and an open file cannot be replaced, the
    lock is on a file of its own in the temporary folder, named after the project's path."""

    def __init__(self, path):
        self._file = None
        try:
            if os.name == "nt":
                import hashlib
                import msvcrt
                key = hashlib.sha1(os.path.normcase(os.path.realpath(path)).encode("utf-8", "surrogatepass"))
                self._file = open(os.path.join(tempfile.gettempdir(), "crvanchor-%s.lock" % key.hexdigest()), "a+b")
                while True:
                    try:
                        # Tries for ten seconds, then says so: waited for again, as flock waits.
                        msvcrt.locking(self._file.fileno(), msvcrt.LK_LOCK, 1)
                        return
                    except OSError as e:
                        if e.errno != errno.EDEADLOCK:
                            raise
            import fcntl
            while True:
                self._file = open(path, "rb")
                fcntl.flock(self._file.fileno(), fcntl.LOCK_EX)
                held, now = os.fstat(self._file.fileno()), os.stat(path)
                if (held.st_dev, held.st_ino) == (now.st_dev, now.st_ino):
                    return
                self._file.close()
        except OSError as e:
            self.release()
            raise UsageError("%s: cannot lock: %s" % (path, e.strerror or e))

    def release(self):
        if self._file is not None:
            self._file.close()
            self._file = None


class QuietStandardError:
    """Keeps what QGIS and its libraries write straight to standard error (projection database
    notes, toolkit warnings) off it, so that the command's own lines stand alone."""

    def __enter__(self):
        sys.stderr.flush()
        self._saved = os.dup(2)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 2)
        os.close(null)
        return self

    def __exit__(self, *exc):
        sys.stderr.flush()
        os.dup2(self._saved, 2)
        os.close(self._saved)


class QgisWarnings:
    """QGIS's warnings (a layer it cannot read, a picture it cannot find, a font it lacks) each
    passed on once, after "QGIS: ", when the command next writes its own lines."""

    def __init__(self):
        self._said, self._waiting = set(), []
        self._lock = threading.Lock()
        # Direct: QGIS logs from its render threads too, and the command runs no event loop.
        QgsApplication.messageLog().messageReceived.connect(self._received, Qt.ConnectionType.DirectConnection)

    def _received(self, message, tag, level):
        if level not in (Qgis.MessageLevel.Warning, Qgis.MessageLevel.Critical):
            return
        line = "QGIS: %s%s" % (tag + ": " if tag else "", " ".join(message.split()))
        with self._lock:
            if line not in self._said:
                self._said.add(line)
                self._waiting.append(line)

    def tell(self, err):
        with self._lock:
            waiting, self._waiting = self._waiting, []
        for line in waiting:
            err.write(line + "\n")

    def close(self):
        QgsApplication.messageLog().messageReceived.disconnect(self._received)


class SilentBadLayers(QgsProjectBadLayerHandler):
    """The layers QGIS cannot read are named by the export that needs them, not by QGIS's handler."""

    def handleBadLayers(self, layers):
        pass


def read_project(project, path, flags=None):
    project.setBadLayerHandler(SilentBadLayers())
    with QuietStandardError():
        return project.read(path) if flags is None else project.read(path, flags)


def layer_files(project):
    """The files the project's layers read, with the layer's name."""
    files = []
    for layer in project.mapLayers().values():
        path = QgsProviderRegistry.instance().decodeUri(layer.providerType(), layer.source()).get("path", "")
        if path:
            files.append((layer.name(), path))
    return files


def find_print_layout(project, name, project_name):
    layouts = project.layoutManager().printLayouts()
    names = ", ".join(quoted(l.name()) for l in layouts)
    if name is None:
        if len(layouts) == 1:
            return layouts[0]
        if not layouts:
            raise UsageError(project_name + " has no print layout")
        raise UsageError("which print layout? %s has %s (--layout NAME)" % (project_name, names))
    for layout in layouts:
        if layout.name() == name:
            return layout
    raise UsageError("--layout %s: no print layout of that name in %s%s"
                     % (quoted(name), project_name, " (it has none)" if not names else " (it has %s)" % names))


# ---------------------------------------------------------------------- the project a command opens

class Session:
    """The open project and its layout, checked before anything is placed or written (the
    project's path, layers over pipes or devices, layouts sharing a name, a layout without pages,
    records that cannot be read, items sharing an id). A project read to be changed is locked
    from the read to the save; the layout's undo commands are held back while it lives."""

    def __init__(self, core, a, err):
        self.err = err
        self.warnings = QgisWarnings()
        self.lock = None
        self.layout = None
        self.anchoring = None
        try:
            self._open(core, a)
        except BaseException:
            self.close()
            raise

    def _open(self, core, a):
        path = a.project
        require_utf8("", path, "QGIS reads")
        if not os.path.lexists(path):
            raise UsageError(path + ": no such project file")
        if os.path.isdir(path):
            raise UsageError(path + ": a folder, not a project file")
        if not os.path.isfile(path):
            raise UsageError(path + ": not a regular file (a device or a pipe), not a project file")
        if a.writes_project():
            self.lock = FileLock(path)
        # A layer over a pipe or a device would stop the read until something writes to it: the
        # layers' files are looked at first, without opening them.
        sources = QgsProject()
        if read_project(sources, path, QgsProject.ReadFlags(QgsProject.ReadFlag.FlagDontResolveLayers)
                        | QgsProject.ReadFlag.FlagDontLoadLayouts):
            for name, file in layer_files(sources):
                if os.path.exists(file) and not os.path.isfile(file) and not os.path.isdir(file):
                    raise UsageError("%s: the layer %s reads %s, which is not a regular file" % (path, quoted(name),
                                                                                               quoted(file)))
        # QGIS keeps one layout of a name and drops the others without a word; the project's own
        # text tells whether it had more than one.
        named = {}

        def count(dom):
            nodes = dom.elementsByTagName("Layout")
            for i in range(nodes.size()):
                n = nodes.at(i).toElement().attribute("name")
                named[n] = named.get(n, 0) + 1
        self.project = QgsProject()
        self.project.readProject.connect(count)
        read = read_project(self.project, path)
        self.project.readProject.disconnect(count)
        self.warnings.tell(self.err)
        if not read:
            raise UsageError("%s: cannot read the project: %s" % (path, self.project.error()))
        self.layout = find_print_layout(self.project, a.layout, path)
        a.layout = self.layout.name()
        if named.get(a.layout, 0) > 1:
            raise UsageError("--layout %s: %s has %d print layouts of that name; rename all but one in QGIS"
                             % (quoted(a.layout), path, named[a.layout]))
        if self.layout.pageCollection().pageCount() == 0:
            raise UsageError("--layout %s: the layout has no page" % quoted(a.layout))
        self._check_items(core, a)
        # The command's moves and atlas steps are no edit of a user's, and a history would grow
        # with the pages.
        self.layout.undoStack().blockCommands(True)
        self.anchoring = LayoutSession(core, self.layout, log=lambda _m: None)
        self.anchoring.document = a.project.replace(os.sep, "/")
        self.anchoring.follow_atlas()

    def _check_items(self, core, a):
        layout_setting(a, pages_per_feature, self.layout)
        ids = {}
        for item in self.layout.items():
            if not is_element(item):
                continue
            if item.id():
                ids[item.id()] = ids.get(item.id(), 0) + 1
            stored = {k: str(item.customProperty(k)) for k in item.customProperties() if is_record_key(k)}
            try:
                core.read_record(stored)
            except CoreError as e:
                raise UsageError("%s: the item %s: %s" % (a.project, quoted(item.id()),
                                                          str(e).split("crv_record_read: ", 1)[-1]))
        # An anchor to an id that several items share can only take one of them.
        for name, n in sorted(ids.items()):
            if n > 1:
                self.err.write("crvanchor-qgis: %d items of the layout %s are named %s; an anchor to that name takes "
                               "only one of them\n" % (n, quoted(a.layout), quoted(name)))

    def store(self, item, custom):
        """The record stored back in the form the item keeps it in: one property a value (what
        QGIS's item properties show a user, and the form of a new record) unless it is compact."""
        core = self.anchoring.core
        stored = {k: str(item.customProperty(k)) for k in item.customProperties() if is_record_key(k)}
        compact = core.read_record(stored)["form"] == "compact"
        for key in stored:
            item.removeCustomProperty(key)
        for key, text in core.write_record(custom, compact).items():
            item.setCustomProperty(key, text)

    def close(self):
        if self.anchoring is not None:
            self.anchoring.close()
            self.anchoring = None
        if self.layout is not None:
            self.layout.undoStack().blockCommands(False)
        self.warnings.tell(self.err)
        self.warnings.close()
        if self.lock is not None:
            self.lock.release()
            self.lock = None


def layout_setting(a, read, layout):
    """A setting of the layout's, read by `read`; one that it cannot have is refused in one line."""
    try:
        return read(layout)
    except LayoutSettingError as e:
        raise UsageError("%s: the layout %s: %s" % (a.project, quoted(a.layout), e.reason))


def first_page_of(a, layout):
    return layout_setting(a, first_page_number, layout)


def atlas_page_count(a, atlas):
    """The pages of the layout's atlas; refused in one line when its coverage layer is gone, cannot
    be read, or has no features (saying "no features" of a broken layer would send the user to
    the wrong place)."""
    coverage = atlas.coverageLayer()
    if coverage is None:
        raise UsageError("%s: the atlas of %s has no coverage layer" % (a.project, quoted(a.layout)))
    if not coverage.isValid():
        raise UsageError("%s: the atlas's coverage layer %s cannot be read from %s"
                         % (a.project, quoted(coverage.name()), quoted(coverage.source())))
    count = atlas.updateFeatures()
    if count < 1:
        raise UsageError("%s: no pages: the atlas of %s has no features" % (a.project, quoted(a.layout)))
    return count


# ---------------------------------------------------------------------- book

def layers_of_layout(project, layout):
    """The layers the layout's maps draw: a map's own, its theme's, or the project's visible ones."""
    layers = []
    for item in layout.items():
        if not isinstance(item, QgsLayoutItemMap):
            continue
        if item.followVisibilityPreset():
            more = project.mapThemeCollection().mapThemeVisibleLayers(item.followVisibilityPresetName())
        elif item.keepLayerSet():
            more = item.layers()
        else:
            more = project.layerTreeRoot().checkedLayers()
        layers += [l for l in more if l is not None and l not in layers]
    return layers


def pictures_of(layout):
    return [i for i in layout.items() if isinstance(i, QgsLayoutItemPicture)]


def refuse_missing_pictures(a, layout, page):
    for picture in pictures_of(layout):
        if picture.isMissingImage():
            raise BookError("%s: the picture %s cannot find %s on page %d; the export was stopped (--allow-missing "
                            "draws without it)" % (a.project, quoted(picture.displayName()),
                                                   quoted(picture.evaluatedPath()), page))


def tell_layout_checks(layout, err):
    """QGIS's own checks of a layout before it is exported, as its designer runs them."""
    context = QgsLayoutValidityCheckContext(layout)
    for r in QgsApplication.validityCheckRegistry().runChecks(
            QgsAbstractValidityCheck.Type.TypeLayoutCheck, context, QgsFeedback()):
        detail = " ".join(r.detailedDescription.split())
        err.write("crvanchor-qgis: QGIS's layout check: %s%s\n" % (" ".join(r.title.split()),
                                                                  ": " + detail if detail else ""))


class Progress:
    """A bar on a terminal, nothing otherwise."""

    def __init__(self, err, total):
        self.err, self.total = err, total
        self.on = err is sys.stderr and err.isatty()

    def step(self, done, page):
        if self.on:
            filled = 30 if not self.total else done * 30 // self.total
            self.err.write("\r[%s%s] %d/%d page %d   " % ("#" * filled, "." * (30 - filled), done, self.total, page))
            self.err.flush()

    def done(self):
        if self.on:
            self.err.write("\n")


def summary(what, pages, anchored, a):
    text = "Map book %s: %s, %d anchored elements\n" % (what, plural(pages, "page", "pages"), anchored)
    for label, path in (("PDF", a.pdf), ("PNG", a.png and a.png + "/page-NNN.png"), ("report", a.report),
                        ("saved", a.save)):
        if path:
            text += "  %s: %s\n" % (label, path)
    return text


def tell_selection(mirror, err, reports):
    """The book's selection, what it said told first: its error reports, each item left out of
    the book with the reason, the notes on records."""
    selection = mirror.selection()
    reports.tell(selection["error_reports"])
    for left in selection["left_out"]:
        err.write('crvanchor-qgis: %s is left out of the book: %s\n' % (quoted(left["element"]), left["reason"]))
    for note in selection["notes"]:
        err.write("crvanchor-qgis: %s\n" % note)
    return selection


def run_book(core, a, out, err, reports):
    start = time.perf_counter()
    if a.pdf is not None:
        require_utf8("--pdf ", a.pdf, "QGIS writes a PDF to")
    if a.save is not None:
        require_utf8("--save ", a.save, "QGIS writes a project to")
    outputs = [(o, p) for o, p in (("--pdf", a.pdf), ("--report", a.report), ("--save", a.save)) if p is not None]
    project_input = [("the project being read", a.project, True)] if a.project else []
    check_outputs(outputs, project_input, a.png)
    s = Session(core, a, err)
    try:
        layout = s.layout
        atlas = layout.atlas() if layout.atlas().enabled() else None
        # Without an atlas the lone page is 1, as the map-book command numbers a layout without
        # a map series.
        first = first_page_of(a, layout) if atlas is not None else 1
        count = atlas_page_count(a, atlas) if atlas is not None else 1
        if not a.allow_missing:
            for layer in layers_of_layout(s.project, layout):
                if not layer.isValid():
                    raise UsageError("%s: the layer %s cannot be read from %s; nothing was exported (--allow-missing "
                                     "exports without it)" % (a.project, quoted(layer.name()), quoted(layer.source())))
        session = s.anchoring
        session.open()
        if a.pages is not None and not a.pages.strip():
            # An empty text names no page: a script's empty variable must not print every page.
            raise UsageError('--pages: expected a page or a range such as 3-5, found ""')
        try:
            pages = session.mirror.parse_pages((a.pages or "").strip()) if a.pages is not None \
                else list(range(first, first + count))
        except CoreError as e:
            raise UsageError(str(e))
        inputs = project_input + [("the data of the layer " + quoted(n), p, False) for n, p in layer_files(s.project)]
        inputs += [("a picture of the layout", p.picturePath(), False) for p in pictures_of(layout) if p.picturePath()]
        check_outputs(outputs, inputs, a.png, pages, layout.pageCollection().pageCount())
        make_output_folders(outputs, a.png)
        selection = tell_selection(session.mirror, err, reports)
        tell_layout_checks(layout, err)
        loading = time.perf_counter() - start

        anchoring = [0.0]
        place = session.place

        def timed_place(page, check_overlap=False):
            t = time.perf_counter()
            try:
                return place(page, check_overlap)
            finally:
                anchoring[0] += time.perf_counter() - t
        session.place = timed_place
        progress = Progress(err, len(pages))

        def before_drawing(done, page):
            reports.tell(session.last_result["error_reports"])
            if INTERRUPTED:
                raise Interrupted("stopped after %d of %d pages: interrupted%s" % (
                    done - 1, len(pages), "; the PDF was not written" if a.pdf is not None else ""))
            if not a.allow_missing:
                refuse_missing_pictures(a, layout, page)
            progress.step(done, page)

        # The layout stays as the last page left it: --save keeps that.
        book = Book(session, a.pages or "", a.check_overlap, before_drawing=before_drawing, outline=a.outline,
                    put_back=False)
        try:
            book.run(a.pdf, a.png, a.dpi, a.report)
        except (BookError, CoreError, ValueError) as e:
            raise UsageError(str(e))
        progress.done()
        s.warnings.tell(err)
        for line in book.checks.lines():
            err.write("crvanchor-qgis: %s\n" % line)
        if a.save is not None:
            save_project(s.project, a.save)
        anchored = len(selection["anchor_order"])
        out.write(summary("%s (%s)" % (a.project, a.layout), len(book.pages), anchored, a))
        if a.timing:
            total = time.perf_counter() - start
            placements = len(book.pages) * anchored
            rendering = max(0.0, total - loading - anchoring[0])
            each = anchoring[0] * 1e6 / placements if placements else 0.0
            # The core writes each page's report rows as it places the page: they are anchoring's.
            out.write("  timing: total %.4f s; loading %.4f s; anchoring %.4f s (%d placements, %.2f us each, the "
                      "report's rows included); rendering %.4f s; anchoring is %.1f%% of the run\n"
                      % (total, loading, anchoring[0], placements, each, rendering,
                         100.0 * anchoring[0] / total if total > 0 else 0.0))
        return 1 if a.strict and book.checks.count() else 0
    finally:
        s.close()


# ---------------------------------------------------------------------- show, anchor

def run_show(core, a, out, err):
    s = Session(core, a, err)
    try:
        shown = s.anchoring.open().show()
        out.write("Layout %s of %s\n" % (quoted(a.layout), a.project))
        for e in shown["elements"]:
            out.write("%s%-24s %s\n" % ("  " * e["depth"], e["element"] or "(unnamed)", e["summary"] or "-"))
        if shown["cycles"]:
            out.write("\n")
        for line in shown["cycles"]:
            out.write(line + "; the atlas leaves it where it stands\n")
        return 0
    finally:
        s.close()


def run_anchor(core, a, out, err, reports):
    name, changes = a.rest[0], a.rest[1:]
    s = Session(core, a, err)
    try:
        session = s.anchoring
        mirror = session.open()
        item = session._items.get(name)
        if item is None:
            raise UsageError("anchor: no item named %s in the layout %s" % (quoted(name), quoted(a.layout)))
        try:
            result = mirror.edit_record(name, changes)
        except CoreError as e:
            raise UsageError(str(e))
        reports.tell(result["error_reports"])
        if result["outcome"] == "reported":
            return 0
        s.store(item, result["custom"])
        save_project(s.project, a.project)
        out.write("%s; saved %s\n" % (result["message"], a.project))
        if result["cycle"]:
            err.write("crvanchor-qgis: %s\n" % result["cycle"])
        return 0
    finally:
        s.close()


# ---------------------------------------------------------------------- bake, unbake



def property_text(p):
    """A property as text, which a custom property keeps whatever QGIS writes custom properties as."""
    doc = QDomDocument()
    doc.appendChild(QgsXmlUtils.writeVariant(p.toVariant(), doc))
    return doc.toString(-1)


def property_from_text(text):
    doc = QDomDocument()
    p = QgsProperty()
    read = doc.setContent(text)
    # Qt's bindings give the outcome alone or with the error's text and place.
    if read[0] if isinstance(read, tuple) else read:
        p.loadVariant(QgsXmlUtils.readVariant(doc.documentElement()))
    return p


def number(value):
    """The shortest fixed-point text that reads back as `value`: an expression a user can read."""
    for decimals in range(17):
        text = "%.*f" % (decimals, value)
        if float(text) == value:
            return text
    return "%.17f" % value


def lookup_expression(by_feature, fallback):
    """The coordinate for the atlas feature in force, by its id; the fallback without an atlas or
    for a feature the bake did not see (added since)."""
    entries = ["'%d', %s" % (fid, number(v)) for fid, v in sorted(by_feature.items()) if v != fallback]
    if not entries:
        return number(fallback)
    return "coalesce(map_get(map(%s), to_string(@atlas_featureid)), %s)" % (", ".join(entries), number(fallback))


def bake_positions(item, places, fallback):
    unbake_positions(item)
    for prop, mark in BAKE_MARKS:
        properties = item.dataDefinedProperties()
        before = properties.property(prop)
        # The item's own data-defined position, switched off (one switched on leaves the item out
        # of the anchoring): kept for the unbake.
        if before.propertyType() != QgsProperty.Type.InvalidProperty:
            item.setCustomProperty(mark + "-before", property_text(before))
        x = prop == QgsLayoutObject.DataDefinedProperty.PositionX
        expression = lookup_expression({fid: (p.x() if x else p.y()) for fid, p in places.items()},
                                       fallback.x() if x else fallback.y())
        properties.setProperty(prop, QgsProperty.fromExpression(expression))
        item.setDataDefinedProperties(properties)
        item.setCustomProperty(mark, expression)


def unbake_positions(item):
    """Takes the baked positions out; whether the item had any. An expression edited since is the
    user's now and stays."""
    found = False
    for prop, mark in BAKE_MARKS:
        keys = item.customProperties()
        if mark not in keys:
            continue
        found = True
        if baked(item, prop):
            properties = item.dataDefinedProperties()
            before = item.customProperty(mark + "-before")
            properties.setProperty(prop, property_from_text(str(before)) if before is not None else QgsProperty())
            item.setDataDefinedProperties(properties)
        item.removeCustomProperty(mark)
        item.removeCustomProperty(mark + "-before")
    return found


def unbake_items(layout):
    return sum(1 for item in layout.items() if is_element(item) and unbake_positions(item))


def run_bake(core, a, out, err, reports):
    bake = a.command == "bake"
    s = Session(core, a, err)
    try:
        layout = s.layout
        what = "%s (%s)" % (a.project, a.layout)
        if not bake:
            unbaked = unbake_items(layout)
            if unbaked == 0:
                out.write("Nothing baked in %s; the project is left as it was\n" % what)
                return 0
            save_project(s.project, a.project)
            out.write("Took the baked positions out of %s of %s\n" % (plural(unbaked, "item", "items"), what))
            return 0
        atlas = layout.atlas()
        if not atlas.enabled():
            raise UsageError("bake: the layout %s has no atlas: the positions it saves are what every print shows"
                             % quoted(a.layout))
        first = first_page_of(a, layout)
        count = atlas_page_count(a, atlas)
        # The places are found on the project read, which is not saved: a bake starts from the
        # layout as the anchoring alone places it.
        unbake_items(layout)
        session = s.anchoring
        session.begin_book()
        selection = tell_selection(session.mirror, err, reports)
        # QGIS moves a group by a data-defined position without its items: a group's items are
        # baked each, and the group follows them.
        items = []

        def add(item):
            if isinstance(item, QgsLayoutItemGroup):
                for m in item.items():
                    if m is not None:
                        add(m)
            elif item is not None and item not in items:
                items.append(item)
        for name in selection["anchor_order"]:
            add(session._items.get(name))
        places = {item.uuid(): {} for item in items}
        if items:
            progress = Progress(err, count)
            # Each page placed here, once: the atlas's own steps are not followed meanwhile.
            session.stop_following()
            if not atlas.beginRender():
                raise UsageError("the atlas of %s cannot start" % quoted(a.layout))
            try:
                for index in range(count):
                    if INTERRUPTED:
                        raise Interrupted("bake: interrupted; nothing was baked, the project is left as it was")
                    atlas.seekTo(index)
                    result = session.place(first + index)
                    reports.tell(result["error_reports"])
                    fid = layout.reportContext().feature().id()
                    for item in items:
                        places[item.uuid()][fid] = item.positionWithUnits()
                    progress.step(index + 1, first + index)
            finally:
                atlas.endRender()
                session.end_book()
            progress.done()
        if reports.count:
            err.write("crvanchor-qgis: bake: the anchoring reported errors; nothing was baked, the project is left as "
                      "it was\n")
            return 0
        saved = QgsProject()
        if not read_project(saved, a.project):
            raise UsageError("%s: cannot read the project: %s" % (a.project, saved.error()))
        target = find_print_layout(saved, a.layout, a.project)
        unbaked = unbake_items(target)
        if not items and unbaked == 0:
            out.write("No anchored item to bake in %s; the project is left as it was\n" % what)
            return 0
        for uuid, by_feature in places.items():
            item = target.itemByUuid(uuid)
            if item is None:
                raise UsageError("%s: changed while it was baked; nothing was written" % a.project)
            bake_positions(item, by_feature, item.positionWithUnits())
        save_project(saved, a.project)
        out.write("Baked the places of %s on %s into %s\n" % (plural(len(items), "item", "items"),
                                                              plural(count, "atlas page", "atlas pages"), what))
        return 0
    finally:
        s.close()


# ---------------------------------------------------------------------- the edge

class ShownReports:
    """The anchoring's error reports, each told in full on standard error as it comes; the count
    ends the run."""

    def __init__(self, err):
        self.err, self.count = err, 0

    def tell(self, reports):
        for r in reports:
            self.err.write("%s\n%s" % (r.get("title", ""), r.get("text", "").replace("\r", "")))
            self.count += 1

    def end(self):
        if self.count:
            self.err.write("crvanchor-qgis: %s shown\n" % plural(self.count, "error report", "error reports"))


class Interrupted(UsageError):
    """The user stopped the run (Ctrl-C): what was begun is left as it was."""


# Set by Ctrl-C; the run stops at the next page, so that nothing is left half written.
INTERRUPTED = False


def _interrupt(_signal, _frame):
    global INTERRUPTED
    INTERRUPTED = True


def run(args, out=sys.stdout, err=sys.stderr):
    """The command with `args` (no program name); QGIS must be initialised. Returns its status."""
    reports = ShownReports(err)
    status = 2
    try:
        if not args:
            raise UsageError("which project? (crvanchor-qgis --help tells more)")
        if args[0] in ("--help", "-h", "help"):
            out.write(USAGE)
            return 0
        a = parse_args(args)
        try:
            core = Core()
        except CoreUnavailable as e:
            raise UsageError(str(e))
        if a.command == "book":
            status = run_book(core, a, out, err, reports)
        elif a.command == "show":
            status = run_show(core, a, out, err)
        elif a.command == "anchor":
            status = run_anchor(core, a, out, err, reports)
        else:
            status = run_bake(core, a, out, err, reports)
    except (UsageError, files.WriteError) as e:
        reports.end()
        err.write("crvanchor-qgis: %s\n" % " ".join(str(e).split("\n")))
        return 130 if isinstance(e, Interrupted) else 2
    except MemoryError:
        err.write("crvanchor-qgis: out of memory\n")
        return 2
    except Exception as e:  # noqa: BLE001 - the command's edge: one line, never a traceback
        reports.end()
        err.write("crvanchor-qgis: unexpected failure: %s\n" % " ".join(str(e).split()))
        return 2
    reports.end()
    return 1 if reports.count else status


def qgis_prefix():
    """QGIS's own folder: QGIS_PREFIX_PATH, else the folder above its Python package that holds
    QGIS's data (its SVG library, the `inbuilt:` layers)."""
    given = os.environ.get("QGIS_PREFIX_PATH")
    if given:
        return given
    import qgis
    folder = os.path.dirname(os.path.realpath(qgis.__file__))
    while True:
        # Linux keeps it in share/qgis, Windows installs in apps/qgis (the folder itself).
        if os.path.isdir(os.path.join(folder, "share", "qgis", "resources")):
            return folder
        if os.path.isfile(os.path.join(folder, "resources", "qgis.db")):
            return folder
        parent = os.path.dirname(folder)
        if parent == folder:
            return None
        folder = parent


def main(argv=None):
    # Headless: no display is needed to lay out and export pages.
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    args = sys.argv[1:] if argv is None else argv
    signal.signal(signal.SIGINT, _interrupt)
    if hasattr(signal, "SIGPIPE"):
        # Output into a pipe that closed (show | head) ends the command quietly, as other tools.
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    # Toolkit warnings are for developers; a user sees the command's own lines.
    qInstallMessageHandler(lambda kind, _context, text: sys.stderr.write(text + "\n")
                           if kind in (QtMsgType.QtCriticalMsg, QtMsgType.QtFatalMsg) else None)
    with QuietStandardError():
        prefix = qgis_prefix()
        if prefix:
            QgsApplication.setPrefixPath(prefix, True)
        app = QgsApplication([], False)
        app.initQgis()
    try:
        status = run(args)
    finally:
        sys.stdout.flush()
        sys.stderr.flush()
    # What a failure's traceback still holds (a project, a layout) goes while QGIS is there.
    gc.collect()
    app.exitQgis()
    return status
