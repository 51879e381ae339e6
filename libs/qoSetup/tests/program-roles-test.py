#!/usr/bin/env python3
"""program-roles-test.py <build folder> <scratch folder> <key folder> <mui_client.py>

The program's roles and its single-instance channel, driven from outside
as a user (and the browser) would: copies of the real executable in a
private mount namespace (program_fixture.py).  A second start raises the
running wizard and ends; "-uri" hands the callback URL to the running
wizard or explains why it cannot; a stale socket, a silent listener or one
that sends another version word make the new copy the wizard; SIGINT and
SIGTERM end the wizard with 0 after its teardown; a bad argument ends the
program with 1; `_SvrUri` on the command line counts only with test
features.
"""

import os
import signal
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_fixture as pf  # noqa: E402

pf.enter_private_namespace()
BUILD, SCRATCH, KEY_DIR, CLIENT = sys.argv[1:5]
del sys.argv[1:5]
mui_client = pf.load_mui_client(CLIENT)

CALLBACK = pf.SCHEME + ":///install?state=abc&server=t1"


class RolesTest(unittest.TestCase):
    def setup(self, with_key=True):
        setup = pf.Setup(BUILD, SCRATCH, KEY_DIR, mui_client, with_key)
        self.addCleanup(setup.close)
        return setup

    def start_wizard(self, setup, *args):
        wizard = setup.start(*args, name="wizard")
        ui = wizard.ui()
        ui.wait_for("state SetupDlg.initial", lambda lines: lines[:1] == ["shown 1"])
        return wizard, ui

    def test_a_second_start_raises_the_running_wizard_and_ends_with_0(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        second = setup.start(name="second")
        self.assertEqual(second.wait(), 0, second.stderr())
        # It never became a wizard: no automation socket, no listener.
        self.assertNotIn("Listening on", second.stderr())
        self.assertIsNone(mui_client.socket_for_pid(second.pid, pf.CHANNELS))
        # The running one is untouched and still serves.
        self.assertEqual(ui.command("state SetupDlg.initial")[:1], ["shown 1"])
        self.assertIsNone(wizard.process.poll())

    def test_uri_with_a_running_wizard_is_forwarded_and_ends_with_0(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        status, out, err = setup.run("-uri", CALLBACK)
        self.assertEqual(status, 0, err)
        # Outside the signing-in page the wizard refuses it and stays.
        wizard.wait_for_log(
            "Error handling URI '%s': URI received when not showing SigningInPage" % CALLBACK)
        self.assertEqual(ui.command("state SetupDlg.initial")[:1], ["shown 1"])

    def test_uri_refusals_end_with_1_and_say_why(self):
        setup = self.setup()
        cases = [
            # No wizard runs.
            ([CALLBACK], "Error contacting Corvane Server Setup"),
            # Another scheme, and no URL at all (an empty scheme).
            (["https://www.example.com/install"], "Details: Unsupported URI scheme https"),
            ([], "Details: Unsupported URI scheme \n"),
        ]
        for args, expected in cases:
            status, out, err = setup.run("-uri", *args)
            self.assertEqual(status, 1, args)
            self.assertIn(expected, err, args)
        status, out, err = setup.run("-uri", CALLBACK)
        self.assertIn("Details: connect", err)

    def test_a_foreign_scheme_is_refused_also_while_a_wizard_runs(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        status, out, err = setup.run("-uri", "other.scheme:///install?state=abc&server=t1")
        self.assertEqual(status, 1)
        self.assertIn("Unsupported URI scheme other.scheme", err)
        self.assertNotIn("Error handling URI", wizard.stderr())

    def test_a_uri_over_8192_bytes_is_logged_and_the_page_stays(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        peer = pf.SetupCommsPeer()
        self.addCleanup(peer.close)
        self.assertEqual(peer.version, pf.VERSION_WORD)
        peer.send_uri(pf.SCHEME + ":///install?x=" + "a" * 8193)
        wizard.wait_for_log("Bad URI message: [StringTooLongException] String exceeds maximum length")
        # The connection stays: the next message on it is served.
        peer.send_uri(pf.SCHEME + ":///" + "b" * (8192 - len(pf.SCHEME) - 4))
        wizard.wait_for_log("Error handling URI '%s:///bbb" % pf.SCHEME)
        self.assertEqual(ui.command("state SetupDlg.initial")[:1], ["shown 1"])
        self.assertEqual(ui.command("lists SetupDlg")[0], "initial (layout)")

    def test_only_the_latest_client_is_served(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        first = pf.SetupCommsPeer()
        self.addCleanup(first.close)
        second = pf.SetupCommsPeer()
        self.addCleanup(second.close)
        second.send_uri(pf.SCHEME + ":///second")
        wizard.wait_for_log("Error handling URI '%s:///second'" % pf.SCHEME)
        # The first connection was dropped when the second came.
        first.sock.settimeout(5)
        self.assertEqual(first.sock.recv(1), b"")
        self.assertEqual(ui.command("state SetupDlg.initial")[:1], ["shown 1"])

    def test_a_connection_that_fails_as_it_is_accepted_shows_a_box_and_ends_the_wizard_with_1(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        # The peer is gone before the wizard accepts it: the version word
        # finds a broken pipe.
        wizard.signal(signal.SIGSTOP)
        peer = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        peer.connect(pf.SETUP_COMMS)
        peer.close()
        wizard.signal(signal.SIGCONT)
        ui.wait_for("dialogs", lambda lines: "2 messagebox" in lines)
        self.assertIn("write: Broken pipe", "\n".join(ui.command("state messagebox.main.frame.split.info.msg")))
        wizard.wait_for_log("SetupComms: [System-")
        self.assertEqual(ui.command("click messagebox.main.buttons.ok"), ["1"])
        self.assertEqual(wizard.wait(), 1, wizard.stderr())
        self.assertNotIn("Sanitizer", wizard.stderr())

    def test_a_stale_socket_or_a_listener_without_the_version_word_makes_this_copy_the_wizard(self):
        cases = [("stale", None), ("other version", bytes.fromhex("5e7cbc04")), ("silent", b"")]
        for name, version in cases:
            with self.subTest(name):
                setup = self.setup()
                if version is None:
                    pf.stale_socket(pf.SETUP_COMMS)
                    wizard, ui = self.start_wizard(setup)
                else:
                    with pf.listening_socket(pf.SETUP_COMMS, version or None) as held:
                        # A silent peer is waited for 10 s.
                        wizard = setup.start(name="wizard")
                        ui = wizard.ui(deadline=40)
                        ui.wait_for("state SetupDlg.initial", lambda lines: lines[:1] == ["shown 1"])
                        self.assertEqual(len(held), 1)
                wizard.wait_for_log("Listening on " + pf.SETUP_COMMS)
                # The socket is the new wizard's now.
                peer = pf.SetupCommsPeer()
                self.assertEqual(peer.version, pf.VERSION_WORD)
                peer.close()
                self.assertEqual(ui.command("close SetupDlg"), ["1"])
                self.assertEqual(wizard.wait(), 0, wizard.stderr())

    def test_sigint_and_sigterm_end_the_wizard_with_0_after_its_teardown(self):
        for name, sig in pf.SIGNALS.items():
            with self.subTest(name):
                setup = self.setup()
                wizard, ui = self.start_wizard(setup)
                wizard.signal(sig)
                self.assertEqual(wizard.wait(), 0, wizard.stderr())
                self.assertIn("SetupApp: Got signal " + name, wizard.stderr())
                # The listener went with the teardown, and took its socket.
                self.assertFalse(os.path.exists(pf.SETUP_COMMS))

    def test_closing_the_dialog_ends_the_wizard_with_0(self):
        setup = self.setup()
        wizard, ui = self.start_wizard(setup)
        self.assertEqual(ui.command("close SetupDlg"), ["1"])
        self.assertEqual(wizard.wait(), 0, wizard.stderr())
        self.assertIn("SetupDlg: Dialog closed", wizard.stderr())
        # The log file is written too once the copy is the wizard.
        with open(os.path.join(setup.logs, pf.APP + ".log"), errors="replace") as log:
            self.assertIn("Listening on " + pf.SETUP_COMMS, log.read())

    def test_a_bad_argument_ends_the_program_with_1_and_the_error(self):
        setup = self.setup()
        status, out, err = setup.run("NoSuchParameter=1")
        self.assertEqual(status, 1)
        self.assertIn("NoSuchParameter=1", err)
        self.assertIn("-help", err)
        self.assertFalse(os.path.exists(pf.SETUP_COMMS))

    def test_help_prints_the_usage_and_ends_with_1(self):
        setup = self.setup()
        status, out, err = setup.run("-help")
        self.assertEqual(status, 1)
        self.assertIn("Corvane(R) Server Setup 2.4.0 (r2)", out)
        self.assertIn("Parameters", out)

    def test_svr_uri_on_the_command_line_counts_only_with_test_features(self):
        given = "http://127.0.0.1:9/given.pkg"
        default = "https://download.corvane.example/download/file/yarl.files/Yarl-Server-Latest-MacOSX-universal.pkg"
        cases = [
            (False, ["_SvrUri=" + given], default),
            (True, ["_SvrUri=" + given], given),
            (True, ["SvrUri=" + given], given),
            # _UriBase carries into _SvrUri with test features.
            (True, ["_UriBase=http://127.0.0.1:9/base/"],
             "http://127.0.0.1:9/base/yarl.files/Yarl-Server-Latest-MacOSX-universal.pkg"),
            (False, ["_UriBase=http://127.0.0.1:9/base/"], default),
        ]
        for with_key, args, expected in cases:
            with self.subTest(with_key=with_key, args=args):
                setup = self.setup(with_key)
                wizard = setup.start(*args, name="wizard")
                wizard.wait_for_log("Listening on")
                self.assertIn("SetupApp: Server package from %s\n" % expected, wizard.stderr())
                wizard.signal(signal.SIGTERM)
                self.assertEqual(wizard.wait(), 0, wizard.stderr())


if __name__ == "__main__":
    unittest.main()
