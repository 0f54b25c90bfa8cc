"""One simulated bus for the whole process (the library reads it as it loads): USB boards 7, 9
and 4, every transfer traced; a COM-port board and a network board are kelvard-sim programs on
a pseudo-terminal and on loopback."""

import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import IO, Callable, Iterator, List, cast

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


@pytest.fixture
def wire() -> Iterator[Callable[[], List[str]]]:
    """Gives the trace lines written since the fixture was made or last asked."""
    with open(TRACE) as trace:
        trace.seek(0, os.SEEK_END)
        yield lambda: trace.read().splitlines()


def _sim(*arguments: "str | Path") -> Iterator[IO[str]]:
    """A kelvard-sim program; its output after the first line, which is given back."""
    sim = os.environ.get("KELVARD_SIM_PROGRAM", str(ROOT / "build/default/sim/kelvard-sim"))
    with subprocess.Popen([sim, *arguments, "--verbose"], stdout=subprocess.PIPE,
                          text=True) as board:
        yield cast(IO[str], board.stdout)  # a pipe, as asked
        board.terminate()


@pytest.fixture
def com_board() -> Iterator[Callable[[], str]]:
    """A COM-port board on COM1; gives a function returning the next line it received."""
    for output in _sim("serial", "--link", SCRATCH / "ttyKV0"):
        assert "COM-port board on" in output.readline()
        yield lambda: output.readline().removeprefix("serial < ").strip()


@pytest.fixture
def net_board() -> Iterator[str]:
    """A network board on loopback; gives its address."""
    for output in _sim("net", "--listen", "127.0.0.1:0"):
        yield output.readline().split()[-1]
