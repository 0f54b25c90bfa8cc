"""kelvard on the simulated bus: bytes on the wire, arguments, errors, fields, monitor, threads;
and what a user runs: the examples, and the package installed with pip."""

import os
import re
import shutil
import subprocess
import sys
import venv
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any, Callable, Dict, List

import pytest
from conftest import ROOT, SCRATCH

import kelvard

def run_session(path: Path, sent: Callable[[int], List[str]], names: Dict[str, Any]) -> None:
    """Runs the steps of a session file in order: a Python statement, or an expression and
    " -> " what it gives (a value; or what it raises: a class, or an Error naming board and
    operation). The lines indented under a step are all that it sends ("..." for anything)."""
    names["kelvard"] = kelvard
    for step, block in re.findall(r"^([^#\s].*)\n((?:  .*\n)*)", path.read_text(), re.M):
        lines = [line.strip() for line in block.splitlines()]
        code, _, outcome = step.partition(" -> ")
        expected = eval(outcome or "None", names)
        try:
            result = eval(compile(code, path.name, "eval" if outcome else "exec"), names)
        except Exception as error:  # the step says what it raises
            result = error
        if isinstance(expected, type) and issubclass(expected, Exception):
            result = type(result)
        elif isinstance(expected, kelvard.Error):  # its class, board, operation and message
            result, expected = [(type(e), getattr(e, "board", 0), getattr(e, "operation", 0),
                                 str(e)[:len(str(expected))]) for e in (result, expected)]
        got = sent(len(lines))
        assert (result, got if lines != ["..."] else lines) == (expected, lines), step


@pytest.mark.parametrize("session", sorted((Path(__file__).parent / "sessions").glob("*.session")),
                         ids=lambda p: str(p.stem))
def test_session(session: Path, wire: Callable[[], List[str]],
                 request: pytest.FixtureRequest) -> None:
    if session.stem.startswith("com-"):
        line = request.getfixturevalue("com_board")
        run_session(session, lambda n: [line() for _ in range(n)], {})
    else:  # a network board's session finds its address as "address"
        address = request.getfixturevalue("net_board") if session.stem.startswith("tcp-") else ""
        run_session(session, lambda n: wire(), {"address": address})


def test_threads_share_one_board() -> None:
    board = kelvard.open(9)
    board.configure(0x00, 0xFF, 0x00)

    def wrong_reads(port: str) -> List[int]:  # each thread writes its port, then reads it back
        wrong: List[int] = []
        for n in range(2000):
            board.write(port, n & 0xFF)
            wrong += [] if board.read(port) == n & 0xFF else [n]
        return wrong

    with ThreadPoolExecutor(2) as pool:  # (and any exception of a thread raises here)
        assert list(pool.map(wrong_reads, "AC")) == [[], []]
    assert board.read_all()["A"] == board.read_all()["C"] == 1999 & 0xFF


def run(command: List[str], cwd: Path = SCRATCH) -> List[str]:
    environment = {k: v for k, v in os.environ.items() if not k.startswith("KELVARD_SIM")}
    done = subprocess.run(command, env=environment, cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


@pytest.mark.parametrize("example, arguments, lines", [
    ("blink.py", ["--count", "2", "--period", "0"], ["board 1: B0 = 1", "board 1: B0 = 0"] * 2),
    ("virtual_port.py", ["--count", "2"], ["0x00", "0x10", "removed: port A = 0x00"]),
    ("monitor.py", ["--count", "3"], ["changed: A,B,C,D,E", "changed: B", "changed: B"]),
    ("analog.py", ["--channels", "2", "--count", "1", "--period", "0"], ["E0=0 E1=0"]),
])
def test_example_runs_on_the_simulated_bus(example: str, arguments: List[str],
                                           lines: List[str]) -> None:
    script = str(ROOT / "python/examples" / example)
    output = run([sys.executable, script, "--simulate", *arguments])
    ends = [line[len(line) - len(end):] for line, end in zip(output, lines)]
    assert (ends, len(output)) == (lines, len(lines)), output


def test_pip_installs_the_package_offline() -> None:
    source, target = SCRATCH / "source", SCRATCH / "venv"  # setuptools builds in the source
    shutil.copytree(ROOT / "python", source, ignore=shutil.ignore_patterns("build", "*.egg-info"))
    venv.create(target, system_site_packages=True, with_pip=True)
    python = str(target / "bin/python")
    run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "-q", str(source)])
    found = run([python, "-c", "import kelvard, os; kelvard.use_simulator('id=5'); print(os.path"
                 ".dirname(kelvard.__file__), [b.name for b in kelvard.boards()])"], Path("/"))
    package, names = found[0].split(" ", 1)
    assert (Path(package).is_relative_to(target), (Path(package) / "py.typed").is_file(),
            names) == (True, True, "['5']")
