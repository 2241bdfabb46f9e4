"""The layout designer's Anchor dock: the layout's own settings (the book's first page number),
then the anchor form of the selected item, built from the core's description of the form and
run by the core through callbacks. Apply is one undo step of the designer."""
import locale
import os

from qgis.core import QgsLayoutItemGroup, QgsPrintLayout, QgsUnitTypes
from qgis.gui import QgsDockWidget, QgsDoubleSpinBox
from qgis.PyQt.QtCore import QCoreApplication, Qt, QUrl
from qgis.PyQt.QtGui import QDesktopServices
from qgis.PyQt.QtWidgets import (
    QButtonGroup,
    QCheckBox,
    QComboBox,
    QFormLayout,
    QGroupBox,
    QHBoxLayout,
    QLabel,
    QLineEdit,
    QListWidget,
    QMenu,
    QPushButton,
    QRadioButton,
    QScrollArea,
    QSpinBox,
    QTabWidget,
    QVBoxLayout,
    QWidget,
)

from .core import CoreError
from .session import (FIRST_PAGE_PROPERTY, MAX_PAGES_PER_FEATURE, PAGES_PER_FEATURE_PROPERTY, first_page_number,
                      is_record_key, pages_per_feature)

# A distance as a record keeps it: within a million page units, in a thousandth of the unit.
DISTANCE_LIMIT = 1000000.0
DISTANCE_DECIMALS = 3


def distance_text(value, decimals):
    """A distance as the core reads the user's text: in the process's number format, which is
    the one the core writes and reads."""
    return locale.format_string("%.*f", (decimals, value))


def distance_value(text):
    """The number in a distance's text as the core writes it; None for a text that holds none."""
    for parse in (locale.atof, float):
        try:
            return parse(text.strip())
        except ValueError:
            continue
    return None


HELP_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "help", "index.html")


def tr(text):
    return QCoreApplication.translate("AnchorDock", text)


# A check box's values as the form counts them (0 clear, 1 ticked, 2 grey), as Qt's states.
CHECK_STATES = [Qt.CheckState.Unchecked, Qt.CheckState.Checked, Qt.CheckState.PartiallyChecked]


class FormWidgets:
    """One widget per item of the core's form description; what the core sets, shown with the
    widget's own signals blocked, and what the user does, told to the core."""

    def __init__(self, description, tell):
        self.tell = tell  # (kind, control, value): the user's edit
        self.widgets = {}
        self.tab_strip_id = description["tab_strip"]
        self.tabs = QTabWidget()
        self.tabs.setDocumentMode(True)
        self._groups = {}
        self.units = []  # the distances' spin boxes, the layout's unit their suffix
        self._rows = {}  # a control -> the row that holds it, when it has one of its own
        for tab in description["tabs"]:
            page = QWidget()
            self.tabs.addTab(self._fill(page, tab["items"]), tab["label"])
        self.widgets[self.tab_strip_id] = self.tabs
        self.tabs.currentChanged.connect(lambda i: self.tell("value", self.tab_strip_id, i))

    def _fill(self, parent, items):
        box = QVBoxLayout(parent)
        box.setContentsMargins(4, 4, 4, 4)
        for item in items:
            box.addWidget(self._widget(item))
        box.addStretch(1)
        return parent

    def _widget(self, item):
        kind, control, label = item["kind"], item["id"], item["label"]
        if kind == "group":
            w = QGroupBox(label)
            self._fill(w, item["items"])
        elif kind == "label":
            w = QLabel(label)
            w.setWordWrap(True)
        elif kind == "check":
            w = QCheckBox(label)
            w.clicked.connect(lambda _c, w=w: self.tell("value", control, CHECK_STATES.index(w.checkState())))
        elif kind == "option":
            w = QRadioButton(label)
            group = self._groups.setdefault(item["array"], QButtonGroup(self.tabs))
            group.addButton(w)
            w.clicked.connect(lambda on: on and self.tell("value", control, 1))
        elif kind == "list":
            w = QListWidget()
            w.setMinimumHeight(60)
            w.currentRowChanged.connect(lambda row: self.tell("value", control, row))
        elif kind == "dropdown":
            w = QComboBox()
            w.activated.connect(lambda index: self.tell("value", control, index))
        elif kind == "text" and "Distance" in control:
            # A distance in the layout's unit, shown as the spin box's suffix.
            w = QgsDoubleSpinBox()
            w.setShowClearButton(False)
            w.setDecimals(DISTANCE_DECIMALS)
            w.setRange(-DISTANCE_LIMIT, DISTANCE_LIMIT)
            w.valueChanged.connect(lambda value, w=w: self.tell("text", control, distance_text(value, w.decimals())))
        elif kind == "text":
            w = QLineEdit()
            w.textEdited.connect(lambda text: self.tell("text", control, text))
        else:
            w = QPushButton(label)
            w.clicked.connect(lambda: self.tell("value", control, 1))
        w.setObjectName(control)
        self.widgets[control] = w
        if isinstance(w, QgsDoubleSpinBox):
            self.units.append(w)
        return w

    def set_units(self, text):
        """The layout's unit after every distance: the rules read them in it."""
        for box in self.units:
            box.setSuffix(" " + text)

    def reset(self):
        """Every widget enabled, shown, empty, clear and off, the first tab current."""
        for control, w in self.widgets.items():
            w.blockSignals(True)
            if isinstance(w, (QListWidget, QComboBox)):
                w.clear()
            elif isinstance(w, QLineEdit):
                w.clear()
            elif isinstance(w, QgsDoubleSpinBox):
                w.setValue(0)
            elif isinstance(w, QCheckBox):
                w.setTristate(False)
                w.setChecked(False)
            elif isinstance(w, QRadioButton):
                w.setChecked(False)
            w.setEnabled(True)
            if w is not self.tabs:
                w.setVisible(True)
                self._rows.get(control, w).setVisible(True)
            w.blockSignals(False)
        for i in range(self.tabs.count()):
            self.tabs.setTabEnabled(i, True)
        self.tabs.blockSignals(True)
        self.tabs.setCurrentIndex(0)
        self.tabs.blockSignals(False)

    # The core's callbacks.
    def _quiet(self, control, change):
        w = self.widgets.get(control)
        if w is None:
            return
        w.blockSignals(True)
        try:
            change(w)
        finally:
            w.blockSignals(False)

    def set_text(self, control, text):
        def change(w):
            if isinstance(w, QGroupBox):
                w.setTitle(text)
            elif isinstance(w, QgsDoubleSpinBox):
                number = distance_value(text)
                if number is not None:
                    w.setValue(number)
            elif isinstance(w, QComboBox):
                w.setCurrentText(text)
            elif hasattr(w, "setText"):
                w.setText(text)
        self._quiet(control, change)

    def set_value(self, control, value):
        def change(w):
            if isinstance(w, QCheckBox):
                if value == 2:
                    w.setTristate(True)
                w.setCheckState(CHECK_STATES[value])
            elif isinstance(w, QRadioButton):
                w.setChecked(value == 1)
            elif isinstance(w, QListWidget):
                w.setCurrentRow(value)
            elif isinstance(w, (QComboBox, QTabWidget)):
                w.setCurrentIndex(value)
        self._quiet(control, change)

    def clear_list(self, control):
        self._quiet(control, lambda w: w.clear())

    def add_entry(self, control, text):
        self._quiet(control, lambda w: w.addItem(text))

    def set_enabled(self, control, tab, on):
        if control == self.tab_strip_id and tab >= 0:
            self.tabs.setTabEnabled(tab, bool(on))
        else:
            self._quiet(control, lambda w: w.setEnabled(bool(on)))

    def set_visible(self, control, on):
        self._quiet(control, lambda w: self._rows.get(control, w).setVisible(bool(on)))


class AnchorDock(QgsDockWidget):
    def __init__(self, layout, session, description, parent=None):
        super().__init__(tr("Anchor"), parent)
        self.setObjectName("CRVAnchorDock")
        self.layout_ = layout
        self.session = session
        self.form = None
        self.item = None
        body = QWidget()
        column = QVBoxLayout(body)

        settings = QGroupBox(tr("Layout"))
        rows = QFormLayout(settings)
        self.first_page = QSpinBox()
        self.first_page.setRange(-32768, 32767)
        # Told when the number is typed whole (Enter, focus leaving) or stepped, not per key.
        self.first_page.setKeyboardTracking(False)
        self.first_page.setToolTip(tr("The number of the atlas's first page: the page numbers the anchor "
                                      "rules name and that odd and even pages count from"))
        self.pages_per_feature = QSpinBox()
        self.pages_per_feature.setRange(1, MAX_PAGES_PER_FEATURE)
        self.pages_per_feature.setKeyboardTracking(False)
        self.pages_per_feature.setToolTip(tr("How many pages the layout prints for every atlas feature (a map page "
                                             "and a notes page: 2). Odd and even pages and page lists count printed "
                                             "pages; with 1 they count the atlas features"))
        self.settings_note = QLabel()
        self.settings_note.setWordWrap(True)
        self._show_settings()
        self.first_page.valueChanged.connect(lambda value: self._setting_changed(FIRST_PAGE_PROPERTY, value))
        self.pages_per_feature.valueChanged.connect(lambda value: self._setting_changed(PAGES_PER_FEATURE_PROPERTY,
                                                                                        value))
        rows.addRow(tr("First page number"), self.first_page)
        rows.addRow(tr("Pages per atlas feature"), self.pages_per_feature)
        rows.addRow(self.settings_note)
        self.units = QLabel()
        rows.addRow(tr("Distances in"), self.units)
        column.addWidget(settings)

        self.subject = QLabel()
        self.subject.setWordWrap(True)
        column.addWidget(self.subject)
        self.give_record = QPushButton(tr("Anchor this item"))
        self.give_record.clicked.connect(lambda: self._guarded(self._give_record))
        column.addWidget(self.give_record)

        self.widgets = FormWidgets(description, self._user_edit)
        self.note = QLabel(description.get("note", ""))
        self.note.setWordWrap(True)
        column.addWidget(self.widgets.tabs)
        column.addWidget(self.note)
        self.findings = QLabel()
        self.findings.setWordWrap(True)
        self.findings.setObjectName("findings")
        column.addWidget(self.findings)

        buttons = QHBoxLayout()
        self.apply_button = QPushButton(tr("Apply"))
        self.cancel_button = QPushButton(tr("Cancel"))
        self.help_button = QPushButton(tr("Help"))
        self.apply_button.clicked.connect(self.apply)
        self.cancel_button.clicked.connect(lambda: self._guarded(self.cancel))
        self.help_button.clicked.connect(lambda: QDesktopServices.openUrl(QUrl.fromLocalFile(HELP_PAGE)))
        for b in (self.apply_button, self.cancel_button, self.help_button):
            buttons.addWidget(b)
        column.addLayout(buttons)
        column.addStretch(1)

        # Scrolls as a whole inside a docked panel of any height; the form keeps its own size.
        scroll = QScrollArea()
        scroll.setWidgetResizable(True)
        scroll.setWidget(body)
        self.setWidget(scroll)
        layout.selectionChanged.connect(self.follow_selection)
        # A layout removed from the project takes the dock's work with it.
        layout.destroyed.connect(self.detach)
        # A preview, an export, the checks or Processing describe the layout afresh: the form
        # follows onto the new mirror.
        self._opening = False
        session.reopened.append(self._mirror_reopened)
        self.follow_selection()

    def detach(self):
        """Stops following the layout: its form closed, nothing left connected to it."""
        self._close_form()
        if self._mirror_reopened in self.session.reopened:
            self.session.reopened.remove(self._mirror_reopened)
        if self.layout_ is not None:
            try:
                self.layout_.selectionChanged.disconnect(self.follow_selection)
            except (RuntimeError, TypeError):
                pass  # the layout is gone already
        self.layout_ = None
        self.item = None

    # ------------------------------------------------------------------ the layout's settings

    def _show_settings(self):
        for box, read in ((self.first_page, first_page_number), (self.pages_per_feature, pages_per_feature)):
            box.blockSignals(True)
            try:
                box.setValue(read(self.layout_))
            except ValueError:
                box.setValue(1)
            box.blockSignals(False)
        # More layout pages than a feature prints: the later ones take the next feature's numbers.
        pages, per = self.layout_.pageCollection().pageCount(), self.pages_per_feature.value()
        self.settings_note.setText(tr("The layout has %d pages: page %d and after are numbered as the next "
                                      "feature's pages.") % (pages, per + 1) if 1 < per < pages else "")
        self.settings_note.setVisible(bool(self.settings_note.text()))

    def _setting_changed(self, key, value):
        self.layout_.setCustomProperty(key, value)
        # A setting of the layout: saved with the project, which asks before closing unsaved.
        if self.layout_.project() is not None:
            self.layout_.project().setDirty(True)
        # The book's pages are numbered afresh, whatever is selected: the page in view is placed
        # by the new numbers, and the form reads them from the new mirror.
        self.session.forget_mirror()
        if self.session.has_records():
            self._guarded(self._open_mirror)
        self.follow_selection()

    # ------------------------------------------------------------------ the selected item

    def follow_selection(self):
        if self.layout_ is None:
            return
        self._show_settings()
        items = [i for i in self.layout_.selectedLayoutItems(False)]
        self._guarded(lambda: self.show_item(items[0] if len(items) == 1 else None, len(items)))

    def _guarded(self, work):
        """Runs what a widget or the layout asked for: a failure is the dock's line, never a
        traceback in QGIS."""
        try:
            work()
        except Exception as e:  # noqa: BLE001 - the dock's slots are QGIS's to call
            self.findings.setText(" ".join(str(e).split()) or type(e).__name__)

    def _mirror_reopened(self):
        if self._opening or self.form is None or self.item is None:
            return
        self.form = None  # closed with the former mirror
        self.widgets.reset()
        self._guarded(lambda: setattr(self, "form", self.session.mirror.open_form(self.item.id(), self.widgets)))
        self._update_buttons()

    def _close_form(self):
        if self.form is not None:
            self.form.close()
            self.form = None

    def show_item(self, item, selected=1):
        self._close_form()
        self.item = item
        self.findings.setText("")
        self.units.setText(QgsUnitTypes.toString(self.layout_.units()))
        self.widgets.set_units(QgsUnitTypes.toAbbreviatedString(self.layout_.units()))
        has_record = item is not None and any(is_record_key(k) for k in item.customProperties())
        self.give_record.setVisible(item is not None and not has_record and bool(item.id()))
        if item is None:
            self.subject.setText(tr("Select one item of the layout to see its anchoring.") if selected == 0
                                 else tr("%d items are selected: select one to see its anchoring.") % selected)
        elif not item.id():
            self.subject.setText(tr("This item has no ID: give it one in its properties, for anchor rules name items by ID."))
        else:
            self.subject.setText(tr("Anchoring of \u201c%s\u201d") % item.id() if has_record
                                 else tr("\u201c%s\u201d is not anchored.") % item.id())
            why = self.session.left_out.get(item.id())
            if why:
                self.findings.setText(tr("The atlas leaves it where QGIS puts it: %s.") % why)
        self.widgets.reset()
        shown = item is not None and has_record
        self.widgets.tabs.setVisible(shown)
        self.note.setVisible(shown)
        self.apply_button.setVisible(shown)
        self.cancel_button.setVisible(shown)
        if not shown:
            return
        try:
            self._open_mirror()
            self.form = self.session.mirror.open_form(item.id(), self.widgets)
            why = self.session.left_out.get(item.id())
            if why:
                self.findings.setText(tr("The atlas leaves it where QGIS puts it: %s.") % why)
        except (CoreError, ValueError) as e:
            self.form = None
            self.widgets.tabs.setVisible(False)
            self.subject.setText(str(e))
        self._update_buttons()

    def _open_mirror(self):
        """The layout mirrored for the page in view: the atlas's feature when it previews one."""
        session = self.session
        self._opening = True
        try:
            session.open()
        finally:
            self._opening = False
        atlas = session.atlas
        if isinstance(self.layout_, QgsPrintLayout) and atlas.enabled() and atlas.count() > 0 \
                and atlas.currentFeatureNumber() >= 0:
            session.place(first_page_number(self.layout_) + atlas.currentFeatureNumber())

    def _user_edit(self, kind, control, value):
        if self.form is None:
            return
        try:
            reports = self.form.user_text(control, value) if kind == "text" else self.form.user_value(control, value)
            self._tell_reports(reports)
        except Exception as e:  # noqa: BLE001 - a widget's signal: the dock's line, no traceback
            self.findings.setText(" ".join(str(e).split()) or type(e).__name__)
        self._update_buttons()

    def _update_buttons(self):
        try:
            dirty = self.form is not None and self.form.state().get("dirty", False)
        except CoreError:
            dirty = False
        self.apply_button.setEnabled(dirty)
        self.cancel_button.setEnabled(dirty)

    def _tell_reports(self, reports):
        if reports:
            self.findings.setText("\n".join(" ".join(r.get("text", "").split()) for r in reports))

    # ------------------------------------------------------------------ Apply, Cancel, a new record

    def _store(self, item, custom):
        for key in list(item.customProperties()):
            if is_record_key(key):
                item.removeCustomProperty(key)
        for key, text in self.session.core.write_record(custom).items():
            item.setCustomProperty(key, text)

    def _moved_items(self, moves):
        return [self.session._items[m["element"]] for m in moves
                if m["element"] in self.session._items and not isinstance(self.session._items[m["element"]],
                                                                           QgsLayoutItemGroup)]

    def apply(self):
        """The record stored and the items placed for the page in view: one undo step."""
        if self.form is None or self.item is None:
            return
        item = self.item
        stack = self.layout_.undoStack()
        stack.beginMacro(tr("Anchor \u201c%s\u201d") % item.id())
        try:
            self.session.tell_moved()
            result = self.form.apply()
            # What the page in view looks like now, its checks with overlaps: in the dock, not
            # only in an export's report.
            page = self.session.placed_page()
            checked = self.session.mirror.place_page(page, True) if page is not None else {}
            moves = result["moves"] + checked.get("moves", [])
            moved = [i for i in self._moved_items(moves) if i is not item]
            # The groups around what moves are fitted again: an undo gives their boxes back too.
            groups = []
            for i in [item] + moved:
                group = i.parentGroup()
                while group is not None:
                    if group not in groups:
                        groups.append(group)
                    group = group.parentGroup()
            commands = [item] + moved + groups
            for i in commands:
                stack.beginCommand(i, tr("Anchor"))
            self._store(item, result["custom"])
            self.session.apply_moves(moves)
            for _i in commands:
                stack.endCommand()
            lines = ['"%s" %s' % (f["element"], tr("is off the page") if f["kind"] == "off_page"
                                  else tr("overlaps") + ' "%s"' % f.get("other", "") if f["kind"] == "overlap"
                                  else tr("is placed by QGIS from data"))
                     for f in checked.get("record", {}).get("checks", [])]
            if page is not None:
                lines = [self._rule_note(item, page)] + (lines or [tr("No finding of the layout checks on this page.")])
            self.findings.setText("\n".join(line for line in lines if line) if page is not None else "")
            reports = result["error_reports"] + checked.get("error_reports", [])
            if page is None and self.session.atlas is not None and self.session.atlas.enabled():
                # No atlas page in view: the record is stored, and placed when a page is shown.
                reports = [r for r in reports if "was not given" not in r.get("text", "")]
                if not reports:
                    self.findings.setText(tr("Stored. Preview the atlas to place the item on its pages."))
            self._tell_reports(reports)
        except Exception as e:  # noqa: BLE001 - Apply's button: the dock's line, no traceback
            self.findings.setText(" ".join(str(e).split()) or type(e).__name__)
        finally:
            stack.endMacro()
        self._update_buttons()

    def _rule_note(self, item, page):
        """Where the item's alternate rule places it on the page in view, a line saying so: an
        edit of its primary rule then moves nothing on this page, and the dock says why."""
        outlines = self.session.mirror.outlines(page, 1.0, 0.0)["outlines"]
        if any(o["element"] == item.id() and o["alternate"] for o in outlines):
            return tr("On this page its alternate rule places it (the Alternate Anchor tab).")
        return ""

    def cancel(self):
        self.show_item(self.item)

    def _give_record(self):
        item = self.item
        if item is None or not item.id():
            return
        try:
            self._open_mirror()
            result = self.session.mirror.edit_record(item.id(), ["AnchorElement=false"])
        except CoreError as e:
            self.findings.setText(str(e))
            return
        stack = self.layout_.undoStack()
        stack.beginCommand(item, tr("Anchor \u201c%s\u201d") % item.id())
        self._store(item, result["custom"])
        stack.endCommand()
        self.show_item(item)


def panels_menu(designer):
    """The designer's View > Panels menu, which lists its docks; the View menu itself where a
    designer has no such submenu."""
    view = designer.viewMenu()
    return view.findChild(QMenu, "mPanelsMenu") or view


class DesignerDocks:
    """An Anchor dock in every layout designer, open now or later."""

    def __init__(self, iface, anchoring):
        self.iface = iface
        self.anchoring = anchoring
        self.description = anchoring.core.form_description()
        self.docks = {}
        iface.layoutDesignerOpened.connect(self.opened)
        iface.layoutDesignerWillBeClosed.connect(self.closing)
        for designer in iface.openLayoutDesigners():
            self.opened(designer)

    def opened(self, designer):
        layout = designer.layout()
        session = self.anchoring.session(layout) if isinstance(layout, QgsPrintLayout) else None
        if session is None or designer in self.docks:
            return
        dock = AnchorDock(layout, session, self.description, designer.window())
        designer.addDockWidget(Qt.DockWidgetArea.RightDockWidgetArea, dock)
        # Closed, the dock comes back from the designer's menu of panels, as its own do.
        panels_menu(designer).addAction(dock.toggleViewAction())
        self.docks[designer] = dock

    def closing(self, designer):
        dock = self.docks.pop(designer, None)
        if dock is not None:
            dock.detach()
            panels_menu(designer).removeAction(dock.toggleViewAction())
            designer.removeDockWidget(dock)
            dock.deleteLater()

    def close(self):
        self.iface.layoutDesignerOpened.disconnect(self.opened)
        self.iface.layoutDesignerWillBeClosed.disconnect(self.closing)
        for designer in list(self.docks):
            self.closing(designer)
