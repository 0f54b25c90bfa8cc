"""Finding, loading and declaring libzorvane.so.1.

The library is loaded on first use, not at import, so that use_simulator() can still choose
the simulated bus after ``import kelvard``. Every function is declared with its argument and
result types; ctypes releases the interpreter lock for the length of each call, and the
library's own lock serialises the calls of all threads.
"""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import Any, Optional

LIBRARY_NAME = "libzorvane.so.1"

_INT = ctypes.c_int32
_NAME = ctypes.c_char_p
_BYTE_OUT = ctypes.POINTER(ctypes.c_uint8)
_PORTS = "ABCDE"

# Export name -> argument types; every result is a 32-bit int except GetUsbDeviceID's text.
_PROTOTYPES: dict[str, tuple[Any, ...]] = {
    "Initialize": (),
    "GetUsbDeviceID": (_INT,),
    "ConfigurePortsEx": (_NAME, _INT, _INT, _INT, _INT, _INT, _INT),
    "ReadBytePorts": (_NAME, _BYTE_OUT, _BYTE_OUT, _BYTE_OUT),
    "AddVirtualPort": (_INT, _NAME, _INT, _INT, _INT),
    "RemoveVirtualPort": (_INT, _NAME),
    "WriteVirtualPort": (_INT, _NAME, _INT),
    **{"WriteBytePort" + p: (_NAME, _INT) for p in _PORTS},
    **{"ReadBytePort" + p: (_NAME, _BYTE_OUT) for p in _PORTS},
    **{"WriteBitPort" + p: (_NAME, _INT, _INT) for p in _PORTS[:3]},
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def library_path() -> str:
    """The library to load: KELVARD_LIBRARY when set, else the build tree of the checkout
    this package sits in when there is one, else the soname for the system loader."""
    explicit = os.environ.get("KELVARD_LIBRARY")
    if explicit:
        return explicit
    root = Path(__file__).resolve().parents[2]
    built = root / "build" / "default" / "zorvane" / LIBRARY_NAME
    if (root / "zorvane" / "exports" / "zorvane.h").is_file() and built.is_file():
        return str(built)
    return LIBRARY_NAME


def library() -> ctypes.CDLL:
    """The loaded library, loading and declaring it on first use."""
    global _library
    loaded = _library
    if loaded is not None:
        return loaded
    with _lock:
        if _library is None:
            _library = _declare(_load(library_path()))
        return _library


def _load(path: str) -> ctypes.CDLL:
    try:
        return ctypes.CDLL(path)
    except OSError as error:
        raise OSError(
            f"cannot load {path} ({error}); set KELVARD_LIBRARY to the path of "
            f"{LIBRARY_NAME} or install the library"
        ) from error


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    for name, arguments in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = _NAME if name == "GetUsbDeviceID" else _INT
    return lib


def usb_names() -> list[str]:
    """The names of the boards in the library's USB table, in its order."""
    get_id = library().GetUsbDeviceID
    names: list[str] = []
    while True:
        name = get_id(len(names))
        if not name:
            return names
        names.append(name.decode("ascii"))


def use_simulator(boards: Optional[str] = None, trace: Optional[str] = None) -> None:
    """Make this process reach simulated boards instead of USB through libusb.

    ``boards`` lists the boards attached at start, separated by ``;``, each as ``key=value``
    pairs separated by ``,``: ``id`` (device ID), ``serial``, ``version``, ``mode`` (``app``
    or ``boot``), ``chip``; for example ``"id=1;id=2"``. None keeps KELVARD_SIM_BOARDS as it
    is (unset: two boards, IDs 1 and 2); an empty text attaches no board. ``trace`` names a
    file to which every transfer on the simulated bus appends one line, such as
    ``0 > 36 00 00 00 00 00``. COM-port boards are not affected.

    The library reads these settings once, when it loads: call this before the first
    function that reaches a board. Raises RuntimeError when the library is already loaded.
    """
    with _lock:
        if _library is not None:
            raise RuntimeError(
                "kelvard.use_simulator() must come before the first call that reaches a board"
            )
        os.environ["KELVARD_USB"] = "sim"
        if boards is not None:
            os.environ["KELVARD_SIM_BOARDS"] = boards
        if trace is not None:
            os.environ["KELVARD_SIM_TRACE"] = trace
