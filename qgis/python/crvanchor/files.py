"""Files the plugin and the command write: each made beside its destination and put in place
whole, or not at all, with the mode the file had (or a new file's usual one), so that a full
disk, a stopped run or a folder a colleague shares never sees half a file."""
import os
import tempfile


class WriteError(Exception):
    """A file that cannot be written, in one line naming the user's path: nothing was replaced."""


def _why(error):
    return getattr(error, "strerror", None) or str(error)


def temporary_beside(path, suffix="", prefix=None):
    """A new empty file in the destination's folder (a link's target's): its path. The suffix
    keeps a format QGIS chooses by the name; the prefix defaults to a hidden name."""
    target = os.path.realpath(path)
    try:
        handle, temporary = tempfile.mkstemp(suffix=suffix, dir=os.path.dirname(target),
                                             prefix=prefix if prefix is not None else ".crvanchor-")
    except OSError as e:
        raise WriteError("%s: cannot create a temporary file beside it: %s" % (path, _why(e)))
    os.close(handle)
    return temporary


def _mode_for(target):
    try:
        return os.stat(target).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def put_in_place(temporary, path):
    """Puts the finished temporary file over `path` (a link's target): flushed to disk with its
    folder, with the mode the former file had. Removes the temporary file if that fails."""
    target = os.path.realpath(path)
    try:
        os.chmod(temporary, _mode_for(target))
        with open(temporary, "rb+") as f:
            os.fsync(f.fileno())
        os.replace(temporary, target)
        if os.name != "nt":
            folder = os.open(os.path.dirname(target), os.O_RDONLY)
            try:
                os.fsync(folder)
            finally:
                os.close(folder)
    except OSError as e:
        discard(temporary)
        raise WriteError("%s: cannot write: %s; the former file is left as it was" % (path, _why(e)))


def write_whole(path, data):
    """Replaces `path` with `data`, whole or not at all."""
    temporary = temporary_beside(path)
    try:
        with open(temporary, "wb") as f:
            f.write(data)
    except OSError as e:
        discard(temporary)
        raise WriteError("%s: cannot write: %s; the former file is left as it was" % (path, _why(e)))
    put_in_place(temporary, path)


def discard(temporary):
    """Removes a temporary file that will not be put in place, and QGIS's backup of it."""
    for leftover in (temporary, temporary + "~"):
        try:
            os.remove(leftover)
        except OSError:
            pass
