#!/usr/bin/env python3
"""wizard-stage-test.py <build folder> <source folder>

The world of the whole-program test without the program, inside one stage:
the mock cloud serves the package over TLS that the test PKI's root
verifies, and the system's CloudConfig.pkg names it; the fake installer
refuses wrong arguments and a package that is not the served one, prints
its lines and ends with the chosen status, and installs the fake server,
which joins (or, when told, joins without credentials) and shows its
status; the fake browser signs in through the real xdg-open and the
scheme handler registered in the user's private XDG folders, sends a
wrong state when told, refuses any URL but the portal's, and fails when
xdg-open finds no handler and falls back to it.
"""

import http.client
import os
import shutil
import ssl
import subprocess
import sys
import unittest
import urllib.parse

BUILD, SOURCE = sys.argv[1:3]
sys.path.insert(0, os.path.join(SOURCE, "testing"))
import Stage  # noqa: E402
import WizardStage as W  # noqa: E402

WORLD = None
HANDLER_RECORD = Stage.RECORDS_DIR + "/handler.txt"
STATE = "AbCdEf-_123"


def run_installer(*args):
    return subprocess.run([W.INSTALLER] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          timeout=60)


def remove(*paths):
    for path in paths:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        elif os.path.lexists(path):
            os.remove(path)


class WizardStageTest(unittest.TestCase):
    def setUp(self):
        remove(W.INSTALLER_RECORD, W.BROWSER_RECORD, HANDLER_RECORD, "/Library/yarl", W.SERVER_DIR)

    def test_the_cloud_serves_the_package_and_the_system_configuration_names_it(self):
        context = ssl.create_default_context(cafile=W.ROOT_PEM)
        conn = http.client.HTTPSConnection("127.0.0.1", WORLD.port, context=context, timeout=30)
        self.addCleanup(conn.close)
        conn.request("GET", W.PACKAGE_PATH)
        response = conn.getresponse()
        with open(WORLD.package_file(), "rb") as f:
            self.assertEqual((response.status, response.read()), (200, f.read()))
        with open(W.SYSTEM_CLOUD_CONFIG, "rb") as f:
            self.assertIn((WORLD.base + "/bootstrap").encode(), f.read())
        self.assertTrue(WORLD.package_uri().endswith(".pkg"))

    def test_the_installer_checks_its_arguments_and_the_package(self):
        WORLD.set_installer()
        copy = Stage.STAGE_DIR + "/other.pkg"
        with open(copy, "wb") as f:
            f.write(b"not the served package")
        cases = [
            ([], "usage"),
            (["-pkg", WORLD.package_file(), "-target", "/tmp"], "usage"),
            (["-pkg", W.SERVER_SETTINGS, "-target", "/"], "is no package"),
            (["-pkg", copy, "-target", "/"], "is not the package the cloud served"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                done = run_installer(*args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(text, done.stderr)
                self.assertFalse(os.path.exists("/Library/yarl/yarlserver"))
        self.assertEqual(WORLD.installer_record()["args"], cases[-1][0])

    def test_the_installer_installs_the_server_which_joins_and_shows_its_status(self):
        WORLD.set_installer()
        done = run_installer("-pkg", WORLD.package_file(), "-target", "/")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "installer: The install was successful.")
        self.assertEqual(WORLD.installer_record(), {"args": ["-pkg", WORLD.package_file(), "-target", "/"],
                                                    "euid": 0})
        self.assertEqual(os.stat(W.INSTALLER).st_mode & 0o777, 0o755)
        self.assertEqual(os.stat("/Library/yarl/yarlserver").st_mode & 0o777, 0o755)
        token = Stage.STAGE_DIR + "/token"
        with open(token, "w") as f:
            f.write("join-token:abc")
        server = ["/Library/yarl/yarlserver", "-service"]
        # Run as the helper runs it: from sudo's clean environment.
        env = {"PATH": "/usr/bin:/bin", "HOME": "/root"}
        subprocess.run(server + ["-joincloud", token], env=env, check=True, timeout=60)
        subprocess.run(server + ["-showexistingstatus"], env=env, check=True, timeout=60)
        self.assertEqual(W.read_text(W.SERVER_TOKEN), "join-token:abc")
        self.assertTrue(os.path.isfile(W.CREDENTIALS))
        self.assertEqual(W.read_text(W.STATUS_MARKER), "showexistingstatus\n")

    def test_the_installer_fails_with_the_chosen_status_after_its_last_line(self):
        WORLD.set_installer(exit_code=3)
        done = run_installer("-pkg", WORLD.package_file(), "-target", "/")
        self.assertEqual(done.returncode, 3)
        self.assertEqual(done.stdout.splitlines()[-1], "installer: The install failed, status 3")
        self.assertFalse(os.path.exists("/Library/yarl/yarlserver"))

    def test_a_server_told_so_joins_without_credentials(self):
        WORLD.set_installer(join=False)
        self.assertEqual(run_installer("-pkg", WORLD.package_file(), "-target", "/").returncode, 0)
        token = Stage.STAGE_DIR + "/token"
        with open(token, "w") as f:
            f.write("join-token:abc")
        subprocess.run(["/Library/yarl/yarlserver", "-service", "-joincloud", token], check=True, timeout=60)
        self.assertEqual(W.read_text(W.SERVER_TOKEN), "join-token:abc")
        self.assertFalse(os.path.exists(W.CREDENTIALS))

    def register_handler(self):
        """A scheme handler in the user's XDG folders, as the program's
        registration writes one, that records its arguments."""
        handler = WORLD.stage.write(Stage.BIN_DIR + "/handler",
                                    "#!/bin/sh\nprintf '%%s\\n' \"$@\" > %s\n" % HANDLER_RECORD, 0o755)
        applications = os.path.join(WORLD.xdg["XDG_DATA_HOME"], "applications")
        WORLD.stage.write(applications + "/stage-handler.desktop",
                          "[Desktop Entry]\nType=Application\nName=Handler\nExec=%s -uri %%u\n"
                          "MimeType=x-scheme-handler/%s;\nNoDisplay=true\n" % (handler, W.URL_SCHEME))
        WORLD.stage.write(WORLD.xdg["XDG_CONFIG_HOME"] + "/mimeapps.list",
                          "[Default Applications]\nx-scheme-handler/%s=stage-handler.desktop\n" % W.URL_SCHEME)
        self.addCleanup(remove, applications, WORLD.xdg["XDG_CONFIG_HOME"] + "/mimeapps.list")

    def browse(self, url):
        """The browser run as the user, from the wizard's environment."""
        process = WORLD.stage.start_as(WORLD.account, [W.BROWSER, url], WORLD.environment(),
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        out, _ = process.communicate(timeout=60)
        return process.returncode, out

    def portal(self, state=STATE):
        return WORLD.base + "/portal/auth/download_first?" + urllib.parse.urlencode({"state": state})

    def test_the_browser_calls_back_through_xdg_open_and_the_registered_handler(self):
        self.register_handler()
        for mode, state in (("state", STATE), ("wrong-state", STATE[:-1] + "A")):
            with self.subTest(mode=mode):
                remove(W.BROWSER_RECORD, HANDLER_RECORD)
                WORLD.set_browser(mode)
                status, out = self.browse(self.portal())
                self.assertEqual(status, 0, out)
                callback = "%s:///install?state=%s&server=%s" % (W.URL_SCHEME, state, W.TICKET)
                self.assertEqual(W.read_text(HANDLER_RECORD), "-uri\n%s\n" % callback)
                self.assertEqual(WORLD.browser_record(), [{"url": self.portal(), "refused": False},
                                                          {"callback": callback, "xdgOpen": 0}])

    def test_the_browser_refuses_other_urls_and_fails_when_xdg_open_falls_back_to_it(self):
        WORLD.set_browser()
        status, _ = self.browse(WORLD.base + "/portal/auth/other?state=" + STATE)
        self.assertEqual(status, 1)
        self.assertEqual(WORLD.browser_record(), [{"url": WORLD.base + "/portal/auth/other?state=" + STATE,
                                                   "refused": True}])
        # No handler registered: xdg-open hands the callback to $BROWSER.
        remove(W.BROWSER_RECORD)
        status, _ = self.browse(self.portal())
        self.assertEqual(status, 1)
        # xdg-open tries $BROWSER more than once before it gives up.
        record = WORLD.browser_record()
        self.assertGreaterEqual(len(record), 3)
        self.assertEqual(record[0], {"url": self.portal(), "refused": False})
        for entry in record[1:-1]:
            self.assertTrue(entry["refused"] and entry["url"].startswith(W.URL_SCHEME + ":///install?"), entry)
        self.assertNotEqual(record[-1]["xdgOpen"], 0)

    def test_a_browser_that_never_signs_in_calls_nothing(self):
        self.register_handler()
        WORLD.set_browser("none")
        self.assertEqual(self.browse(self.portal())[0], 0)
        self.assertEqual(WORLD.browser_record(), [{"url": self.portal(), "refused": False}])
        self.assertFalse(os.path.exists(HANDLER_RECORD))


def inner(stage):
    global WORLD
    try:
        WORLD = W.WizardStage(stage, BUILD, SOURCE, program=False)
        WORLD.start_cloud()
        result = unittest.main(argv=sys.argv[:1] + sys.argv[3:], exit=False).result
        return 0 if result.wasSuccessful() else 1
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(Stage.main(inner, timeout=300))
