#!/usr/bin/env python3
"""Checks that every project include and every call points down the layers, and that no include
closes a cycle.

A layer may include its own files and those of the layers it lists; anything else is an include
that points upwards (or across, from one deliverable into the other). Calls follow the same rule:
a method or function defined (in a .cpp) only in layers a file may not include is a call
upwards when that file names it, even where a header of a lower layer declares it (a class split
over two layers). A component is a header with its source file of the same name; a cycle of
components through their includes is a fault even inside one layer. Tests, benchmarks and fuzz
targets sit on top and are not checked.

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
                  "protocol/DebugOutput.*", "protocol/HexText.*", "protocol/Status.*",
                  "protocol/net/*"], []),
    ("backend interface", ["protocol/UsbBackend.h", "protocol/SimModule.h"], ["commands"]),
    # The simulated bus is a module of its own, which the driver layer loads, never includes.
    ("sim", ["sim/*.h", "sim/*.cpp"], ["backend interface", "commands"]),
    ("backends", ["protocol/backends/*"], ["backend interface", "commands"]),
    ("driver", ["protocol/*", "protocol/demo/*"], ["backends", "backend interface", "commands"]),
    ("simulator tool", ["sim/tool/*"], ["sim", "backend interface", "commands"]),
    ("firmware", ["firmware/*", "firmware/tools/*"], ["driver", "backend interface", "commands"]),
    ("library serial", ["zorvane/serial/*"], ["commands"]),
    ("library devices", ["zorvane/devices/*"], ["library serial", "driver", "backend interface",
                                                "commands"]),
    ("library exports", ["zorvane/exports/*"], ["library devices", "library serial", "driver",
                                                "backend interface", "commands"]),
    ("kelvard api", ["kelvard/*"], ["library devices", "library serial", "firmware", "driver",
                                    "backend interface", "commands"]),
    ("zorvane tool", ["zorvane/cli/*"], ["kelvard api", "library exports", "library devices",
                                         "library serial", "firmware", "driver",
                                         "backend interface", "commands"]),
    ("tool resources", ["tarvel/res/*"], []),
    ("tool link", ["tarvel/net/*"], ["commands"]),
    ("tool dialog", ["tarvel/dialog/*"], ["tool link", "tool resources", "firmware", "driver",
                                          "backend interface", "commands"]),
    ("tool updates", ["tarvel/bootloader/*"], ["tool dialog", "tool link", "tool resources",
                                               "firmware", "driver", "backend interface",
                                               "commands"]),
    ("tool program", ["tarvel/main.cpp"], ["tool updates", "tool dialog"]),
]
PUBLIC_HEADERS = {"zorvane.h": "zorvane/exports/zorvane.h", "kelvard.h": "kelvard/kelvard.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# A class declared in a header.
CLASS = re.compile(r'^\s*class\s+(?:[A-Z_]+\s+)?([A-Z]\w*)\b[^;]*$', re.M)
# A method defined at file scope: "... CClass::Method(" at the start of a line.
DEFINITION = re.compile(r'^[A-Za-z_][\w:<>,*& ]*?\b([A-Z]\w*)::(~?[A-Za-z_]\w*)\s*\(', re.M)
# A name used as a call or as a qualified member: "Method(" or "::Method".
USE = re.compile(r'(?:::|\b)([A-Za-z_]\w*)\s*(?=\()|::([A-Za-z_]\w*)\b')
COMMENT_OR_STRING = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'', re.S)


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
    files = [f for f in files if os.path.exists(f)]  # a deletion not yet committed
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
    faults += upward_calls(code, allowed)
    for fault in faults:
        print(fault)
    print(f"{len(code)} files, {sum(map(len, edges.values()))} component includes, "
          f"{len(faults)} faults")
    return 1 if faults else 0


def upward_calls(code, allowed):
    """Uses of methods that a class's own layer may not reach: a class declared in one layer
    whose method is defined (in a .cpp) in a layer above it, called or named from a file that
    may not include that layer. A virtual method is an interface the upper layer implements:
    calling it is how a lower layer reaches up, and is no fault."""
    texts = {f: COMMENT_OR_STRING.sub(" ", open(f, encoding="utf-8").read()) for f in code}
    class_layer = {}
    for f in code:
        if f.endswith(".h") and layer_of(f):
            for name in CLASS.findall(texts[f]):
                class_layer.setdefault(name, (layer_of(f), texts[f]))
    upward = {}  # method -> the layer that defines it above its class
    for f in code:
        mine = layer_of(f)
        if not f.endswith(".cpp") or mine is None:
            continue
        for cls, method in DEFINITION.findall(texts[f]):
            if cls not in class_layer:
                continue
            own, header = class_layer[cls]
            virtual = re.search(r"\bvirtual\b[^;{]*\b" + re.escape(method) + r"\s*\(", header) or \
                re.search(r"\b" + re.escape(method) + r"\s*\([^;{]*\boverride\b", header)
            if mine not in allowed[own] and not virtual:
                upward.setdefault(method, set()).add(mine)
    faults = []
    for f in code:
        mine = layer_of(f)
        if mine is None:
            continue
        used = {a or b for a, b in USE.findall(texts[f])}
        for method in sorted(used & upward.keys()):
            if not upward[method] & allowed[mine]:
                faults.append(f"{f} ({mine}) calls {method}, defined in "
                              f"{', '.join(sorted(upward[method]))}: points upwards")
    return faults


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
