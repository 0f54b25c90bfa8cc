"""One simulated bus for the whole process (the library reads it as it loads): USB boards 7 and
9, every transfer traced; COM-port and network boards are kelvard-sim programs on
pseudo-terminals and loopback."""

import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Callable, Iterator, List, Tuple

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))
import kelvard  # noqa: E402

_scratch = tempfile.TemporaryDirectory(prefix="kelvard-pytest-")
SCRATCH = Path(_scratch.name)
TRACE = SCRATCH / "trace"
TRACE.touch()
kelvard.use_simulator(boards="id=7;id=9;id=4,serial=AB12CD34,version=0x0102", trace=str(TRACE))
os.environ["KELVARD_COM_PATTERN"] = str(SCRATCH / "ttyKV%d")  # COM n: ttyKV<n-1>
_com_numbers = iter(range(1, 80))
SIM = os.environ.get("KELVARD_SIM_PROGRAM", str(ROOT / "build/default/sim/kelvard-sim"))


@pytest.fixture
def wire() -> Iterator[Callable[[], List[str]]]:
    """Gives the trace lines written since the fixture was made or last asked."""
    with open(TRACE) as trace:
        trace.seek(0, os.SEEK_END)
        yield lambda: trace.read().splitlines()


def _sim(*arguments: "str | Path") -> "Iterator[Tuple[str, Callable[[], str]]]":
    """A kelvard-sim program: its first line's last word and a function giving its next line."""
    program = subprocess.Popen([SIM, *arguments, "--verbose"], stdout=subprocess.PIPE, text=True)
    assert program.stdout
    output = program.stdout
    first: str = output.readline()
    yield first.split()[-1], lambda: str(output.readline()).split(" < ")[-1].strip()
    program.terminate()
    program.wait()


@pytest.fixture
def com_board() -> Iterator[Tuple[kelvard.Board, Callable[[], str]]]:
    """A COM-port board and a function giving the next line it received."""
    number = next(_com_numbers)
    for _, line in _sim("serial", "--link", SCRATCH / f"ttyKV{number-1}"):
        yield kelvard.open(f"COM{number}"), line


@pytest.fixture
def net_address() -> Iterator[str]:
    """The address of a network board on loopback."""
    for address, _ in _sim("net", "--listen", "127.0.0.1:0"):
        yield address
