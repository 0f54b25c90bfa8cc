#!/usr/bin/env python3
"""What one board.read_all() of the Python module adds to the kelvard_board_read_ports call it
makes, on a simulated bus with zero latency: the module's call beside the bare ctypes call, and
beside the C call as bench_protocol measures it (given with --c-benchmark). Target: at most
1 µs added.

    python3 bench/bench_kelvard.py --c-benchmark build/default/bench/bench_protocol
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

TARGET_US = 1.0


def best_us(statement: str, names: "dict[str, object]", calls: int) -> float:
    """The fastest of five runs of ``calls`` calls, per call, in µs."""
    return min(timeit.repeat(statement, globals=names, number=calls, repeat=5)) / calls * 1e6


def c_call_us(program: str) -> float:
    """The median time of bench_protocol's BM_KelvardReadPorts, in µs."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [program, "--benchmark_filter=^BM_KelvardReadPorts$", "--benchmark_repetitions=5",
             "--benchmark_report_aggregates_only=true", "--benchmark_out_format=json",
             "--benchmark_out=" + out.name],
            check=True, stdout=subprocess.DEVNULL)
        runs = json.load(out)["benchmarks"]
    for run in runs:
        if run.get("aggregate_name") == "median":
            return float(run["real_time"]) / 1000.0
    raise RuntimeError("bench_protocol reported no median")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--c-benchmark", help="the bench_protocol program, for the C call's time")
    parser.add_argument("--calls", type=int, default=200000)
    args = parser.parse_args()

    kelvard.use_simulator(boards="id=7")
    board = kelvard.open("7")
    handle = ctypes.c_void_p()
    lib = _library.library()
    lib.kelvard_board_open(b"7", ctypes.byref(handle))
    names = {"board": board, "read": lib.kelvard_board_read_ports, "handle": handle,
             "values": ctypes.create_string_buffer(5)}
    bare = best_us("read(handle, values, 5)", names, args.calls)
    module = best_us("board.read_all()", names, args.calls)
    print(f"ctypes kelvard_board_read_ports   {bare:7.3f} µs")
    print(f"board.read_all()                  {module:7.3f} µs   "
          f"module adds {module - bare:.3f} µs")
    if args.c_benchmark:
        c_call = c_call_us(args.c_benchmark)
        added = module - c_call
        print(f"C kelvard_board_read_ports        {c_call:7.3f} µs")
        print(f"added over the C call             {added:7.3f} µs   (target <= {TARGET_US:.1f})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
