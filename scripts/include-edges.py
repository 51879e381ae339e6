#!/usr/bin/env python3
"""Checks the folder-to-folder include graph against scripts/include-edges.txt.

    include-edges.py           check; exit 1 on an edge not on the list
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

Whatever the list says, nothing in the core (qocore/base) or platform/
includes a higher layer (qocore/libs, qocore/uilibs, libs/ with the setup
application).
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
LOWER_LAYERS = ("qocore/base/", "platform/")
HIGHER_LAYERS = ("qocore/libs/", "qocore/uilibs/", "libs/")

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
EDGE = re.compile(r"^(\S+)\s*->\s*(\S+)\s*:\s*(.*)$")


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


def tracked_sources():
    out = subprocess.run(
        ["git", "-C", ROOT, "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h"], check=True, capture_output=True, text=True
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
    """{(from, to): [(file, line number, include text)]}"""
    edges = {}
    for path in tracked_sources():
        source = folder_of(path)
        if source.split("/")[0] in TOP_FOLDERS:
            continue
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
    return edges


def read_allow_list():
    allowed = {}
    problems = []
    with open(ALLOW_LIST, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            text = line.strip()
            if not text or text.startswith("#"):
                continue
            m = EDGE.match(text)
            if not m or not m.group(3).strip():
                problems.append(f"{ALLOW_LIST}:{number}: expected 'from -> to: reason', got: {text}")
                continue
            allowed[(m.group(1), m.group(2))] = number
    return allowed, problems


def main():
    edges = find_edges()
    if sys.argv[1:] == ["--print"]:
        for source, target in sorted(edges):
            print(f"{source} -> {target}: ")
        return 0
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2

    allowed, problems = read_allow_list()
    failed = bool(problems)
    for problem in problems:
        print(problem)

    for (source, target), sites in sorted(edges.items()):
        upward = source.startswith(LOWER_LAYERS) and target.startswith(HIGHER_LAYERS)
        if upward:
            print(f"{source} -> {target}: the core and platform/ never include a higher layer")
        elif (source, target) not in allowed and (library_of(source), target) not in allowed:
            print(f"{source} -> {target}: not on the allow-list {os.path.relpath(ALLOW_LIST, ROOT)}")
            print(f"  (add the line '{source} -> {target}: <why>' if the edge is meant)")
        else:
            continue
        failed = True
        for path, number, text in sites:
            print(f"  {path}:{number}: {text}")

    used = set(edges) | {(library_of(source), target) for source, target in edges}
    for source, target in sorted(set(allowed) - used):
        print(f"note: {source} -> {target} is allowed but no longer used "
              f"({os.path.relpath(ALLOW_LIST, ROOT)}:{allowed[(source, target)]}); remove it")

    if failed:
        print("include edges: FAILED")
        return 1
    print(f"include edges: {len(edges)} edges, all on the allow-list")
    return 0


if __name__ == "__main__":
    sys.exit(main())
