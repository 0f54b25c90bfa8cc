"""Kelvard I/O boards from Python: find USB, COM-port and network digital-I/O boards and
read, write and configure their ports, over libkelvard.so.1.

    import kelvard
    board = kelvard.boards()[0]          # or kelvard.open("7"), kelvard.open("COM3"),
                                         # kelvard.open("tcp:lab-pi:9764")
    board.configure(0xFF, 0x00, 0xFF)    # port B outputs (bit set = input)
    board.write("B", 0x5A)
    print(board.read_all())              # {'A': 0, 'B': 90, 'C': 0, 'D': 0, 'E': 0}
    board.set_analog_count(2)
    print(board.analog())                # {'E0': 967, 'E1': 744}

The library is found through KELVARD_LIBRARY (a path), then the build tree when this
package runs from a checkout, then the system loader; it loads on first use.
kelvard.use_simulator() switches to the simulated bus before that. Any thread may use any
board. Bad arguments raise TypeError or ValueError before anything is sent; boards that are
missing, gone or not answering raise a kelvard.Error subclass naming board and operation;
what a kind of board cannot do raises kelvard.NotSupported.
"""

from ._board import (
    PIN_COUNT,
    Board,
    Change,
    Configuration,
    Field,
    Identity,
    Kind,
    boards,
    monitor,
    open,
)
from ._errors import Error, NotAnswering, NotFound, NotSupported
from ._library import use_simulator

__version__ = "1.0.1"

__all__ = [
    "PIN_COUNT",
    "Board",
    "Change",
    "Configuration",
    "Error",
    "Field",
    "Identity",
    "Kind",
    "NotAnswering",
    "NotFound",
    "NotSupported",
    "boards",
    "monitor",
    "open",
    "use_simulator",
]
