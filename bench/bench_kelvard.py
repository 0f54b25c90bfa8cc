#!/usr/bin/env python3
"""What one board.read("A") of the Python module adds to the ReadBytePortA call it makes, on
a simulated bus with zero latency: the module's call beside the bare ctypes call, and beside
the C call as bench_zorvane measures it (given with --c-benchmark). Target: under 3 µs added.

    python3 bench/bench_kelvard.py --c-benchmark build/default/bench/bench_zorvane
"""

import argparse
import ctypes
import json
import subprocess
import sys
import tempfile
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
import kelvard  # noqa: E402
from kelvard import _library  # noqa: E402

TARGET_US = 3.0


def best_us(statement: str, names: "dict[str, object]", calls: int) -> float:
    """The fastest of five runs of ``calls`` calls, per call, in µs."""
    return min(timeit.repeat(statement, globals=names, number=calls, repeat=5)) / calls * 1e6


def c_call_us(program: str) -> float:
    """The median time of bench_zorvane's BM_ReadBytePortA, in µs."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [program, "--benchmark_filter=^BM_ReadBytePortA$", "--benchmark_repetitions=5",
             "--benchmark_report_aggregates_only=true", "--benchmark_out_format=json",
             "--benchmark_out=" + out.name],
            check=True, stdout=subprocess.DEVNULL)
        runs = json.load(out)["benchmarks"]
    for run in runs:
        if run.get("aggregate_name") == "median":
            return float(run["real_time"]) / 1000.0
    raise RuntimeError("bench_zorvane reported no median")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--c-benchmark", help="the bench_zorvane program, for the C call's time")
    parser.add_argument("--calls", type=int, default=200000)
    args = parser.parse_args()

    kelvard.use_simulator(boards="id=7")
    board = kelvard.open("7")
    value = ctypes.c_uint8()
    names = {"board": board, "read": _library.library().ReadBytePortA,
             "name": b"7", "out": ctypes.byref(value)}
    bare = best_us("read(name, out)", names, args.calls)
    module = best_us('board.read("A")', names, args.calls)
    print(f"ctypes ReadBytePortA call   {bare:7.3f} µs")
    print(f'board.read("A")             {module:7.3f} µs   module adds {module - bare:.3f} µs')
    if args.c_benchmark:
        c_call = c_call_us(args.c_benchmark)
        added = module - c_call
        print(f"C ReadBytePortA call        {c_call:7.3f} µs")
        print(f"added over the C call       {added:7.3f} µs   (target < {TARGET_US:.1f})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
