#!/usr/bin/env python3
"""program-end-to-end-test.py <build folder> <source folder> <case>

The whole program on the stage (testing/Stage.py, testing/WizardStage.py):
the real executable as an ordinary user, driven through its automation
socket, against the mock cloud over TLS, elevating its admin helper
through the real `sudo -n`, installing with the fake installer, signing
in through the fake browser and the real xdg-open, and joining and
configuring the fake installed server.  One case per run (CTest runs each
on its own stage):

    road                 the whole road, and everything it leaves behind
    download_404         no such package
    installer_fails      the installer ends with 3; its output is shown
    elevation_refused    the elevation command refuses (126)
    joined_before        the server already holds cloud credentials
    wrong_state          a callback with another state
    join_without_credentials
    sign_in_time_out     no callback within _SignInTimeoutSecs
    callback_before_time_out
                         a callback accepted while the redeem is delayed
                         past the time-out
    second_start         a second start sends "fg" and ends
    sigterm
    no_sign_in
    proxy                the download through tinyproxy

Every case ends with every process gone and no sanitizer report (the root
helper's and the "-uri" child's included, through log_path).
"""

import base64
import json
import os
import re
import signal
import sys
import unittest

BUILD, SOURCE, CASE = sys.argv[1:4]
sys.path.insert(0, os.path.join(SOURCE, "testing"))
import Stage  # noqa: E402
import WizardStage as W  # noqa: E402

WORLD = None
STEP = W.STEP_DEADLINE
INITIAL = "initial"
STATE_RE = r"[A-Za-z0-9_-]{11}"
TIME_OUT_TEXT = "Timed out waiting for signing in or signing up to complete. Please select again."


def shown(lines):
    return bool(lines) and lines[0] == "shown 1"


def label(lines):
    """The text of a state's "label" line and the lines after it."""
    for i, line in enumerate(lines):
        if line.startswith("label "):
            return "\n".join([line[len("label "):]] + lines[i + 1:])
    return ""


class EndToEnd(unittest.TestCase):
    # ---- Driving ----

    def start(self, args=None, proxy=None, installer_exit=0, join=True, callback="state"):
        WORLD.set_installer(installer_exit, join)
        WORLD.set_browser(callback)
        self.wizard = WORLD.start_wizard(args if args is not None else WORLD.arguments(), proxy)
        self.ui = WORLD.ui(self.wizard.pid)
        self.addCleanup(self.ui.close)
        self.wait_for_page(INITIAL)
        # The process is the program (env and setpriv exec'd), as the user,
        # with exactly the environment given: no display among it.
        self.assertEqual(Stage.Stage.command_line(self.wizard.pid)[0], W.PROGRAM)
        self.assertEqual(W.process_status(self.wizard.pid)["Uid"].split()[:2], [str(WORLD.account.pw_uid)] * 2)
        self.assertEqual(W.environment_of(self.wizard.pid), WORLD.environment(proxy))

    def wait_for_page(self, page, deadline=STEP):
        return self.ui.wait_for("state SetupDlg." + page, shown, deadline=deadline)

    def click(self, path, value=None):
        """Clicks an element; a check box is set to the value given."""
        line = "click SetupDlg." + path + ("" if value is None else " %d" % value)
        self.assertEqual(self.ui.command(line), ["1"], line)

    def state(self, path):
        return self.ui.command("state SetupDlg." + path)

    def install(self):
        """From the initial page through download and installation."""
        self.click("initial.install")

    def close_wizard(self):
        self.assertEqual(self.ui.command("close SetupDlg"), ["1"])

    def end(self, status=0):
        """The wizard's exit status; then every process of the stage but the
        servers the test started has ended, and no sanitizer reported."""
        self.assertEqual(WORLD.stage.wait(self.wizard, STEP, "the wizard"), status, WORLD.output())
        WORLD.wait_for_helpers_to_end()
        servers = {p.pid for p in WORLD.stage.processes if p.poll() is None}
        Stage.wait_until(lambda: not set(WORLD.stage.stage_processes()) - servers, STEP,
                         "every process of the wizard to end")
        self.assertEqual(WORLD.stage.sanitizer_reports(), {})

    # ---- What the cloud saw ----

    def bootstraps(self):
        return [r for r in WORLD.cloud_record() if r["path"].startswith("/bootstrap")]

    def redeems(self):
        return [r for r in WORLD.cloud_record() if r["method"] == "POST" and r["path"].endswith(W.REDEEM_SUFFIX)]

    def check_bootstraps(self):
        fetched = self.bootstraps()
        self.assertTrue(fetched, WORLD.cloud_record())
        for entry in fetched:
            index = W.bootstrap_index(entry["path"])
            self.assertTrue(entry["method"] == "GET" and index is not None and index < W.CONFIG_COUNT, entry)
            self.assertEqual(entry["status"], 200, entry)

    def check_portal_opened(self):
        portal = WORLD.browser_record()[0]["url"]
        self.assertRegex(portal, "^" + re.escape(WORLD.base + "/portal/auth/download_first?state=") + STATE_RE + "$")
        return portal

    def check_launched(self):
        self.assertTrue(os.path.isfile(W.STATUS_MARKER))
        log = WORLD.log()
        for text in ("Launching", "Exiting"):
            self.assertIn(text, log)

    # ---- Cases ----

    def test_road(self):
        self.start()
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.signIn.btn")
        self.wait_for_page("settings", STEP)
        password = [line for line in self.state("settings.pwd.clear") if line.startswith("value ")][0][6:]
        self.assertRegex(password, r"^\w+(-\w+){3}$")
        # The admin helper runs as root under sudo, its parent.
        helper = [pid for pid in WORLD.helpers() if Stage.Stage.command_line(pid)[0] == W.PROGRAM]
        self.assertEqual(len(helper), 1, WORLD.helpers())
        self.assertEqual(W.process_status(helper[0])["Uid"].split()[:2], ["0", "0"])
        parent = int(W.process_status(helper[0])["PPid"])
        self.assertEqual(Stage.Stage.command_line(parent)[:2], ["sudo", "-n"])
        # Keep analytics, turn the update checks off.
        self.click("settings.updates", 0)
        self.click("settings.launch")
        self.end()

        self.check_bootstraps()
        self.assertEqual([(json.loads(base64.b64decode(r["body"])), r["status"]) for r in self.redeems()],
                         [({"ticket": W.TICKET}, 200)])
        self.check_portal_opened()
        self.assertEqual(WORLD.browser_record()[1]["xdgOpen"], 0)
        self.assertEqual(WORLD.installer_record()["euid"], 0)
        self.assertEqual(W.read_text(W.SERVER_TOKEN), "join-token:" + W.TICKET)
        self.assertEqual([f for f in WORLD.work_files() if "svrToken" in os.path.basename(f)], [])
        settings = W.settings_of(W.SERVER_SETTINGS)
        self.assertEqual({k: settings.get(k) for k in ("Authentication", "EnableAnalytics", "EnableAutoUpdateChecks")},
                         {"Authentication": "YarlAuth", "EnableAnalytics": "1", "EnableAutoUpdateChecks": "0"})
        self.assertEqual(WORLD.check_password(password), 0)
        self.assertEqual(WORLD.check_password(password + "x"), 1)
        self.check_launched()
        self.assertIn("Opening URL", WORLD.log())

    def test_download_404(self):
        self.start(WORLD.arguments(svr_uri=WORLD.package_uri("/download/no-such.pkg")))
        self.install()
        self.wait_for_page("error")
        self.assertIn("404", label(self.state("error.detail")))
        self.assertEqual([(r["path"], r["status"]) for r in WORLD.cloud_record() if r["path"].startswith("/download")],
                         [("/download/no-such.pkg", 404)])
        self.assertIsNone(WORLD.installer_record())
        self.close_wizard()
        self.end()

    def test_installer_fails(self):
        self.start(installer_exit=3)
        self.install()
        self.wait_for_page("error", STEP * 2)
        self.assertIn("Error code: 3", label(self.state("error.detail")))
        # The output's box runs inside the click: a second connection reads
        # and closes it, then the click is answered.
        self.ui.send("click SetupDlg.error.cmdOutBtn")
        other = WORLD.ui(self.wizard.pid)
        self.addCleanup(other.close)
        box = other.wait_for("dialogs", lambda lines: any(l.endswith(" messagebox") for l in lines))
        box = [l.split()[0] for l in box if l.endswith(" messagebox")][0]
        texts = [p.split(" (")[0] for p in other.command("lists " + box) if p.endswith("(text)")]
        shown_text = "\n".join(label(other.command("state %s.%s" % (box, p))) for p in texts)
        self.assertIn("installer: The install failed, status 3", shown_text)
        buttons = [p.split(" (")[0] for p in other.command("lists " + box) if p.endswith("(button)")]
        self.assertEqual(other.command("click %s.%s" % (box, buttons[0])), ["1"])
        self.assertEqual(self.ui.reply(), "1\n\n")
        self.close_wizard()
        self.end()

    def test_elevation_refused(self):
        self.start(WORLD.arguments(elevate=W.REFUSE_ELEVATION))
        self.install()
        self.wait_for_page("error")
        self.assertIn("Elevation failed", label(self.state("error.detail")))
        self.assertIsNone(WORLD.installer_record())
        self.close_wizard()
        self.end()

    def test_joined_before(self):
        WORLD.join_before()
        self.start()
        self.install()
        self.end()
        self.check_launched()
        self.assertEqual(WORLD.browser_record(), [])
        self.assertEqual(self.redeems(), [])

    def test_wrong_state(self):
        self.start(callback="wrong-state")
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.signIn.btn")
        WORLD.wait_for_log("Bad signingInState")
        Stage.wait_until(lambda: len(WORLD.browser_record()) == 2, STEP, "the browser's callback")
        self.assertEqual(WORLD.browser_record()[1]["xdgOpen"], 0)
        self.assertTrue(shown(self.state("signingIn")))
        self.assertEqual(self.redeems(), [])
        self.close_wizard()
        self.end()

    def test_join_without_credentials(self):
        self.start(join=False)
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.signIn.btn")
        self.wait_for_page("error")
        self.assertIn("Server is not cloud joined", label(self.state("error.detail")))
        self.assertEqual(W.read_text(W.SERVER_TOKEN), "join-token:" + W.TICKET)
        self.close_wizard()
        self.end()

    def test_sign_in_time_out(self):
        self.start(WORLD.arguments(more=["_SignInTimeoutSecs=1"]), callback="none")
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.signIn.btn")
        Stage.wait_until(lambda: WORLD.browser_record(), STEP, "the browser")
        self.ui.wait_for("state SetupDlg.signInChoose.text", lambda lines: TIME_OUT_TEXT in label(lines))
        self.check_portal_opened()
        self.close_wizard()
        self.end()

    def test_callback_before_time_out(self):
        # 3 s leaves the callback's road (browser, xdg-open, a "-uri" copy
        # under the sanitizers) room on a loaded two-core machine; the
        # redeem waits longer than the time-out all the same.
        self.start(WORLD.arguments(more=["_SignInTimeoutSecs=3"]))
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.signIn.btn")
        self.wait_for_page("settings", STEP)
        self.assertEqual(len(self.redeems()), 1)
        self.assertNotIn("Signing in/up timed out", WORLD.log())
        self.close_wizard()
        self.end()

    def test_second_start(self):
        self.start()
        second = WORLD.start_wizard(WORLD.arguments(), name="second")
        self.assertEqual(WORLD.stage.wait(second, STEP, "the second start"), 0, WORLD.output("second"))
        self.assertIsNone(self.wizard.poll())
        self.assertTrue(shown(self.state(INITIAL)))
        self.close_wizard()
        self.end()

    def test_sigterm(self):
        self.start()
        os.kill(self.wizard.pid, signal.SIGTERM)
        self.end()
        self.assertIn("Got signal SIGTERM", WORLD.log())

    def test_no_sign_in(self):
        self.start()
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.click("signInChoose.noSignIn")
        self.end()
        self.check_launched()
        self.assertEqual(WORLD.browser_record(), [])

    def test_proxy(self):
        proxy = WORLD.start_proxy()
        self.start(proxy=proxy)
        self.install()
        self.wait_for_page("signInChoose", STEP * 2)
        self.assertIn("CONNECT 127.0.0.1:%d" % WORLD.port, W.read_text(WORLD.proxy_log))
        self.click("signInChoose.noSignIn")
        self.end()
        self.check_launched()


def delayed_redeem():
    """The mock's script that answers the redeem 5 s late, past the
    sign-in time-out of 3 s."""
    answer = {"delay": 5, "json": {"type": "server-join", "value": "join-token:" + W.TICKET}}
    return {"routes": {"POST " + node + W.REDEEM_SUFFIX: [answer] for node in W.AUTH_NODES}}


# The mock's script of each case that has one.
CLOUD_SCRIPTS = {"callback_before_time_out": delayed_redeem}


def diagnostics():
    parts = [("wizard output", WORLD.output()), ("wizard log", WORLD.log()[-8000:]),
             ("cloud's output", W.read_text(W.CLOUD_OUTPUT)[-4000:]),
             ("cloud record", "\n".join("%s %s %s" % (r["method"], r["path"], r["status"])
                                        for r in WORLD.cloud_record())),
             ("browser record", str(WORLD.browser_record())), ("installer record", str(WORLD.installer_record()))]
    parts += sorted(WORLD.stage.sanitizer_reports().items())
    return "".join("\n---- %s ----\n%s\n" % part for part in parts)


def inner(stage):
    global WORLD
    try:
        WORLD = W.WizardStage(stage, BUILD, SOURCE)
        WORLD.start_cloud(CLOUD_SCRIPTS[CASE]() if CASE in CLOUD_SCRIPTS else None)
        result = unittest.main(argv=[sys.argv[0], "EndToEnd.test_" + CASE], exit=False).result
        if not result.wasSuccessful():
            print(diagnostics(), file=sys.stderr)
        return 0 if result.wasSuccessful() else 1
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(Stage.main(inner, timeout=600))
