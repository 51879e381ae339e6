#!/usr/bin/env python3
"""Checks the folder-to-folder include graph against scripts/include-edges.txt.

    include-edges.py           check; exit 1 on an edge the rules refuse
    include-edges.py --print   print every edge found today, one per line,
                               in the list's format (reasons left blank)

Every `#include "..."` in a tracked .cpp or .h file (taken from the
repository root, or failing that from the including file's folder) is an
edge from the including file's folder to the included file's folder.
A folder is a library folder: the platform and dependency subfolders
(mac, unix, native, mbedtls) belong to their parent, and a library's
tests/ folder is named "<library>/tests", so an edge that only tests need
does not let the library itself take it; the tests may take every edge
their library may.  Not counted: includes within one folder, a library's
tests including their own library or testing/, and bench/ and fuzz/, which
sit above everything and may include any library.

The list has three sections:
  [layers]       "<n>: <folder> <folder> ..." gives each library folder its
                 layer; a folder named here need not exist yet.
  [cycle edges: <count>]
                 the edges inside today's cycles, frozen: the count must
                 match, so growing the list is a change to its header.
  [edges]        every other edge, "<from> -> <to>: <why>".

A library folder (every folder but the tests/ folders and testing/) may
include a folder of a lower layer or of its own, each edge with its line.
It fails on an edge to a higher layer, to a folder without a layer, to test
code, and on any edge between two folders of one cycle (one strongly
connected component of the library folders' graph) that is not on the
frozen list.  A frozen edge that closes no cycle any more leaves the list.
The tests/ folders and testing/ have no layer: each of their edges needs
its line.  Whatever the list says, nothing in the core (qocore/base) or
platform/ includes qocore/libs, qocore/uilibs or libs/.
"""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ALLOW_LIST = os.path.join(ROOT, "scripts", "include-edges.txt")

# Subfolders that build into their parent's library.
PART_FOLDERS = {"mac", "unix", "native", "mbedtls"}
# Consumers above every library.
TOP_FOLDERS = {"bench", "fuzz"}
# Includes shown per refused edge.
SHOWN_SITES = 5
LOWER_LAYERS = ("qocore/base/", "platform/")
HIGHER_LAYERS = ("qocore/libs/", "qocore/uilibs/", "libs/")

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
EDGE = re.compile(r"^(\S+)\s*->\s*(\S+)\s*:\s*(.*)$")
SECTION = re.compile(r"^\[([a-z ]+)(?::\s*(\d+))?\]$")
LAYER = re.compile(r"^(\d+)\s*:\s*(.*)$")


def folder_of(path):
    """The library folder a repository-relative file path belongs to."""
    parts = path.split("/")[:-1]
    tests = False
    # Fixture files under tests/data/ belong to the tests.
    if "tests" in parts:
        parts = parts[: parts.index("tests")]
        tests = True
    while parts and parts[-1] in PART_FOLDERS:
        parts.pop()
    folder = "/".join(parts) or "."
    return folder + "/tests" if tests else folder


def library_of(folder):
    return folder[: -len("/tests")] if folder.endswith("/tests") else folder


def is_test_code(folder):
    """tests/ folders and testing/: no layer, an allow-list line per edge."""
    return folder.endswith("/tests") or folder == "testing" or folder.startswith("testing/")


def tracked_sources():
    out = subprocess.run(
        ["git", "-C", ROOT, "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return [line for line in out.splitlines() if line]


def resolve(including, target):
    """The repository-relative path an include names, or None outside the tree."""
    for base in ("", os.path.dirname(including)):
        candidate = os.path.normpath(os.path.join(base, target))
        if not candidate.startswith("..") and os.path.isfile(os.path.join(ROOT, candidate)):
            return candidate
    return None


def find_edges():
    """({(from, to): [(file, line number, include text)]}, {every folder with sources})"""
    edges = {}
    folders = set()
    for path in tracked_sources():
        source = folder_of(path)
        if source.split("/")[0] in TOP_FOLDERS:
            continue
        folders.add(source)
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                included = resolve(path, m.group(1))
                if included is None:
                    continue
                target = folder_of(included)
                if target == source:
                    continue
                if source.endswith("/tests") and (target == library_of(source) or target == "testing"):
                    continue
                edges.setdefault((source, target), []).append((path, number, line.strip()))
    return edges, folders


class Rules:
    """The parsed list: layers, frozen cycle edges and the other edges."""

    def __init__(self):
        self.layers = {}  # folder -> layer
        self.frozen = {}  # (from, to) -> line number
        self.frozen_count = None  # the count the section header states
        self.frozen_line = 0
        self.allowed = {}  # (from, to) -> line number
        self.problems = []


def parse_rules(content, name="include-edges.txt"):
    rules = Rules()
    section = None
    for number, line in enumerate(content.splitlines(), 1):
        text = line.strip()
        if not text or text.startswith("#"):
            continue
        where = f"{name}:{number}"
        m = SECTION.match(text)
        if m:
            section = m.group(1)
            if section == "cycle edges":
                if m.group(2) is None:
                    rules.problems.append(f"{where}: the frozen list states its size: [cycle edges: <count>]")
                else:
                    rules.frozen_count = int(m.group(2))
                    rules.frozen_line = number
            elif section not in ("layers", "edges") or m.group(2) is not None:
                expected = "[layers], [cycle edges: <count>] or [edges]"
                rules.problems.append(f"{where}: unknown section {text}; expected {expected}")
                section = None
            continue
        if section == "layers":
            m = LAYER.match(text)
            if not m or not m.group(2).split():
                rules.problems.append(f"{where}: expected '<layer>: <folder> ...', got: {text}")
                continue
            for folder in m.group(2).split():
                if is_test_code(folder):
                    rules.problems.append(f"{where}: {folder} is test code, which has no layer")
                elif folder in rules.layers:
                    rules.problems.append(f"{where}: {folder} has a layer already")
                else:
                    rules.layers[folder] = int(m.group(1))
            continue
        if section in ("cycle edges", "edges"):
            m = EDGE.match(text)
            if not m or not m.group(3).strip():
                rules.problems.append(f"{where}: expected 'from -> to: reason', got: {text}")
                continue
            edge = (m.group(1), m.group(2))
            if edge in rules.frozen or edge in rules.allowed:
                rules.problems.append(f"{where}: {edge[0]} -> {edge[1]} is listed twice")
                continue
            (rules.frozen if section == "cycle edges" else rules.allowed)[edge] = number
            continue
        rules.problems.append(f"{where}: outside a section: {text}")
    return rules


def components(graph):
    """{folder: component id} for the strongly connected components (Tarjan)."""
    index, low, on_stack, stack, component = {}, {}, set(), [], {}
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component[w] = v
                if w == v:
                    break

    nodes = set(graph) | {w for targets in graph.values() for w in targets}
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return component


def cycle_edges(edges):
    """The edges between two library folders of one cycle."""
    graph = {}
    for source, target in edges:
        if not is_test_code(source) and not is_test_code(target):
            graph.setdefault(source, set()).add(target)
    component = components(graph)
    return {(s, t) for s, targets in graph.items() for t in targets if component[s] == component[t]}


def check(edges, rules, folders=(), list_name="scripts/include-edges.txt"):
    """(failures, notes): failures are (text, sites), notes are texts.

    folders: every folder with sources; each needs a layer unless it is test
    code (an edge names its two folders too)."""
    failures = [(problem, []) for problem in rules.problems]
    cycle_failures = []  # (does not go up, text, sites): upward ones first
    used = set()
    cycles = cycle_edges(edges)
    unlayered = {folder for folder in folders if not is_test_code(folder) and folder not in rules.layers}

    def unlisted(edge):
        return f"{edge}: not on the allow-list {list_name}\n  (add the line '{edge}: <why>' if the edge is meant)"

    for (source, target), sites in sorted(edges.items()):
        edge = f"{source} -> {target}"
        if source.startswith(LOWER_LAYERS) and target.startswith(HIGHER_LAYERS):
            failures.append((f"{edge}: the core and platform/ never include a higher layer", sites))
        elif is_test_code(source):
            # No layer: the edge's own line, or one its library may take.
            own, library = (source, target), (library_of(source), target)
            if own in rules.allowed:
                used.add(own)
            elif library in rules.allowed or library in rules.frozen:
                used.add(library)
            else:
                failures.append((unlisted(edge), sites))
        elif is_test_code(target):
            failures.append((f"{edge}: library code never includes test code", sites))
        elif source not in rules.layers or target not in rules.layers:
            unlayered.update(folder for folder in (source, target) if folder not in rules.layers)
        else:
            if (source, target) in rules.allowed:
                used.add((source, target))
            low, high = rules.layers[source], rules.layers[target]
            if (source, target) in cycles:
                if (source, target) not in rules.frozen:
                    up = f" goes up from layer {low} to layer {high} and" if high > low else ""
                    text = (
                        f"{edge}:{up} closes a cycle ({source} and {target} reach each other); the frozen list "
                        f"of cycle edges in {list_name} does not grow: break the cycle instead (move the code "
                        "down, or give the lower folder a hook the higher one fills)"
                    )
                    cycle_failures.append((high <= low, text, sites))
            elif high > low:
                text = f"{edge}: goes up from layer {low} to layer {high}; a folder includes its own layer and below"
                failures.append((text, sites))
            elif (source, target) not in rules.allowed and (source, target) not in rules.frozen:
                # (A frozen line that closes no cycle is reported below.)
                failures.append((unlisted(edge), sites))

    failures += [(text, sites) for _, text, sites in sorted(cycle_failures, key=lambda failure: failure[0])]
    for folder in sorted(unlayered):
        failures.append((f"{folder}: has no layer; give it one in the [layers] of {list_name} by what it includes", []))
    for source, target in sorted(set(rules.frozen) - cycles):
        text = (
            f"{source} -> {target} is on the frozen cycle list ({list_name}:{rules.frozen[(source, target)]}) but "
            "closes no cycle now: remove its line (to [edges] if the edge stays) and lower the list's count"
        )
        failures.append((text, []))
    if rules.frozen_count is not None and rules.frozen_count != len(rules.frozen):
        text = (
            f"{list_name}:{rules.frozen_line}: the frozen cycle list holds {len(rules.frozen)} edges but its "
            f"header says {rules.frozen_count}; the list only shrinks, and growing it is a change to its header "
            "with the reason"
        )
        failures.append((text, []))
    notes = [
        f"note: {source} -> {target} is allowed but no longer used ({list_name}:{rules.allowed[(source, target)]}); "
        "remove it"
        for source, target in sorted(set(rules.allowed) - used)
    ]
    return failures, notes


def main():
    edges, folders = find_edges()
    if sys.argv[1:] == ["--print"]:
        for source, target in sorted(edges):
            print(f"{source} -> {target}: ")
        return 0
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2

    list_name = os.path.relpath(ALLOW_LIST, ROOT)
    with open(ALLOW_LIST, encoding="utf-8") as f:
        rules = parse_rules(f.read(), list_name)
    failures, notes = check(edges, rules, folders, list_name)
    for text, sites in failures:
        print(text)
        for path, number, include in sites[:SHOWN_SITES]:
            print(f"  {path}:{number}: {include}")
        if len(sites) > SHOWN_SITES:
            print(f"  ... and {len(sites) - SHOWN_SITES} more")
    for note in notes:
        print(note)

    if failures:
        print("include edges: FAILED")
        return 1
    print(f"include edges: {len(edges)} edges in {len(set(rules.layers.values()))} layers, "
          f"{len(rules.frozen)} frozen cycle edges")
    return 0


if __name__ == "__main__":
    sys.exit(main())
