"""One simulated bus for the whole process (the library reads it as it loads): USB boards 7 and
9, every transfer traced; COM-port boards are kelvard-sim serial programs on pseudo-terminals."""

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
kelvard.use_simulator(boards="id=7;id=9", trace=str(TRACE))
os.environ["KELVARD_COM_PATTERN"] = str(SCRATCH / "ttyKV%d")  # COM n: ttyKV<n-1>


@pytest.fixture
def wire() -> Iterator[Callable[[], List[str]]]:
    """Gives the trace lines written since the fixture was made or last asked."""
    with open(TRACE) as trace:
        trace.seek(0, os.SEEK_END)
        yield lambda: trace.read().splitlines()


@pytest.fixture
def com_board() -> Iterator[Callable[[], str]]:
    """A COM-port board on COM1; gives a function returning the next line it received."""
    sim = os.environ.get("KELVARD_SIM_PROGRAM", ROOT / "build/default/sim/kelvard-sim")
    with subprocess.Popen([sim, "serial", "--verbose", "--link", SCRATCH / "ttyKV0"],
                          stdout=subprocess.PIPE, text=True) as board:
        output = cast(IO[str], board.stdout)  # a pipe, as asked
        assert "COM-port board on" in output.readline()
        yield lambda: output.readline().removeprefix("serial < ").strip()
        board.terminate()
