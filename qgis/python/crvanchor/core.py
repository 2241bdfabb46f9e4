"""The portable anchoring core, reached through its C interface with ctypes: the engine, the
book's order, checks and report, the anchor form and the records, whatever QGIS and Qt run it.

Every call returns Python values (the core's JSON text parsed) or raises CoreError with the
core's one-line message. A core that cannot be loaded raises CoreUnavailable, one line too."""
import ctypes
import json
import os
import platform
import sys
import weakref

INTERFACE_VERSION = 3

OK, REFUSED, FAILED = 0, 1, 2


class CoreUnavailable(Exception):
    """The core library is missing, of another platform, or of another interface version."""


class CoreError(Exception):
    """A call the core refused (`refused` true: the input was wrong) or that failed."""

    def __init__(self, message, refused):
        super().__init__(message)
        self.refused = refused


def library_name():
    """The core's file name on this platform."""
    return "crvanchor_core.dll" if sys.platform == "win32" else "libcrvanchor_core.so"


def platform_folder():
    """The folder of the plugin's libs/ that holds this platform's core."""
    machine = platform.machine().lower()
    machine = {"amd64": "x86_64", "x64": "x86_64"}.get(machine, machine)
    return "%s-%s" % ("windows" if sys.platform == "win32" else sys.platform.rstrip("0123456789"), machine)


def default_path():
    """CRVANCHOR_CORE_LIBRARY when set, else this platform's core inside the plugin."""
    given = os.environ.get("CRVANCHOR_CORE_LIBRARY")
    if given:
        return given
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "libs", platform_folder(), library_name())


_CALLBACK_ARGS = {
    "set_text": (ctypes.c_char_p, ctypes.c_char_p),
    "set_value": (ctypes.c_char_p, ctypes.c_int32),
    "clear_list": (ctypes.c_char_p,),
    "add_entry": (ctypes.c_char_p, ctypes.c_char_p),
    "set_enabled": (ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32),
    "set_visible": (ctypes.c_char_p, ctypes.c_int32),
}
_CALLBACK_TYPES = {name: ctypes.CFUNCTYPE(None, ctypes.c_void_p, *args) for name, args in _CALLBACK_ARGS.items()}


class _Callbacks(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p)] + [(name, kind) for name, kind in _CALLBACK_TYPES.items()]


def _text(value):
    return value.encode("utf-8") if isinstance(value, str) else value


class Core:
    """One loaded core. Its mirrors and forms are used from the thread that opened them."""

    def __init__(self, path=None):
        path = path or default_path()
        if not os.path.isfile(path):
            raise CoreUnavailable("The anchoring core is not installed: %s is missing (this platform: %s)."
                                  % (path, platform_folder()))
        try:
            self._lib = ctypes.CDLL(path)
        except OSError as e:
            raise CoreUnavailable("The anchoring core %s cannot be loaded on this platform (%s): %s"
                                  % (path, platform_folder(), str(e).splitlines()[0] if str(e) else "unknown error"))
        lib = self._lib
        try:
            lib.crv_core_version.restype = ctypes.c_int32
        except AttributeError:
            raise CoreUnavailable("%s is not the anchoring core: it has no crv_core_version" % path)
        version = lib.crv_core_version()
        if version != INTERFACE_VERSION:
            raise CoreUnavailable("The anchoring core %s has interface %d; this plugin needs %d."
                                  % (path, version, INTERFACE_VERSION))
        self.path = path
        lib.crv_last_error.restype = ctypes.c_char_p
        lib.crv_free.argtypes = [ctypes.c_void_p]
        lib.crv_free.restype = None
        out = ctypes.POINTER(ctypes.c_void_p)
        signatures = {
            "crv_mirror_open": [ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)],
            "crv_mirror_pages": [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int32)],
            "crv_mirror_selection": [ctypes.c_void_p, out],
            "crv_mirror_show": [ctypes.c_void_p, out],
            "crv_mirror_outlines": [ctypes.c_void_p, ctypes.c_int32, ctypes.c_double, ctypes.c_double, out],
            "crv_mirror_parse_pages": [ctypes.c_void_p, ctypes.c_char_p, out],
            "crv_mirror_set_rect": [ctypes.c_void_p, ctypes.c_char_p] + [ctypes.c_double] * 4,
            "crv_mirror_set_feature": [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p],
            "crv_mirror_place_page": [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, out],
            "crv_mirror_edit_record": [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p),
                                       ctypes.c_int32, out],
            "crv_mirror_start_report": [ctypes.c_void_p, ctypes.c_char_p],
            "crv_mirror_finish_report": [ctypes.c_void_p],
            "crv_record_read": [ctypes.c_char_p, out],
            "crv_record_write": [ctypes.c_char_p, ctypes.c_int32, out],
            "crv_pdf_defect": [ctypes.c_char_p, out],
            "crv_form_description": [out],
            "crv_form_open": [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(_Callbacks),
                              ctypes.POINTER(ctypes.c_void_p)],
            "crv_form_user_text": [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, out],
            "crv_form_user_value": [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32, out],
            "crv_form_state": [ctypes.c_void_p, out],
            "crv_form_apply": [ctypes.c_void_p, out],
        }
        for name, args in signatures.items():
            function = getattr(lib, name)
            function.argtypes = args
            function.restype = ctypes.c_int
        for name in ("crv_mirror_close", "crv_form_close"):
            getattr(lib, name).argtypes = [ctypes.c_void_p]
            getattr(lib, name).restype = None

    def call(self, name, *args):
        """Calls `name`; its status checked, raising CoreError with the core's message."""
        status = getattr(self._lib, name)(*args)
        if status != OK:
            raise CoreError(self._lib.crv_last_error().decode("utf-8", "replace"), status == REFUSED)

    def call_json(self, name, *args):
        """Calls `name`, whose last argument is the text it gives back, parsed."""
        result = ctypes.c_void_p()
        self.call(name, *args, ctypes.byref(result))
        try:
            return json.loads(ctypes.string_at(result.value).decode("utf-8"))
        finally:
            self._lib.crv_free(result)

    # Records as an item stores them.
    def read_record(self, properties):
        """{"form", "custom"} of an item's custom properties (a dict of names and texts)."""
        return self.call_json("crv_record_read", _text(json.dumps(properties)))

    def write_record(self, custom, compact=True):
        """The properties (names and texts) that store a custom value."""
        return self.call_json("crv_record_write", _text(json.dumps(custom)), 1 if compact else 0)["properties"]

    def pdf_defect(self, path):
        """What is wrong with the PDF at `path`, as the map-book command checks its own; "" when
        it is whole."""
        result = ctypes.c_void_p()
        self.call("crv_pdf_defect", _text(path), ctypes.byref(result))
        try:
            return ctypes.string_at(result.value).decode("utf-8", "replace")
        finally:
            self._lib.crv_free(result)

    def form_description(self):
        return self.call_json("crv_form_description")

    def open_mirror(self, description, name):
        return Mirror(self, description, name)


class Mirror:
    """A layout mirrored in the core: ask it for a page, apply the moves it gives."""

    def __init__(self, core, description, name):
        self._core = core
        handle = ctypes.c_void_p()
        core.call("crv_mirror_open", _text(json.dumps(description)), _text(name), ctypes.byref(handle))
        self._handle = handle
        self._form = None
        # One mirror is open at a time: one dropped without close() must not hold the core.
        self._finalizer = weakref.finalize(self, core._lib.crv_mirror_close, handle)

    def close(self):
        if self._handle:
            # The core closes the mirror's form with it.
            if self._form is not None:
                self._form._handle = None
            self._finalizer()
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def pages(self):
        first, last = ctypes.c_int32(), ctypes.c_int32()
        self._core.call("crv_mirror_pages", self._handle, ctypes.byref(first), ctypes.byref(last))
        return first.value, last.value

    def parse_pages(self, text):
        """The book's pages a text such as "1-3,7" names (every page when empty), read as the
        map-book command reads --pages; CoreError with the command's line otherwise."""
        return self._core.call_json("crv_mirror_parse_pages", self._handle, _text(text or ""))["pages"]

    def selection(self):
        return self._core.call_json("crv_mirror_selection", self._handle)

    def show(self):
        """What the command's `show` lists: {"elements": [{"element", "depth", "summary"}...],
        "cycles": [LINE...]}."""
        return self._core.call_json("crv_mirror_show", self._handle)

    def outlines(self, page, pixels_per_unit, page_height):
        """What --outline draws of `page`, the page placed last, in a picture's pixels."""
        return self._core.call_json("crv_mirror_outlines", self._handle, int(page), float(pixels_per_unit),
                                    float(page_height))

    def set_rect(self, element, rect):
        self._core.call("crv_mirror_set_rect", self._handle, _text(element), *[float(v) for v in rect])

    def set_feature(self, page, values, frame=None):
        self._core.call("crv_mirror_set_feature", self._handle, _text(frame) if frame else None, int(page),
                        _text(json.dumps(values)))

    def place_page(self, page, check_overlap=False):
        return self._core.call_json("crv_mirror_place_page", self._handle, int(page), 1 if check_overlap else 0)

    def edit_record(self, element, changes):
        texts = (ctypes.c_char_p * max(1, len(changes)))(*[_text(c) for c in changes])
        return self._core.call_json("crv_mirror_edit_record", self._handle, _text(element), texts, len(changes))

    def start_report(self, path):
        self._core.call("crv_mirror_start_report", self._handle, _text(path))

    def finish_report(self):
        self._core.call("crv_mirror_finish_report", self._handle)

    def open_form(self, element, view):
        """The anchor form over `element`, shown through `view`, an object with the methods
        set_text, set_value, clear_list, add_entry, set_enabled and set_visible (control ids and
        values as Python str and int)."""
        self._form = Form(self._core, self._handle, element, view)
        return self._form


class Form:
    """The anchor form of one element, its controls a host's own."""

    def __init__(self, core, mirror, element, view):
        self._core = core

        def forward(name, method):
            def callback(_context, control, *values):
                method(control.decode("utf-8"), *[v.decode("utf-8") if isinstance(v, bytes) else v for v in values])
            return _CALLBACK_TYPES[name](callback)

        # Kept alive as long as the form: the core calls them until it is closed.
        self._callbacks = _Callbacks(None, *[forward(name, getattr(view, name)) for name in _CALLBACK_TYPES])
        handle = ctypes.c_void_p()
        core.call("crv_form_open", mirror, _text(element), ctypes.byref(self._callbacks), ctypes.byref(handle))
        self._handle = handle

    def close(self):
        if self._handle:
            self._core._lib.crv_form_close(self._handle)
            self._handle = None

    def user_text(self, control, text):
        return self._core.call_json("crv_form_user_text", self._handle, _text(control), _text(text))

    def user_value(self, control, value):
        return self._core.call_json("crv_form_user_value", self._handle, _text(control), int(value))

    def state(self):
        return self._core.call_json("crv_form_state", self._handle)

    def apply(self):
        return self._core.call_json("crv_form_apply", self._handle)
