"""Trace a Python program into the Quorvane viewer.

The records go through libquorvane, the library C and C++ programs link (loaded with ctypes, so
no compiler is needed), and show in the viewer and in quorvane-tail like theirs:

    import quorvane

    quorvane.set_origin("backup")
    quorvane.trace("start", "to /mnt/disk")

    with quorvane.scope("copy", "3 files"):      # entry line now, leave line at the end
        quorvane.trace("file", "a.txt")

    @quorvane.traced                            # a scope named after the function per call
    def checksum(path): ...

A trace call never raises and never blocks for long: a record that cannot be posted is dropped
and counted (dropped_count()). Each thread has its own indentation.
"""

import ctypes
import os
from contextlib import ContextDecorator
from functools import wraps

from quorvane import _location

__all__ = [
    "trace", "enter", "leave", "scope", "traced", "set_origin", "set_sender_key", "enabled",
    "disabled_code", "disabled_reason", "viewer_running", "posted_count", "dropped_count",
]


def _load():
    # QUORVANE_LIBRARY names a library to use; otherwise the one installed with this module, then
    # whatever the dynamic linker finds.
    here = os.path.dirname(os.path.abspath(__file__))
    candidates = [os.environ.get("QUORVANE_LIBRARY"),
                  os.path.join(here, _location.LIBRARY_DIR, _location.LIBRARY),
                  _location.LIBRARY]
    reasons = []
    for candidate in filter(None, candidates):
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            reasons.append(str(error))
    raise ImportError("libquorvane cannot be loaded: " + "; ".join(reasons))


_lib = _load()
for _name, _result, _arguments in [
        ("quorvane_trace_text", ctypes.c_int, [ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p]),
        ("quorvane_set_origin", None, [ctypes.c_char_p]),
        ("quorvane_set_sender_key", None, [ctypes.c_uint32]),
        ("quorvane_clear_sender_key", None, []),
        ("quorvane_enabled", ctypes.c_int, []),
        ("quorvane_disabled_code", ctypes.c_uint32, []),
        ("quorvane_disabled_reason", ctypes.c_char_p, []),
        ("quorvane_viewer_running", ctypes.c_int, []),
        ("quorvane_posted_count", ctypes.c_uint64, []),
        ("quorvane_dropped_count", ctypes.c_uint64, [])]:
    _function = getattr(_lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments


def _bytes(text):
    # Texts are posted as UTF-8; the library cuts them to their fields.
    if text is None:
        return None
    return str(text).encode("utf-8", "replace")


def trace(name, text=""):
    """Posts one line at the current depth. True when the record is in the mailbox."""
    return _lib.quorvane_trace_text(0, _bytes(name), _bytes(text)) == 1


def enter(name, text=""):
    """Posts an entry record: the lines after it are indented one more level."""
    return _lib.quorvane_trace_text(1, _bytes(name), _bytes(text)) == 1


def leave(name):
    """Posts the leave record of enter(name): back one level."""
    return _lib.quorvane_trace_text(-1, _bytes(name), b"") == 1


class scope(ContextDecorator):  # noqa: N801, a function-like name as contextlib's
    """An entry record when entered, its leave record when left, however it is left.

    As a decorator, each call of the function is a scope of its own. No leave record is posted
    for an entry that was not, so the indentation stays balanced.
    """

    def __init__(self, name, text=""):
        self.name = name
        self.text = text
        self.entered = False

    def _recreate_cm(self):
        # A new scope per call, so that recursive and concurrent calls each have their own.
        return scope(self.name, self.text)

    def __enter__(self):
        self.entered = enter(self.name, self.text)
        return self

    def __exit__(self, *exception):
        if self.entered:
            leave(self.name)
        return False


def traced(function):
    """Decorates a function so that each call is a scope named after it."""
    name = function.__qualname__

    @wraps(function)
    def call(*arguments, **keywords):
        with scope(name):
            return function(*arguments, **keywords)
    return call


def set_origin(name=None):
    """The origin shown for this process's records; None restores the program's name."""
    _lib.quorvane_set_origin(_bytes(name))


def set_sender_key(key=None):
    """The sender key of this thread's records; None restores its thread id."""
    if key is None:
        _lib.quorvane_clear_sender_key()
    else:
        _lib.quorvane_set_sender_key(key)


def enabled():
    """True when the mailbox is open (it is opened on first use)."""
    return _lib.quorvane_enabled() == 1


def disabled_code():
    """Why the mailbox could not be opened: an error number, 0 while tracing works."""
    return _lib.quorvane_disabled_code()


def disabled_reason():
    """Why the mailbox could not be opened, in a sentence; "" while tracing works."""
    return _lib.quorvane_disabled_reason().decode("utf-8", "replace")


def viewer_running():
    """True while a viewer runs."""
    return _lib.quorvane_viewer_running() == 1


def posted_count():
    """How many records this process has posted."""
    return _lib.quorvane_posted_count()


def dropped_count():
    """How many records this process has dropped."""
    return _lib.quorvane_dropped_count()
