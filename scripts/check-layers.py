#!/usr/bin/env python3
"""Checks that every project include points down the layers and that no include closes a cycle.

A layer may include its own files and those of the layers it lists; anything else is an include
that points upwards (or across, from one deliverable into the other). A component is a header
with its source file of the same name; a cycle of components through their includes is a fault
even inside one layer. Tests, benchmarks and fuzz targets sit on top and are not checked.

    scripts/check-layers.py [REPOSITORY]   exit status 0: clean, 1: faults listed
"""
import fnmatch
import os
import re
import subprocess
import sys

# Lowest first: (name, files, layers it may include).
LAYERS = [
    ("commands", ["protocol/PortTypes.*", "protocol/CommandSet.*", "protocol/BootloaderCommands.h",
                  "protocol/DebugOutput.*", "protocol/HexText.*", "protocol/UsbOpenError.*",
                  "protocol/net/*"], []),
    ("sim", ["sim/*.h", "sim/*.cpp"], ["commands"]),
    ("backend interface", ["protocol/UsbBackend.h"], ["commands"]),
    ("backends", ["protocol/backends/*"], ["backend interface", "sim", "commands"]),
    ("driver", ["protocol/*", "protocol/demo/*"],
     ["backends", "backend interface", "sim", "commands"]),
    ("simulator tool", ["sim/tool/*"], ["sim", "commands"]),
    ("firmware", ["firmware/*", "firmware/tools/*"], ["driver", "backend interface", "commands"]),
    ("library serial", ["zorvane/serial/*"], ["commands"]),
    ("library devices", ["zorvane/devices/*"], ["library serial", "driver", "backend interface",
                                                "commands"]),
    ("library exports", ["zorvane/exports/*"], ["library devices", "library serial", "driver",
                                                "backend interface", "commands"]),
    ("zorvane tool", ["zorvane/cli/*"], ["library exports", "library serial", "firmware", "driver",
                                         "backend interface", "commands"]),
    ("tool resources", ["tarvel/res/*"], []),
    ("tool link", ["tarvel/net/*"], ["commands"]),
    ("tool dialog", ["tarvel/dialog/*"], ["tool link", "tool resources", "firmware", "driver",
                                          "backends", "backend interface", "sim", "commands"]),
    ("tool updates", ["tarvel/bootloader/*"], ["tool dialog", "tool link", "tool resources",
                                               "firmware", "driver", "backend interface",
                                               "commands"]),
    ("tool program", ["tarvel/main.cpp"], ["tool dialog"]),
]
PUBLIC_HEADERS = {"zorvane.h": "zorvane/exports/zorvane.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """A pattern names the files of one folder: "protocol/*" not those of protocol/backends."""
    for name, patterns, _ in LAYERS:
        if any(fnmatch.fnmatch(path, p) and path.count("/") == p.count("/") for p in patterns):
            return name
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    os.chdir(root)
    files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard"],
                           capture_output=True, text=True,
                           check=True).stdout.split()
    code = [f for f in files if re.search(r"\.(c|cpp|h)$", f)
            and not f.startswith(("tests/", "bench/", "fuzz/", "python/"))]
    allowed = {name: set(uses) | {name} for name, _, uses in LAYERS}
    component = lambda f: os.path.splitext(f)[0]
    faults = []
    edges = {}
    for f in code:
        mine = layer_of(f)
        if mine is None:
            faults.append(f"{f}: in no layer")
            continue
        for inc in INCLUDE.findall(open(f, encoding="utf-8").read()):
            target = PUBLIC_HEADERS.get(inc, inc)
            if target not in files:
                continue  # generated (moc) files
            theirs = layer_of(target)
            if theirs not in allowed[mine]:
                faults.append(f"{f} ({mine}) includes {inc} ({theirs}): points upwards")
            if component(target) != component(f):
                edges.setdefault(component(f), set()).add(component(target))
    faults += [f"include cycle: {' -> '.join(c + [c[0]])}" for c in cycles(edges)]
    for fault in faults:
        print(fault)
    print(f"{len(code)} files, {sum(map(len, edges.values()))} component includes, "
          f"{len(faults)} faults")
    return 1 if faults else 0


def cycles(edges):
    """Strongly connected components with more than one component (Tarjan)."""
    index, low, stack, on, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    sys.setrecursionlimit(10000)
    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


if __name__ == "__main__":
    sys.exit(main())
