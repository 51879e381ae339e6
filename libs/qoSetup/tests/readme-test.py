#!/usr/bin/env python3
"""readme-test.py <build folder> <scratch folder> <key folder> <mui_client.py> <repository>

The README's walk through the running wizard, as a newcomer types it:
scripts/run.sh in the foreground (on this test's build tree), then every
`python3 testing/mui_client.py ...` line of the README from a second
terminal, in the README's order, each answering what the README says;
Ctrl-C and a bad argument end it as the README says.  It runs in a private
mount namespace (program_fixture.py), so the wizard's folders are the
test's own.
"""

import os
import re
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_fixture as pf  # noqa: E402

pf.enter_private_namespace()
BUILD, SCRATCH, KEY_DIR, CLIENT, REPO = sys.argv[1:6]
del sys.argv[1:6]
mui_client = pf.load_mui_client(CLIENT)


def readme_blocks():
    with open(os.path.join(REPO, "README.md")) as f:
        text = f.read()
    return re.findall(r"```sh\n(.*?)```", text, re.S)


def commands_of(block):
    """The block's command lines without their comments."""
    return [line.split("#", 1)[0].strip() for line in block.splitlines() if line.split("#", 1)[0].strip()]


def flavour_of(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return "sanitize" if re.search(r"^YARL_SANITIZE:BOOL=ON$", f.read(), re.M) else "plain"


class ReadmeTest(unittest.TestCase):
    def setUp(self):
        self.setup = pf.Setup(BUILD, SCRATCH, KEY_DIR, mui_client, with_key=False)
        self.addCleanup(self.setup.close)
        self.env = dict(os.environ)
        self.env.update(self.setup.env())
        self.env["PATH"] = self.setup.env()["PATH"] + ":" + os.environ.get("PATH", "")
        self.env["YARL_BUILD_DIR"] = BUILD
        self.env["YARL_FLAVOUR"] = flavour_of(BUILD)

    def run_script(self, command, *args):
        """The README's run command with arguments, in the foreground."""
        words = command.split()
        self.assertEqual(words[0], "scripts/run.sh")
        out = open(os.path.join(self.setup.root, "run.out"), "wb")
        err = open(os.path.join(self.setup.root, "run.err"), "wb")
        self.addCleanup(out.close)
        self.addCleanup(err.close)
        process = subprocess.Popen(
            [os.path.join(REPO, words[0])] + list(args) + ["LogDir=" + self.setup.logs], cwd=REPO, env=self.env,
            stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def output(self, name):
        with open(os.path.join(self.setup.root, name), errors="replace") as f:
            return f.read()

    def second_terminal(self, command):
        words = command.split()
        result = subprocess.run(words, cwd=REPO, env=self.env, capture_output=True,
                                text=True, timeout=pf.DEADLINE)
        return result.returncode, result.stdout.splitlines()

    def test_the_readmes_walk_through_the_wizard(self):
        blocks = readme_blocks()
        first = commands_of(blocks[0])
        self.assertEqual(first[1], "scripts/test.sh [plain|sanitize]")
        run_command = first[0].replace("[ARGUMENT...]", "").strip()
        walk = [c for block in blocks for c in commands_of(block) if c.startswith("python3 testing/mui_client.py")]
        self.assertEqual(len(walk), 7, walk)

        wizard = self.run_script(run_command)
        pf.wait_until(lambda: "Listening on" in self.output("run.err"), what="the wizard")
        lines = self.output("run.out").splitlines()
        self.assertEqual(lines[0], "Process %d" % wizard.pid)
        socket_path = "/tmp/.yarl-0/vuzovuvivovevada.MuiComms.%d" % wizard.pid
        self.assertEqual(lines[1], "Automation socket " + socket_path)
        self.assertTrue(os.path.exists(socket_path))
        self.assertIn("SetupComms: Listening on /tmp/.yarl-0/vuzovuvivovevada.SetupComms", self.output("run.err"))
        # The key lies beside the program it runs, not beside the build's.
        self.assertFalse(os.path.exists(os.path.join(BUILD, "TestFeaturesEnableKey")))

        # What each line answers, as the README says.
        def expect(command, status, lines):
            words = command.split()[2:]
            if words[0] == "dialogs":
                self.assertIn("0 SetupDlg", lines)
            elif words[:2] == ["state", "SetupDlg.initial"]:
                self.assertEqual(lines[0], "shown 1")
            elif words[0] in ("select", "click", "close"):
                self.assertEqual(lines, ["1"])
            elif words[:2] == ["state", "SetupDlg.error.detail"]:
                self.assertEqual(lines[0], "shown 1")
                self.assertIn("getaddrinfo", "\n".join(lines))
            self.assertEqual(status, 0, command)

        for command in walk:
            words = command.split()[2:]
            if words[:2] == ["state", "SetupDlg.error.detail"]:
                # The error page follows once the name has failed to resolve.
                pf.wait_until(lambda: self.second_terminal(command)[0] == 0, what="the error page")
            status, lines = self.second_terminal(command)
            expect(command, status, lines)
            if words[0] == "select":
                status, lines = self.second_terminal("python3 testing/mui_client.py state SetupDlg.initial.install")
                self.assertIn("label Akzeptieren und installieren", lines)
        self.assertEqual(wizard.wait(timeout=pf.DEADLINE), 0, self.output("run.err"))
        # A failure answers 1; no wizard, 2.
        self.assertEqual(self.second_terminal("python3 testing/mui_client.py dialogs")[0], 2)

    def test_ctrl_c_ends_the_wizard_with_0(self):
        run_command = commands_of(readme_blocks()[0])[0].replace("[ARGUMENT...]", "").strip()
        wizard = self.run_script(run_command)
        pf.wait_until(lambda: "Listening on" in self.output("run.err"), what="the wizard")
        status, lines = self.second_terminal("python3 testing/mui_client.py state SetupDlg.nosuch")
        self.assertEqual((status, lines), (1, ["0"]))
        wizard.send_signal(signal.SIGINT)
        self.assertEqual(wizard.wait(timeout=pf.DEADLINE), 0, self.output("run.err"))
        self.assertIn("Got signal SIGINT", self.output("run.err"))

    def test_a_bad_argument_ends_it_at_once_with_1(self):
        run_command = commands_of(readme_blocks()[0])[0].replace("[ARGUMENT...]", "").strip()
        wizard = self.run_script(run_command, "NoSuchSetting=1")
        self.assertEqual(wizard.wait(timeout=pf.DEADLINE), 1)
        self.assertIn("NoSuchSetting=1", self.output("run.err"))


if __name__ == "__main__":
    unittest.main()
