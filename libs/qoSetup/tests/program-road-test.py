#!/usr/bin/env python3
"""program-road-test.py <build> <scratch> <key folder> <mui_client.py> <cloud_fixture> <MockCloud.py> <test PKI>

The wizard's whole road in the whole program, driven through its
automation socket as a user, the browser and the operating system would:
the server package downloaded over HTTPS from the mock cloud, installed
through the admin helper, the sign-in choice registering the program's URL
scheme and opening the portal, the browser's callbacks handed over by the
real "-uri" role, the ticket redeemed at the mock cloud and the server
joined, the settings written and the server's status display launched.

The helper is a test peer (fake_admin_helper.py) that the elevation
command (`_ElevateCommand`, with `_ForceElevation` on, as the tests run as
root) execs in place of "<program> -helper": it records every request and
answers as the test says.  The program sees the installer and the installed
server where the system keeps them: each test runs its copies in a root of
its own, a memory file system mirroring the machine's folders (bound, so
nothing of the machine's is written) with "/Library/yarl/yarlserver" and,
through an overlay of "/usr/sbin", "/usr/sbin/installer" added.  The
program is the sanitized build in CI, so a page touched after it was freed
ends it with a report.
"""

import contextlib
import http.server
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_fixture as pf  # noqa: E402

pf.enter_private_namespace()
BUILD, SCRATCH, KEY_DIR, CLIENT, CLOUD_FIXTURE, MOCK_CLOUD, PKI = sys.argv[1:8]
del sys.argv[1:8]
mui_client = pf.load_mui_client(CLIENT)
FAKE_HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_admin_helper.py")

INSTALLER = "/usr/sbin/installer"
SERVER = "/Library/yarl/yarlserver"
PACKAGE_PATH = "/dl/YarlServer.pkg"
# Folders that hold mounts the programs need (the test's own binds over
# /tmp and /etc files, the kernel's); the others are bound without theirs.
RECURSIVE = {"dev", "proc", "sys", "tmp", "etc", "run"}


def shown(lines):
    return lines[:1] == ["shown 1"]


def text_of(lines):
    return "\n".join(lines)


def log_time(log, text):
    """The time of the first log line holding the text, in seconds."""
    for line in log.splitlines():
        if text in line:
            stamp = re.search(r"T(\d\d):(\d\d):(\d\d\.\d+)Z", line)
            return int(stamp.group(1)) * 3600 + int(stamp.group(2)) * 60 + float(stamp.group(3))
    raise AssertionError("no log line with %r" % text)


def _run(*command):
    subprocess.run(list(command), check=True)


class GraftedRoot:
    """A root folder of memory mirroring "/" (each top folder bound over),
    with files added where the system keeps them."""

    def __init__(self, scratch):
        self.path = tempfile.mkdtemp(prefix="root-", dir=scratch)
        _run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", self.path)
        self.mounted = True
        try:
            real_path = os.path.realpath(self.path)
            for name in sorted(os.listdir("/")):
                source = "/" + name
                target = os.path.join(self.path, name)
                if os.path.islink(source):
                    os.symlink(os.readlink(source), target)
                elif os.path.isdir(source):
                    os.mkdir(target)
                    # The folder that holds this root is bound without its
                    # mounts, or it would hold the root again.
                    inside = real_path.startswith(os.path.realpath(source) + "/")
                    recursive = name in RECURSIVE and not inside
                    _run("mount", "--rbind" if recursive else "--bind", source, target)
                elif os.path.isfile(source):
                    open(target, "w").close()
                    _run("mount", "--bind", source, target)
            # /usr/sbin takes new files in an overlay's upper layer.
            layers = os.path.join(self.path, ".sbin")
            for sub in ("upper", "work"):
                os.makedirs(os.path.join(layers, sub))
            _run("mount", "-t", "overlay", "overlay", "-o",
                 "lowerdir=/usr/sbin,upperdir=%s/upper,workdir=%s/work" % (layers, layers),
                 os.path.join(self.path, "usr/sbin"))
        except BaseException:
            self.close()
            raise

    def add(self, path, text, mode=0o755):
        target = self.path + path
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w") as f:
            f.write(text)
        os.chmod(target, mode)

    def close(self):
        if self.mounted:
            # Detaches the whole tree; only then is the folder empty.
            subprocess.run(["umount", "-l", self.path], check=False)
            self.mounted = False
        with contextlib.suppress(OSError):
            os.rmdir(self.path)


class MockCloud:
    """testing/MockCloud.py with its files, the server package in its
    "www" folder."""

    def __init__(self, scratch, routes=None, package=b"the server's installer\n"):
        self.folder = tempfile.mkdtemp(prefix="cloud-", dir=scratch)
        script = os.path.join(self.folder, "script.json")
        with open(script, "w") as f:
            json.dump({"routes": routes or {}}, f)
        self.log = open(os.path.join(self.folder, "mock.log"), "w")
        self.process = subprocess.Popen(
            [sys.executable, MOCK_CLOUD, "--dir", self.folder, "--script", script, "--record",
             os.path.join(self.folder, "record.jsonl"), "--max-requests", "200", "--lifetime", "120"],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("PORT "):
            self.stop()
            raise RuntimeError("the mock cloud did not start: %r" % line)
        self.port = int(line.split()[1])
        self.base = "https://127.0.0.1:%d" % self.port
        _run_env = dict(os.environ, YARL_TEST_PKI=PKI)
        subprocess.run([CLOUD_FIXTURE, "mock-cloud", self.folder, str(self.port)], env=_run_env, check=True)
        os.makedirs(os.path.join(self.folder, "www", "dl"))
        with open(os.path.join(self.folder, "www", PACKAGE_PATH.lstrip("/")), "wb") as f:
            f.write(package)

    def record(self):
        with open(os.path.join(self.folder, "record.jsonl")) as f:
            return [json.loads(line) for line in f]

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)


@contextlib.contextmanager
def stalling_server(cloud, size=1000):
    """An HTTPS server with the mock's certificate that sends half of a
    package of `size` bytes and the rest once the event is set."""
    release = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.write(b"a" * (size // 2))
            self.wfile.flush()
            release.wait(pf.DEADLINE)
            with contextlib.suppress(OSError):
                self.wfile.write(b"a" * (size - size // 2))

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(cloud.folder, "server-chain.pem"), os.path.join(cloud.folder, "server.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "https://127.0.0.1:%d%s" % (server.server_address[1], PACKAGE_PATH), release
    finally:
        release.set()
        server.shutdown()
        server.server_close()


class Road(pf.Setup):
    """One test's folders, its grafted root, the mock cloud, the helper's
    answers and record, and the program's copies run in that root."""

    def __init__(self, config, routes=None):
        super().__init__(BUILD, SCRATCH, KEY_DIR, mui_client, True)
        self.graft = None
        self.cloud = None
        try:
            self.cloud = MockCloud(SCRATCH, routes)
            # The cloud configuration the program finds beside itself.
            shutil.copy(os.path.join(self.cloud.folder, "CloudConfig.pkg"), self.bin)
            self.config_path = os.path.join(self.root, "helper.json")
            self.record_path = os.path.join(self.root, "helper.jsonl")
            self.set_config(config)
            self.elevate = os.path.join(self.root, "elevate")
            with open(self.elevate, "w") as f:
                f.write("#!/bin/sh\nexec %s %s %s %s \"$@\"\n" % (sys.executable, FAKE_HELPER, self.config_path,
                                                                    self.record_path))
            os.chmod(self.elevate, 0o755)
            self.graft = GraftedRoot(SCRATCH)
            self.graft.add(INSTALLER, "#!/bin/sh\nexit 0\n")
            self.graft.add(SERVER, "#!/bin/sh\nexit 0\n")
        except BaseException:
            self.close()
            raise

    def set_config(self, config):
        with open(self.config_path + ".tmp", "w") as f:
            json.dump(config, f)
        os.replace(self.config_path + ".tmp", self.config_path)

    def helper_record(self):
        try:
            with open(self.record_path) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []

    def requests(self, msg):
        return [entry for entry in self.helper_record() if entry["msg"] == msg]

    def wizard_args(self, *args, svr_uri=None):
        return ["_SvrUri=" + (svr_uri or self.cloud.base + PACKAGE_PATH), "_CertsPem=" + os.path.join(PKI, "root.pem"),
                "_ElevateCommand=" + self.elevate, "_ForceElevation=1"] + list(args)

    def start(self, *args, log="*:stderr:100,*:file:100", name=None):
        argv = ["/usr/sbin/chroot", self.graft.path, self.exe] + list(args)
        if log is not None:
            argv.append("Log=" + log)
        argv.append("LogDir=" + self.logs)
        program = pf.Program(self, argv, self.env(), name or "program%d" % len(self._programs))
        self._programs.append(program)
        return program

    def run(self, *args, timeout=pf.DEADLINE):
        result = subprocess.run(["/usr/sbin/chroot", self.graft.path, self.exe] + list(args),
                                stdin=subprocess.DEVNULL, capture_output=True, env=self.env(), timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode("utf-8", "replace")

    def close(self):
        for program in self._programs:
            program.stop()
        if self.graft:
            self.graft.close()
        if self.cloud:
            self.cloud.stop()
        super().close()


class RoadTest(unittest.TestCase):
    def road(self, config=None, routes=None):
        road = Road(config or {}, routes)
        self.addCleanup(road.close)
        return road

    def start(self, road, *args, svr_uri=None):
        wizard = road.start(*road.wizard_args(*args, svr_uri=svr_uri), name="wizard")
        ui = wizard.ui()
        ui.wait_for("state SetupDlg.initial", shown)
        return wizard, ui

    def ended(self, wizard):
        """The program has ended with 0 and no sanitizer report."""
        self.assertEqual(wizard.wait(), 0, wizard.stderr())
        self.assertNotIn("Sanitizer", wizard.stderr())

    def finish(self, wizard, ui):
        self.assertEqual(ui.command("close SetupDlg"), ["1"])
        self.ended(wizard)

    def install(self, road, ui):
        """From the initial page to the end of the install."""
        self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
        ui.wait_for("state SetupDlg.signInChoose", shown)
        self.assertEqual(len(road.requests("RunCmd")), 1)

    def sign_in(self, road, ui, button="signIn"):
        """Chooses a sign-in and answers the state the portal was given."""
        before = len(road.opened_urls())
        self.assertEqual(ui.command("click SetupDlg.signInChoose.%s.btn" % button), ["1"])
        ui.wait_for("state SetupDlg.signingIn", shown)
        url = pf.wait_until(lambda: road.opened_urls()[before:], what="the portal")[0]
        return re.search(r"[?&]state=([^&]*)", url).group(1), url

    def callback(self, road, query):
        status, out, err = road.run("-uri", pf.SCHEME + ":///install?" + query)
        self.assertEqual(status, 0, err)

    def to_settings(self, road, ui, wizard):
        self.install(road, ui)
        state, _ = self.sign_in(road, ui)
        self.callback(road, "state=%s&server=ticket-1" % state)
        ui.wait_for("state SetupDlg.settings", shown)

    # ---- Download and install ----

    def test_download_progress_and_cancel(self):
        road = self.road()
        with stalling_server(road.cloud) as (uri, release):
            wizard, ui = self.start(road, svr_uri=uri)
            self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
            ui.wait_for("state SetupDlg.download", shown)
            self.assertIn("label Downloading Yarl Server...", ui.command("state SetupDlg.download.text"))
            # Half of it has come: the report of the next second says so.
            ui.wait_for("listitems SetupDlg.download.progress", lambda lines: lines == ["50%"])
            self.assertEqual(ui.command("click SetupDlg.download.cancel"), ["1"])
            ui.wait_for("state SetupDlg.error", shown)
            self.assertIn("Download cancelled", text_of(ui.command("state SetupDlg.error.detail")))
            ui.wait_for("lists SetupDlg", lambda lines: "download (layout)" not in lines)
            self.assertEqual(road.requests("RunCmd"), [])
            self.finish(wizard, ui)

    def test_install_progress_refused_close_and_cancel(self):
        road = self.road()
        hold = os.path.join(road.root, "release-install")
        road.set_config({"commands": [{"match": INSTALLER, "output": ["x" * 30], "hold": hold}]})
        wizard, ui = self.start(road)
        self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
        ui.wait_for("state SetupDlg.install", shown)
        # 30 bytes of output: 6553 + 30 x 58981 / 100 of 65535.
        ui.wait_for("listitems SetupDlg.install.progress", lambda lines: lines == ["36%"])
        self.assertIn("label Installing Yarl Server...", ui.command("state SetupDlg.install.text"))
        run = road.requests("RunCmd")
        self.assertEqual(len(run), 1)
        self.assertEqual(run[0]["args"][0], INSTALLER)
        self.assertEqual(run[0]["args"][1::2], ["-pkg", "-target"])
        self.assertRegex(run[0]["args"][2], r"/tmp/\.yarl-0/installer/[0-9a-f]{16}/YarlServer\.pkg$")
        # Closing is refused while the installer runs.
        self.assertEqual(ui.command("close SetupDlg"), ["0"])
        self.assertTrue(shown(ui.command("state SetupDlg.install")))
        self.assertEqual(ui.command("click SetupDlg.install.cancel"), ["1"])
        ui.wait_for("state SetupDlg.error", shown)
        self.assertIn("Installation cancelled", text_of(ui.command("state SetupDlg.error.detail")))
        # The output so far is the error page's detail.
        self.assertTrue(shown(ui.command("state SetupDlg.error.cmdOutBtn")))
        pf.wait_until(lambda: road.requests("RunCmdCancel"), what="the helper's cancel")
        ui.wait_for("lists SetupDlg", lambda lines: "install (layout)" not in lines)
        # Closing is allowed again.
        self.finish(wizard, ui)

    # ---- Sign-in ----

    def test_the_sign_in_choice_registers_the_scheme_and_opens_the_portal(self):
        road = self.road()
        wizard, ui = self.start(road)
        self.install(road, ui)
        self.assertIn("Installation Successful", text_of(ui.command("state SetupDlg.signInChoose.text")))
        state, url = self.sign_in(road, ui, "trial")
        self.assertRegex(state, r"^[A-Za-z0-9_-]{11}$")
        self.assertEqual(url, "%s/portal/auth/sign_up/software_trial?state=%s&version=serversetupapp2.4.0" %
                         (road.cloud.base, state))
        # This program handles the scheme: its desktop entry and the default.
        applications = os.path.join(road.root, "xdg", "data", "applications")
        entries = os.listdir(applications)
        self.assertEqual(len(entries), 1, entries)
        with open(os.path.join(applications, entries[0])) as f:
            entry = f.read()
        self.assertIn("MimeType=x-scheme-handler/%s;" % pf.SCHEME, entry)
        self.assertIn("%s -uri %%u" % road.exe, entry)
        with open(os.path.join(road.root, "xdg", "config", "mimeapps.list")) as f:
            self.assertIn("x-scheme-handler/%s=%s" % (pf.SCHEME, entries[0]), f.read().splitlines())
        # Back, and a sign-in: the same state, no version.
        self.assertEqual(ui.command("click SetupDlg.signingIn.goback"), ["1"])
        ui.wait_for("state SetupDlg.signInChoose", shown)
        again, url = self.sign_in(road, ui)
        self.assertEqual(again, state)
        self.assertEqual(url, "%s/portal/auth/download_first?state=%s" % (road.cloud.base, state))
        self.finish(wizard, ui)

    def test_refused_callbacks_are_logged_and_change_nothing(self):
        road = self.road()
        wizard, ui = self.start(road)
        self.install(road, ui)
        state, _ = self.sign_in(road, ui)
        wrong = state[:5] + ("A" if state[5] != "A" else "B") + state[6:]
        cases = [
            ("install?state=%s&server=t1" % wrong, "Bad signingInState"),
            ("Install?state=%s&server=t1" % state, "Bad URI endpoint"),
            ("install?state=%s" % state, "Missing server param"),
            ("install?state=%s&server" % state, "Invalid endpoint"),
        ]
        for query, failure in cases:
            uri = pf.SCHEME + ":///" + query
            status, out, err = road.run("-uri", uri)
            self.assertEqual(status, 0, err)
            wizard.wait_for_log("Error handling URI '%s': " % uri)
            line = [l for l in wizard.stderr().splitlines() if "Error handling URI '%s': " % uri in l][0]
            self.assertIn(failure, line)
            self.assertTrue(shown(ui.command("state SetupDlg.signingIn")))
            self.assertNotIn("applyToken (layout)", ui.command("lists SetupDlg"))
        # No ticket was redeemed, no server joined.
        self.assertFalse([r for r in road.cloud.record() if r["path"].endswith("/tickets/redeem")])
        self.assertEqual(len(road.requests("RunCmd")), 1)
        self.finish(wizard, ui)

    def test_the_time_out_and_none_once_a_callback_is_accepted(self):
        road = self.road()
        wizard, ui = self.start(road, "_SignInTimeoutSecs=1")
        self.install(road, ui)
        self.sign_in(road, ui)
        ui.wait_for("state SetupDlg.signInChoose", shown)
        self.assertIn("Timed out waiting for signing in", text_of(ui.command("state SetupDlg.signInChoose.text")))
        wizard.wait_for_log("Signing in/up timed out")

        # Accepted at once; the join waits past the time-out.
        hold = os.path.join(road.root, "release-join")
        road.set_config({"commands": [{"match": "-joincloud", "hold": hold}]})
        state, _ = self.sign_in(road, ui)
        self.callback(road, "state=%s&server=ticket-1" % state)
        ui.wait_for("state SetupDlg.applyToken", shown)
        pf.wait_until(lambda: [r for r in road.requests("RunCmd") if "-joincloud" in r["args"]], what="the join")
        watch_until = time.monotonic() + 2.0
        while time.monotonic() < watch_until:
            self.assertTrue(shown(ui.command("state SetupDlg.applyToken")))
        open(hold, "w").close()
        ui.wait_for("state SetupDlg.settings", shown)
        self.assertEqual(wizard.stderr().count("Signing in/up timed out"), 1)
        self.finish(wizard, ui)

    # ---- Redemption, join and settings ----

    def test_redemption_join_and_the_settings_sent_in_order(self):
        road = self.road()
        wizard, ui = self.start(road)
        self.to_settings(road, ui, wizard)
        redeemed = [r for r in road.cloud.record() if r["path"].endswith("/authentication/1.1/tickets/redeem")]
        self.assertEqual(len(redeemed), 1)
        join = [r for r in road.requests("RunCmd") if "-joincloud" in r["args"]]
        self.assertEqual(len(join), 1)
        self.assertEqual(join[0]["args"][:3], [SERVER, "-service", "-joincloud"])
        self.assertEqual(join[0]["token"], "join-token:ticket-1")
        # The token file is gone once the join has run.
        self.assertFalse(os.path.exists(road.graft.path + join[0]["args"][3]))
        self.assertEqual(len(road.requests("GetCapsFeatures")), 1)

        # Without the server's feature system accounts are not offered.
        self.assertIn("enabled 0", ui.command("state SetupDlg.settings.sysAuth"))
        self.assertIn("enabled 1", ui.command("state SetupDlg.settings.yarlAuth"))
        # Five bytes are refused on the page; nothing is sent.
        self.assertEqual(ui.command("settext SetupDlg.settings.pwd.clear abcde"), ["1"])
        self.assertEqual(ui.command("click SetupDlg.settings.launch"), ["1"])
        ui.wait_for("state SetupDlg.settings.info", shown)
        self.assertIn("The password must have a minimum of 6 characters.",
                      text_of(ui.command("state SetupDlg.settings.info.split.textLayout.text")))
        self.assertIn("value abcde", ui.command("state SetupDlg.settings.pwd.clear"))
        self.assertEqual(road.requests("SvrSettings"), [])
        # Six are sent, with the other settings, in the order of their names.
        self.assertEqual(ui.command("settext SetupDlg.settings.pwd.clear abcdef"), ["1"])
        self.assertEqual(ui.command("click SetupDlg.settings.analytics 0"), ["1"])
        self.assertEqual(ui.command("click SetupDlg.settings.launch"), ["1"])
        sent = pf.wait_until(lambda: road.requests("SvrSettings"), what="the settings")
        self.assertEqual(len(sent), 1)
        names = [name for name, value in sent[0]["settings"]]
        self.assertEqual(names, ["Authentication", "EnableAnalytics", "EnableAutoUpdateChecks", "Password"])
        values = dict(sent[0]["settings"])
        self.assertEqual(values["Authentication"], "YarlAuth")
        self.assertEqual(values["EnableAnalytics"], "0")
        self.assertEqual(values["EnableAutoUpdateChecks"], "1")
        self.assertRegex(values["Password"], r"^[0-9a-f]{174}$")
        # The status display is launched and the program ends.
        self.ended(wizard)
        status = [r for r in road.requests("RunCmd") if "-showexistingstatus" in r["args"]]
        self.assertEqual(status, [{"msg": "RunCmd", "args": [SERVER, "-service", "-showexistingstatus"]}])
        # The loop ends 500 ms after the launch: the dialog goes after it.
        launched = log_time(wizard.stderr(), "SetupDlg: Exiting")
        torn_down = log_time(wizard.stderr(), "LaunchServices: Default handler of %s cleared" % pf.SCHEME)
        waited = (torn_down - launched) % 86400
        self.assertGreaterEqual(waited, 0.5)
        self.assertLess(waited, 5.0)

    def test_a_failed_redemption_or_join_ends_on_the_error_page(self):
        redeem = "POST /node1/authentication/1.1/tickets/redeem"
        cases = [
            ({}, {redeem: [{"status": 200, "json": {"type": "viewer-join", "value": "v"}}]}, "Bad ticket redeem type",
             0),
            ({"commands": [{"match": "-joincloud", "error": ["Cannot run the server", ""]}]}, None,
             "Cannot run the server", 1),
        ]
        for config, routes, failure, joins in cases:
            with self.subTest(failure):
                road = self.road(config, routes)
                wizard, ui = self.start(road)
                self.install(road, ui)
                state, _ = self.sign_in(road, ui)
                self.callback(road, "state=%s&server=ticket-1" % state)
                ui.wait_for("state SetupDlg.error", shown)
                self.assertIn(failure, text_of(ui.command("state SetupDlg.error.detail")))
                self.assertEqual(len([r for r in road.requests("RunCmd") if "-joincloud" in r["args"]]), joins)
                self.assertEqual(road.requests("GetCapsFeatures"), [])
                # The apply-token page reported from its own timer and went
                # after it.
                ui.wait_for("lists SetupDlg", lambda lines: "applyToken (layout)" not in lines)
                self.finish(wizard, ui)

    def test_a_failed_settings_write_is_shown_and_the_server_launched(self):
        road = self.road({"features": ["SYSTEM_AUTH"], "settingsError": ["Cannot write the settings", ""]})
        wizard, ui = self.start(road)
        self.to_settings(road, ui, wizard)
        self.assertIn("enabled 1", ui.command("state SetupDlg.settings.sysAuth"))
        self.assertEqual(ui.command("click SetupDlg.settings.sysAuth 1"), ["1"])
        self.assertIn("enabled 0", ui.command("state SetupDlg.settings.pwd.clear"))
        self.assertEqual(ui.command("click SetupDlg.settings.launch"), ["1"])
        boxes = ui.wait_for("dialogs", lambda lines: any(line.endswith(" messagebox") for line in lines))
        self.assertIn("Cannot write the settings", text_of(ui.command("state messagebox.main.frame.split.info.msg")))
        sent = road.requests("SvrSettings")
        self.assertEqual([name for name, value in sent[0]["settings"]],
                         ["Authentication", "EnableAnalytics", "EnableAutoUpdateChecks"])
        self.assertEqual(dict(sent[0]["settings"])["Authentication"], "SystemAuth")
        self.assertEqual([r for r in road.requests("RunCmd") if "-showexistingstatus" in r["args"]], [])
        self.assertEqual(ui.command("click messagebox.main.buttons.ok"), ["1"])
        self.ended(wizard)
        self.assertEqual(len([r for r in road.requests("RunCmd") if "-showexistingstatus" in r["args"]]), 1)


if __name__ == "__main__":
    unittest.main()
