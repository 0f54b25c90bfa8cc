"""What a user runs: the examples on the simulated bus, and the package installed with pip."""

import os
import shutil
import subprocess
import sys
import venv
from pathlib import Path
from typing import List

import pytest
from conftest import ROOT, SCRATCH


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
    assert [line[len(line) - len(end):] for line, end in zip(output, lines)] == lines, output
    assert len(output) == len(lines), output


def test_pip_installs_the_package_offline() -> None:
    source, target = SCRATCH / "source", SCRATCH / "venv"  # setuptools builds in the source
    shutil.copytree(ROOT / "python", source, ignore=shutil.ignore_patterns("build", "*.egg-info"))
    venv.create(target, system_site_packages=True, with_pip=True)
    python = str(target / "bin/python")
    run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "-q", str(source)])
    found = run([python, "-c", "import kelvard, os; kelvard.use_simulator('id=5'); print(os.path"
                 ".dirname(kelvard.__file__), [b.name for b in kelvard.boards()])"], Path("/"))
    package, names = found[0].split(" ", 1)
    assert (Path(package).is_relative_to(target), names) == (True, "['5']")
    assert (Path(package) / "py.typed").is_file()
