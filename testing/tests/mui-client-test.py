#!/usr/bin/env python3
"""mui-client-test.py <mui_fixture> <mui_client.py> <folder with TestFeaturesEnableKey>

The automation client against the real server: the fixture process starts
its windows and the server as the program does, and the client finds the
socket by the process id, reads every reply exactly (empty lists
included), keeps pipelined replies in order, polls with a deadline, and
drives a modal message box from a second connection while the click that
opened it waits for its answer.  Every kind of element the toolkit's
peers build answers "listitems" and "state" in whole replies; a quit while
a message box is up ends the process.
"""

import importlib.machinery
import os
import shutil
import subprocess
import sys
import tempfile
import types
import unittest

FIXTURE, CLIENT, KEY_DIR = sys.argv[1:4]
del sys.argv[1:4]

_loader = importlib.machinery.SourceFileLoader("mui_client", CLIENT)
mui_client = types.ModuleType(_loader.name)
mui_client.__file__ = _loader.path
_loader.exec_module(mui_client)

# The fixture's dialogs: the wizard, its superbox's popup list and its
# auto-hider's content.  Message boxes take the serial numbers after them.
DIALOGS = ["0 wizard", "1 wizard_body_search_popup", "2 hider"]
FIRST_BOX = len(DIALOGS)


class Fixture:
    """The fixture process; `with_key` puts the test-feature key in its
    data folder."""

    def __init__(self, folder, with_key):
        self.tmp = os.path.join(folder, "tmp")
        data = os.path.join(folder, "data")
        os.makedirs(self.tmp)
        os.makedirs(data)
        # The channel folder's parent is shared like /tmp.
        os.chmod(self.tmp, 0o1777)
        if with_key:
            shutil.copy(os.path.join(KEY_DIR, "TestFeaturesEnableKey"), data)
        self.process = subprocess.Popen([FIXTURE, self.tmp, data, "30"], stdout=subprocess.PIPE, text=True)
        self.ready = self.process.stdout.readline().strip()
        assert self.ready.startswith("READY "), self.ready
        self.folder = mui_client.channel_folder("yarl", self.tmp)
        self.clients = []

    def client(self):
        client = mui_client.MuiClient.for_pid(self.process.pid, self.folder, deadline=5)
        self.clients.append(client)
        return client

    def stop(self):
        for client in self.clients:
            client.close()
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()


class MuiClientTest(unittest.TestCase):
    def start(self, with_key=True):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        fixture = Fixture(folder.name, with_key)
        self.addCleanup(fixture.stop)
        return fixture

    def test_without_the_test_feature_key_no_socket_exists(self):
        fixture = self.start(with_key=False)
        self.assertEqual(fixture.ready, "READY -")
        self.assertIsNone(mui_client.socket_for_pid(fixture.process.pid, fixture.folder))
        with self.assertRaises(TimeoutError):
            mui_client.MuiClient.for_pid(fixture.process.pid, fixture.folder, deadline=0.2)

    def test_finds_the_socket_by_process_id_and_reads_each_reply_exactly(self):
        fixture = self.start()
        path = mui_client.socket_for_pid(fixture.process.pid, fixture.folder)
        self.assertEqual(fixture.ready, "READY " + path)
        self.assertEqual(os.path.basename(path), "muifixture.MuiComms.%d" % fixture.process.pid)
        self.assertEqual(mui_client.socket_for_pid(fixture.process.pid, fixture.folder, "muifixture"), path)
        self.assertIsNone(mui_client.socket_for_pid(fixture.process.pid, fixture.folder, "other"))

        ui = fixture.client()
        cases = [
            ("version", "1\n\n"),
            ("dialogs", "\n".join(DIALOGS) + "\n\n"),
            # Empty lists: an empty line, then the terminating one.
            ("listitems wizard.body.next", "\n\n"),
            ("checklayout wizard", "\n\n"),
            # Nothing named below a leaf, and no popup menu: the terminating
            # line alone.
            ("lists wizard.body.next", "\n"),
            ("popupmenu", "\n"),
            ("listitems wizard.body.pages", "0:One\n1:Two\n\n"),
            ("state nosuch", "0\n\n"),
            ("x" * 2000, "0\n\n"),
            ("version", "1\n\n"),
        ]
        for line, reply in cases:
            self.assertEqual(ui.ask(line), reply, line[:40])

        # Lines sent at once are answered in order, each framed on its own.
        lines = ["listitems wizard.body.next", "lists wizard.body.next", "dialogs", "bogus", "version"]
        for line in lines:
            ui.send(line)
        self.assertEqual(
            [ui.reply() for _ in lines], ["\n\n", "\n", "\n".join(DIALOGS) + "\n\n", "0\n\n", "1\n\n"]
        )

        self.assertEqual(ui.command("listitems wizard.body.color"), ["1:Red", "-1:Green", "2:Blue"])
        self.assertEqual(ui.command("checklayout wizard"), [])
        self.assertEqual(ui.command("lists wizard.body.next"), [])
        self.assertEqual(ui.command("select wizard.body.nosuch 1"), ["0"])
        with self.assertRaises(ValueError):
            ui.send("version\nversion")

    def test_waits_for_a_state_until_its_deadline(self):
        fixture = self.start()
        ui = fixture.client()
        self.assertEqual(ui.command("select wizard.body.pages 1"), ["1"])
        lines = ui.wait_for("state wizard.body.pages", lambda lines: "page 1" in lines, deadline=5)
        self.assertIn("element Pager", lines)
        with self.assertRaises(TimeoutError) as raised:
            ui.wait_for("state wizard.body.pages", lambda lines: "page 0" in lines, deadline=0.3)
        self.assertIn("page 1", str(raised.exception))

    def test_commands_are_answered_while_a_modal_message_box_runs(self):
        fixture = self.start()
        first, second = fixture.client(), fixture.client()
        # The click runs the box's modal loop: its reply waits for the box.
        first.send("click wizard.body.ask")
        dialogs = second.wait_for("dialogs", lambda lines: any(l.endswith(" messagebox") for l in lines), deadline=5)
        self.assertEqual(dialogs, DIALOGS + ["%d messagebox" % FIRST_BOX])
        self.assertEqual(second.command("version"), ["1"])
        self.assertIn("main.buttons.yes (button)", second.command("lists messagebox"))
        self.assertIn("label No", second.command("state messagebox.main.buttons.no"))
        self.assertEqual(second.command("click messagebox.main.buttons.yes"), ["1"])

        # The box ended and the loop returned: the click is answered, the
        # box is gone and its answer shown.
        self.assertEqual(first.reply(), "1\n\n")
        self.assertEqual(second.command("dialogs"), DIALOGS)
        self.assertIn("label yes", second.command("state wizard.body.answer"))

        # A second box, with the next serial number, ended by closing its
        # window: no answer was chosen.
        first.send("click wizard.body.ask")
        second.wait_for("dialogs", lambda lines: "%d messagebox" % (FIRST_BOX + 1) in lines, deadline=5)
        self.assertEqual(second.command("close %d" % (FIRST_BOX + 1)), ["1"])
        self.assertEqual(first.reply(), "1\n\n")
        self.assertIn("label no", second.command("state wizard.body.answer"))

    def test_lines_after_a_modal_click_wait_for_its_reply(self):
        fixture = self.start()
        first, second = fixture.client(), fixture.client()
        first.send("click wizard.body.ask")
        second.wait_for("dialogs", lambda lines: "%d messagebox" % FIRST_BOX in lines, deadline=5)
        first.send("bogus")
        first.send("version")
        self.assertEqual(second.command("click messagebox.main.buttons.yes"), ["1"])
        self.assertEqual([first.reply() for _ in range(3)], ["1\n\n", "0\n\n", "1\n\n"])

    def test_a_client_leaving_during_its_modal_click_leaves_the_server_running(self):
        fixture = self.start()
        first, second = fixture.client(), fixture.client()
        first.send("click wizard.body.ask")
        second.wait_for("dialogs", lambda lines: "%d messagebox" % FIRST_BOX in lines, deadline=5)
        first.close()
        self.assertEqual(second.command("version"), ["1"])
        self.assertEqual(second.command("click messagebox.main.buttons.yes"), ["1"])
        # The box goes once its loop has returned.
        second.wait_for("dialogs", lambda lines: lines == DIALOGS, deadline=5)
        self.assertIn("label yes", second.command("state wizard.body.answer"))
        self.assertIsNone(fixture.process.poll())

    def test_closing_the_wizard_ends_the_process(self):
        fixture = self.start()
        ui = fixture.client()
        self.assertEqual(ui.command("close wizard"), ["1"])
        self.assertEqual(fixture.process.wait(timeout=10), 0)

    def test_closing_the_wizard_while_a_message_box_runs_ends_the_process(self):
        fixture = self.start()
        first, second = fixture.client(), fixture.client()
        first.send("click wizard.body.ask")
        second.wait_for("dialogs", lambda lines: "%d messagebox" % FIRST_BOX in lines, deadline=5)
        # The quit ends the box's loop and then the application's.
        self.assertEqual(second.command("close wizard"), ["1"])
        self.assertEqual(fixture.process.wait(timeout=10), 0)

    def test_every_kind_of_element_answers_listitems_and_state_in_whole_replies(self):
        fixture = self.start()
        ui = fixture.client()
        named = [line.rsplit(" (", 1) for line in ui.command("lists wizard")]
        kinds = {kind.rstrip(")") for _, kind in named}
        for kind in ["layout", "button", "edit", "check", "choice", "list", "pager", "static", "slider", "frame",
                     "line", "image", "scroll", "splitter", "text", "superbox", "progressBar"]:
            self.assertIn(kind, kinds)
        self.assertIn("popup-dialogid wizard_body_search_popup", ui.command("state wizard.body.search"))
        paths = ["wizard." + path for path, _ in named]
        paths += [line.split(" ", 1)[1] for line in DIALOGS] + ["hider.pin"]

        # Sent at once: a reply that runs into the next one shows in every
        # reply after it.
        for path in paths:
            ui.send("listitems " + path)
            ui.send("state " + path)
        ui.send("version")
        items, states = {}, {}
        for path in paths:
            items[path] = ui.reply()
            states[path] = ui.reply()
        self.assertEqual(ui.reply(), "1\n\n")

        for path in paths:
            for reply in (items[path], states[path]):
                self.assertTrue(reply.endswith("\n\n"), (path, reply))
                self.assertNotIn("\n\n", reply[:-2] if reply != "\n\n" else "", (path, reply))
            self.assertTrue(states[path].startswith("shown "), (path, states[path]))
        self.assertEqual(items["wizard.body.progress"], "25%\n\n")
        self.assertIn("element Superbox\n", states["wizard.body.search"])
        self.assertEqual(items["wizard.body.pages"], "0:One\n1:Two\n\n")
        self.assertEqual(items["wizard.body.note"], "\n\n")

    def test_the_password_moves_between_the_edits_of_the_clear_text_field(self):
        fixture = self.start()
        ui = fixture.client()
        row = "wizard.body.secret."
        self.assertEqual(ui.command("settext %shidden s3cret" % row), ["1"])
        self.assertEqual(ui.command("click %sclearObsBtn" % row), ["1"])
        self.assertIn("value s3cret", ui.command("state %sclear" % row))
        self.assertEqual(ui.command("click %sclearObsBtn" % row), ["1"])
        # Hidden again: the plain edit keeps no copy.
        self.assertIn("value ", ui.command("state %sclear" % row))
        self.assertIn("value <hidden>", ui.command("state %shidden" % row))


if __name__ == "__main__":
    unittest.main()
