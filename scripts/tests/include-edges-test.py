#!/usr/bin/env python3
"""The include-edge check's rules on a made-up graph: layers, the frozen
cycle list and the allow-list lines."""

import importlib.machinery
import os
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("include_edges", os.path.join(HERE, "..", "include-edges.py"))
include_edges = types.ModuleType(_loader.name)
include_edges.__file__ = _loader.path
_loader.exec_module(include_edges)

# core and io include each other (a frozen cycle, core -> io going up a
# layer); rdr is in the knot too.  "future" has a layer but no folder yet.
RULES = """
# a comment
[layers]
0: base
1: core rdr
2: io net
3: app ui future
[cycle edges: 4]
core -> io: frozen, and upward
io -> core: frozen
core -> rdr: frozen
rdr -> core: frozen
[edges]
core -> base: r
io -> base: r
net -> io: r
net -> core: r
app -> net: r
ui -> base: r
core/tests -> net: r
testing -> app: r
"""

TODAY = [
    ("core", "base"),
    ("io", "base"),
    ("core", "io"),
    ("io", "core"),
    ("core", "rdr"),
    ("rdr", "core"),
    ("net", "io"),
    ("net", "core"),
    ("app", "net"),
    ("ui", "base"),
    ("core/tests", "net"),
    ("core/tests", "io"),  # the library's frozen edge
    ("testing", "app"),
]


def run(edges, rules=RULES, folders=()):
    """The failure texts and notes for an edge set."""
    fake = {edge: [(f"{edge[0]}/File.cpp", 1, f'#include "{edge[1]}/File.h"')] for edge in edges}
    failures, notes = include_edges.check(fake, include_edges.parse_rules(rules), folders)
    return [text for text, _ in failures], notes


def with_edges(*lines):
    return RULES + "\n".join(lines) + "\n"


class LayerRulesTest(unittest.TestCase):
    def test_todays_graph_passes_with_a_frozen_upward_cycle_edge(self):
        self.assertEqual(run(TODAY), ([], []))

    def test_an_edge_to_a_higher_layer_fails_even_when_listed(self):
        failures, _ = run(TODAY + [("net", "ui")], with_edges("net -> ui: listed all the same"))
        self.assertEqual(len(failures), 1)
        self.assertIn("net -> ui: goes up from layer 2 to layer 3", failures[0])

    def test_a_new_edge_inside_a_cycle_fails_even_downward_and_listed(self):
        failures, _ = run(TODAY + [("io", "rdr")], with_edges("io -> rdr: listed all the same"))
        self.assertEqual(len(failures), 1)
        self.assertIn("io -> rdr: closes a cycle", failures[0])
        self.assertIn("frozen list of cycle edges", failures[0])

    def test_a_new_cycle_within_one_layer_fails(self):
        edges = TODAY + [("app", "ui"), ("ui", "app")]
        failures, _ = run(edges, with_edges("app -> ui: r", "ui -> app: r"))
        self.assertEqual(len(failures), 2)
        self.assertIn("app -> ui: closes a cycle", failures[0])
        self.assertIn("ui -> app: closes a cycle", failures[1])

    def test_an_edge_within_a_layer_that_closes_no_cycle_passes(self):
        self.assertEqual(run(TODAY + [("app", "ui")], with_edges("app -> ui: r")), ([], []))

    def test_every_edge_still_needs_its_line(self):
        failures, _ = run(TODAY + [("app", "ui")])
        self.assertEqual(len(failures), 1)
        self.assertIn("app -> ui: not on the allow-list", failures[0])

    def test_a_folder_without_a_layer_fails(self):
        failures, _ = run(TODAY + [("tool", "base")], with_edges("tool -> base: r"))
        self.assertEqual(len(failures), 1)
        self.assertIn("tool: has no layer", failures[0])
        # A folder with sources but no edge is found too; test code needs none.
        failures, _ = run(TODAY, folders={"lonely", "core", "x/tests", "testing/ui"})
        self.assertEqual(len(failures), 1)
        self.assertIn("lonely: has no layer", failures[0])

    def test_library_code_never_includes_test_code(self):
        failures, _ = run(TODAY + [("app", "testing")], with_edges("app -> testing: r"))
        self.assertEqual(len(failures), 1)
        self.assertIn("app -> testing: library code never includes test code", failures[0])


class FrozenListTest(unittest.TestCase):
    def test_growing_the_list_needs_its_header(self):
        grown = RULES.replace("[edges]", "io -> rdr: one more\n[edges]")
        failures, _ = run(TODAY + [("io", "rdr")], grown)
        self.assertEqual(len(failures), 1)
        self.assertIn("holds 5 edges but its header says 4", failures[0])
        self.assertEqual(run(TODAY + [("io", "rdr")], grown.replace("[cycle edges: 4]", "[cycle edges: 5]")), ([], []))

    def test_an_edge_of_a_cut_cycle_leaves_the_list(self):
        cut = [edge for edge in TODAY if edge != ("rdr", "core")]
        failures, _ = run(cut)
        self.assertEqual(len(failures), 2)
        self.assertIn("core -> rdr is on the frozen cycle list", failures[0])
        self.assertIn("rdr -> core is on the frozen cycle list", failures[1])
        moved = RULES.replace("core -> rdr: frozen\n", "").replace("rdr -> core: frozen\n", "")
        moved = moved.replace("[cycle edges: 4]", "[cycle edges: 2]") + "core -> rdr: no cycle now\n"
        self.assertEqual(run(cut, moved), ([], []))


class TestCodeTest(unittest.TestCase):
    def test_test_code_has_no_layer_and_follows_its_lines(self):
        # Upward from a library's layer is fine for its tests and testing/,
        # but each edge needs a line.
        failures, _ = run(TODAY + [("core/tests", "app"), ("testing", "ui")])
        self.assertEqual(len(failures), 2)
        self.assertIn("core/tests -> app: not on the allow-list", failures[0])
        self.assertIn("testing -> ui: not on the allow-list", failures[1])
        listed = with_edges("core/tests -> app: r", "testing -> ui: r")
        self.assertEqual(run(TODAY + [("core/tests", "app"), ("testing", "ui")], listed), ([], []))

    def test_test_code_gets_no_layer(self):
        failures, _ = run(TODAY, RULES.replace("3: app ui future", "3: app ui future core/tests"))
        self.assertEqual(len(failures), 1)
        self.assertIn("core/tests is test code, which has no layer", failures[0])


if __name__ == "__main__":
    unittest.main()
