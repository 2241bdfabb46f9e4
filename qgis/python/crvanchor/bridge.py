"""The anchoring library installed beside this module (lib/), called through ctypes."""

import ctypes
import os

from qgis.PyQt import sip

_FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib")
_NAME = "libcrvanchorbridge.so"
_PAGE_DONE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.c_int)
_library = None


def _lib():
    global _library
    if _library is None:
        lib = ctypes.CDLL(os.path.join(_FOLDER, _NAME))
        lib.crvanchor_load.restype = ctypes.c_char_p
        lib.crvanchor_watch.argtypes = [ctypes.c_void_p]
        lib.crvanchor_unwatch.argtypes = [ctypes.c_void_p]
        lib.crvanchor_book.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.c_char_p),
                                       ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_void_p), _PAGE_DONE]
        lib.crvanchor_book.restype = ctypes.c_int
        lib.crvanchor_free.argtypes = [ctypes.c_void_p]
        lib.crvanchor_desktop_start.argtypes = [ctypes.c_void_p]
        lib.crvanchor_desktop_start.restype = ctypes.c_void_p
        lib.crvanchor_desktop_stop.argtypes = [ctypes.c_void_p]
        lib.crvanchor_dpi_range.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double)]
        _library = lib
    return _library


def load():
    """Loads the component; the reason in one line when it cannot be, else an empty text."""
    try:
        lib = _lib()
    except (OSError, AttributeError) as e:
        # A file of the plugin missing or from another version: a line for QGIS's log, not a
        # traceback.
        return "the plugin's library lib/{} cannot be loaded ({}); install the plugin again".format(
            _NAME, " ".join(str(e).split()))
    return lib.crvanchor_load().decode("utf-8", "replace")


def dpi_range():
    """The resolutions crvanchor-qgis's --dpi takes: (lowest, highest)."""
    lowest, highest = ctypes.c_double(), ctypes.c_double()
    _lib().crvanchor_dpi_range(ctypes.byref(lowest), ctypes.byref(highest))
    return lowest.value, highest.value


def watch(project):
    _lib().crvanchor_watch(sip.unwrapinstance(project))


def unwatch(project):
    _lib().crvanchor_unwatch(sip.unwrapinstance(project))


def _text(pointer):
    if not pointer.value:
        return ""
    text = ctypes.string_at(pointer.value).decode("utf-8", "replace")
    _lib().crvanchor_free(pointer)
    return text


def book(layout, options, page_done=None):
    """Runs crvanchor-qgis's book over an open print layout: (status, standard output, standard error)."""
    argv = (ctypes.c_char_p * len(options))(*[o.encode("utf-8") for o in options])
    out, err = ctypes.c_void_p(), ctypes.c_void_p()
    callback = _PAGE_DONE(lambda done, total: 1 if page_done is None or page_done(done, total) else 0)
    status = _lib().crvanchor_book(sip.unwrapinstance(layout), len(options), argv, ctypes.byref(out),
                                   ctypes.byref(err), callback)
    return status, _text(out), _text(err)


def desktop_start(iface):
    return _lib().crvanchor_desktop_start(sip.unwrapinstance(iface))


def desktop_stop(handle):
    _lib().crvanchor_desktop_stop(handle)
