"""Finding, loading and declaring libkelvard.so.1.

The library is loaded on first use, not at import, so that use_simulator() can still choose
the simulated bus after ``import kelvard``. Every function is declared with its argument and
result types; ctypes releases the interpreter lock for the length of each call, and the
library serialises the calls on each board.
"""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import Any, Optional

LIBRARY_NAME = "libkelvard.so.1"

PORTS = 5
POLARITY_PORTS = 4
ANALOG_CHANNELS = 4

# Results of kelvard.h.
OK = 0
ERR_ARGUMENT = -1
ERR_NOT_FOUND = -2
ERR_AMBIGUOUS = -3
ERR_IO = -6
ERR_GONE = -7
ERR_NOT_SUPPORTED = -8
ERR_EXISTS = -13
ERR_OVERLAP = -14

KIND_USB, KIND_COM, KIND_TCP = 0, 1, 2
MODE_BOOTLOADER = 1
CONFIG_ALL_DIRECTIONS = 0x1F
CONFIG_ALL_POLARITY = 0x1E0
CONFIG_ANALOG_COUNT = 1 << 9


class Config(ctypes.Structure):
    """struct kelvard_config."""

    _fields_ = [
        ("direction", ctypes.c_uint8 * PORTS),
        ("polarity", ctypes.c_uint8 * POLARITY_PORTS),
        ("analog_count", ctypes.c_uint8),
    ]


_P = ctypes.c_void_p
_INT = ctypes.c_int
_UINT = ctypes.c_uint
_TEXT = ctypes.c_char_p

# Function name -> (result type, argument types).
_PROTOTYPES: dict[str, tuple[Any, tuple[Any, ...]]] = {
    "kelvard_result_text": (_TEXT, (_INT,)),
    "kelvard_list_boards": (_INT, (ctypes.POINTER(_P),)),
    "kelvard_list_count": (ctypes.c_size_t, (_P,)),
    "kelvard_list_get": (_P, (_P, ctypes.c_size_t)),
    "kelvard_list_free": (None, (_P,)),
    "kelvard_identity_device_id": (_INT, (_P,)),
    "kelvard_identity_serial": (_TEXT, (_P,)),
    "kelvard_identity_version": (_UINT, (_P,)),
    "kelvard_identity_mode": (_INT, (_P,)),
    "kelvard_identity_location": (_TEXT, (_P,)),
    "kelvard_identity_open_result": (_INT, (_P,)),
    "kelvard_board_open": (_INT, (_TEXT, ctypes.POINTER(_P))),
    "kelvard_board_close": (None, (_P,)),
    "kelvard_board_identity": (_INT, (_P, ctypes.POINTER(_P))),
    "kelvard_board_read_ports": (_INT, (_P, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t)),
    "kelvard_board_write_port": (_INT, (_P, _INT, ctypes.c_uint8)),
    "kelvard_board_write_bit": (_INT, (_P, _INT, _UINT, _INT)),
    "kelvard_board_read_config": (_INT, (_P, ctypes.POINTER(Config))),
    "kelvard_board_change_config": (_INT, (_P, ctypes.POINTER(Config), _UINT)),
    "kelvard_board_read_analog": (
        _INT, (_P, ctypes.POINTER(ctypes.c_uint16 * ANALOG_CHANNELS), ctypes.POINTER(_UINT))),
    "kelvard_board_add_field": (_INT, (_P, _TEXT, _UINT, _UINT, _INT)),
    "kelvard_board_write_field": (_INT, (_P, _TEXT, ctypes.c_uint32)),
    "kelvard_board_remove_field": (_INT, (_P, _TEXT)),
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
    built = root / "build" / "default" / "kelvard" / LIBRARY_NAME
    if (root / "kelvard" / "kelvard.h").is_file() and built.is_file():
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
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = result
    return lib


def result_text(result: int) -> str:
    """The library's text for a result."""
    text: bytes = library().kelvard_result_text(result)
    return text.decode("utf-8")


def use_simulator(boards: Optional[str] = None, trace: Optional[str] = None) -> None:
    """Make this process reach simulated boards instead of USB through libusb.

    ``boards`` lists the boards attached at start, separated by ``;``, each as ``key=value``
    pairs separated by ``,``: ``id`` (device ID), ``serial``, ``version``, ``mode`` (``app``
    or ``boot``), ``chip``; for example ``"id=1;id=2"``. None keeps KELVARD_SIM_BOARDS as it
    is (unset: two boards, IDs 1 and 2); an empty text attaches no board. ``trace`` names a
    file to which every transfer on the simulated bus appends one line, such as
    ``0 > 36 00 00 00 00 00``. COM-port and network boards are not affected.

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
