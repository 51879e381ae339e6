"""The world of the whole-program test, built on the stage (testing/Stage.py).

Inside the stage it puts:

- the program with its Resources and the test-feature key beside it, at a
  path without any character a desktop entry's Exec key reserves;
- the mock cloud (testing/MockCloud.py) with the files of `cloud_fixture
  mock-cloud`: TLS by the test PKI, signed bootstrap documents, ticket
  redemption, its "CloudConfig.pkg" as "/etc/yarl/CloudConfig.pkg" (the
  first data folder), and the server package in its "www" folder;
- the fake installer as "/usr/sbin/installer" (testing/FakeInstaller.py),
  which installs the fake installed server (testing/FakeInstalledServer.cpp)
  as "/Library/yarl/yarlserver";
- the fake browser (testing/FakeBrowser.py), named by BROWSER;
- the test user, allowed to run the program as root through `sudo -n`;
- private XDG folders in the user's home, where the program registers its
  URL scheme and where both xdg-open calls look.

The program runs as that user in a session of its own from an environment
that holds exactly what `environment` gives, and is driven through its
automation socket (testing/mui_client.py).
"""

import json
import os
import re
import socket
import subprocess
import sys

import Stage
import mui_client

APP_DIR = Stage.STAGE_DIR + "/app"
PROGRAM = APP_DIR + "/vuzovuvivovevada"
APP_NAME = "vuzovuvivovevada"
MOCK = Stage.STAGE_DIR + "/mock/MockCloud.py"
CLOUD_DIR = Stage.STAGE_DIR + "/cloud"
PKI_DIR = Stage.STAGE_DIR + "/pki"
ROOT_PEM = PKI_DIR + "/root.pem"
FIXTURE = Stage.BIN_DIR + "/cloud_fixture"
FAKE_SERVER = Stage.BIN_DIR + "/fake_installed_server"
PASSWORD_CHECK = Stage.BIN_DIR + "/password_check"
BROWSER = Stage.BIN_DIR + "/browser"
REFUSE_ELEVATION = Stage.BIN_DIR + "/refuse-elevation"
INSTALLER = "/usr/sbin/installer"
INSTALLER_SETTINGS = Stage.STAGE_DIR + "/installer.json"
BROWSER_SETTINGS = Stage.STAGE_DIR + "/browser.json"
INSTALLER_RECORD = Stage.RECORDS_DIR + "/installer.json"
BROWSER_RECORD = Stage.RECORDS_DIR + "/browser.jsonl"
CLOUD_RECORD = Stage.RECORDS_DIR + "/cloud.jsonl"
CLOUD_OUTPUT = Stage.RECORDS_DIR + "/cloud.err"
CLOUD_SCRIPT = Stage.STAGE_DIR + "/cloud-script.json"
SYSTEM_CLOUD_CONFIG = "/etc/yarl/CloudConfig.pkg"

# The served package: "<base>/download/<name>.pkg".
PACKAGE_PATH = "/download/yarl-server.pkg"
PACKAGE_SIZE = 64 * 1024
# As the fixture gives them (testing/MockCloudFixture.h).
CONFIG_COUNT = 2
AUTH_NODES = ("/node1", "/node2")
REDEEM_SUFFIX = "/authentication/1.1/tickets/redeem"

USER = "yarlwizard"
URL_SCHEME = "example.corvane.vuzovuvivovevada"
TICKET = "ticket-of-the-stage"
# The installed server as root's admin helper sees it: its configuration
# base, where its settings, credentials and records lie.
SERVER_DIR = "/root/.yarl/config.d"
SERVER_SETTINGS = SERVER_DIR + "/yarlserver"
SERVER_TOKEN = SERVER_DIR + "/joincloud.token"
STATUS_MARKER = SERVER_DIR + "/showexistingstatus"
CREDENTIALS = SERVER_DIR + "/yarlserver.d/CloudCredentials.bed"

# Characters a desktop entry's Exec key reserves; the program's path holds
# none, or the registration would quote it.
EXEC_RESERVED = set(" \t\n\"'\\><~|&;$*?#()`")

# Deadlines, generous for a sanitized build on two cores.
START_DEADLINE = 30
STEP_DEADLINE = 60


def read_json_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class WizardStage:
    """Copies everything in and enters the stage.  `program` false leaves
    the program out (for the stage's own tests)."""

    def __init__(self, stage, build, source, program=True):
        if program and EXEC_RESERVED & set(PROGRAM):
            raise Stage.StageError("the program's path %s holds a character the Exec key reserves" % PROGRAM)
        self.stage = stage
        if program:
            stage.copy(os.path.join(build, APP_NAME), PROGRAM)
            stage.copy_tree(os.path.join(build, "Resources"), APP_DIR + "/Resources")
            stage.copy(os.path.join(source, "qocore/base/qoutil/tests/data/TestFeaturesEnableKey"),
                       APP_DIR + "/TestFeaturesEnableKey", 0o644)
        for name, path in (("cloud_fixture", FIXTURE), ("fake_installed_server", FAKE_SERVER),
                           ("password_check", PASSWORD_CHECK)):
            stage.copy(os.path.join(build, "testing", name), path, 0o755)
        stage.copy(os.path.join(source, "testing/MockCloud.py"), MOCK, 0o644)
        stage.copy(os.path.join(source, "testing/FakeInstaller.py"), INSTALLER, 0o755)
        stage.copy(os.path.join(source, "testing/FakeBrowser.py"), BROWSER, 0o755)
        stage.copy_tree(os.path.join(source, "qocore/libs/ssl/tests/data"), PKI_DIR)
        stage.enter()
        stage.write(REFUSE_ELEVATION, "#!/bin/sh\nexit %d\n" % Stage.REFUSED_STATUS, 0o755)
        os.makedirs("/Library", exist_ok=True)
        # Names resolve on loopback only: nothing of the stage reaches out.
        if os.path.lexists("/etc/resolv.conf"):
            os.remove("/etc/resolv.conf")
        stage.write("/etc/resolv.conf", "nameserver 127.0.0.1\n")
        self.account = stage.add_user(USER)
        if program:
            stage.allow_sudo(USER, PROGRAM)
        self.xdg = {name: os.path.join(self.account.pw_dir, "xdg", name.lower())
                    for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS")}
        for folder in self.xdg.values():
            os.makedirs(folder)
        self._chown_tree(os.path.join(self.account.pw_dir, "xdg"))
        self.port = None
        self.base = None
        self.proxy = None
        self.proxy_log = None

    # ---- The world ----

    def start_cloud(self, script=None, lifetime=300):
        """Starts the mock cloud with its files and the system's
        CloudConfig.pkg naming it; answers its base URL."""
        os.makedirs(CLOUD_DIR + "/www" + os.path.dirname(PACKAGE_PATH))
        self.stage.write(CLOUD_SCRIPT, json.dumps(script or {}))
        with open(CLOUD_OUTPUT, "w") as err:
            mock = self.stage.start([sys.executable, MOCK, "--dir", CLOUD_DIR, "--script", CLOUD_SCRIPT, "--record",
                                     CLOUD_RECORD, "--lifetime", str(lifetime)], stdout=subprocess.PIPE,
                                    stderr=err, text=True)
        self.port = self.stage.read_port(mock)
        self.base = "https://127.0.0.1:%d" % self.port
        subprocess.run([FIXTURE, "mock-cloud", CLOUD_DIR, str(self.port)], env=dict(os.environ, YARL_TEST_PKI=PKI_DIR),
                       check=True, timeout=60)
        with open(CLOUD_DIR + "/CloudConfig.pkg", "rb") as f:
            config = f.read()
        os.makedirs(os.path.dirname(SYSTEM_CLOUD_CONFIG), exist_ok=True)
        with open(SYSTEM_CLOUD_CONFIG, "wb") as f:
            f.write(config)
        os.chmod(SYSTEM_CLOUD_CONFIG, 0o644)
        with open(self.package_file(), "wb") as f:
            f.write(os.urandom(PACKAGE_SIZE))
        return self.base

    def package_file(self):
        return CLOUD_DIR + "/www" + PACKAGE_PATH

    def package_uri(self, path=PACKAGE_PATH):
        return self.base + path

    def set_installer(self, exit_code=0, join=True):
        self.stage.write(INSTALLER_SETTINGS, json.dumps({
            "package": self.package_file(), "exitCode": exit_code, "server": FAKE_SERVER, "serverDir": SERVER_DIR,
            "join": join, "record": INSTALLER_RECORD}))

    def set_browser(self, callback="state"):
        self.stage.write(BROWSER_SETTINGS, json.dumps({
            "portal": self.base + "/portal/auth/download_first", "scheme": URL_SCHEME, "ticket": TICKET,
            "callback": callback, "record": BROWSER_RECORD}))

    def join_before(self):
        """The installed server holds cloud credentials before the program
        starts."""
        os.makedirs(SERVER_DIR, exist_ok=True)
        token = Stage.STAGE_DIR + "/earlier.token"
        self.stage.write(token, "join-token:earlier", 0o600)
        subprocess.run([FAKE_SERVER, "-service", "-joincloud", token],
                       env=dict(os.environ, YARL_FAKE_SERVER_DIR=SERVER_DIR), check=True, timeout=60)
        os.remove(SERVER_TOKEN)

    def start_proxy(self):
        """Starts tinyproxy on a free loopback port; answers its URL."""
        port = free_port()
        self.proxy_log = Stage.RECORDS_DIR + "/proxy.log"
        config = self.stage.write(Stage.STAGE_DIR + "/proxy.conf", (
            "Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Connect\nLogFile \"%s\"\n"
            % (port, self.proxy_log)))
        self.stage.start(["/usr/bin/tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
        Stage.wait_until(lambda: accepts(port), START_DEADLINE, "tinyproxy on port %d" % port)
        self.proxy = "http://127.0.0.1:%d" % port
        return self.proxy

    # ---- The program ----

    def environment(self, proxy=None):
        """The wizard's whole environment."""
        env = {"HOME": self.account.pw_dir, "USER": USER, "LOGNAME": USER, "PATH": "/usr/local/bin:/usr/bin:/bin",
               "LANG": "en_US.UTF-8", "BROWSER": BROWSER}
        env.update(self.stage.sanitizer_environment())
        if proxy:
            env["https_proxy"] = proxy
        env.update(self.xdg)
        return env

    def arguments(self, svr_uri=None, elevate="sudo -n", more=()):
        return ["_SvrUri=" + (svr_uri or self.package_uri()), "_CertsPem=" + ROOT_PEM, "_ElevateCommand=" + elevate,
                "Log=*:file:100,*:stderr:30"] + list(more)

    def start_wizard(self, args, proxy=None, name="wizard"):
        """Starts the program as the user; its output goes to
        "<records>/<name>.out"."""
        out = open(os.path.join(Stage.RECORDS_DIR, name + ".out"), "w")
        try:
            return self.stage.start_as(self.account, [PROGRAM] + list(args), self.environment(proxy), stdout=out,
                                       stderr=subprocess.STDOUT)
        finally:
            out.close()

    def output(self, name="wizard"):
        return read_text(os.path.join(Stage.RECORDS_DIR, name + ".out"))

    def ui(self, pid, deadline=START_DEADLINE):
        """A connection to the program's automation socket."""
        folder = mui_client.channel_folder("yarl", "/tmp", self.account.pw_uid)
        return mui_client.MuiClient.for_pid(pid, folder, deadline=deadline, prefix=APP_NAME, timeout=STEP_DEADLINE)

    def log(self):
        """The wizard's log file."""
        return read_text(os.path.join(self.account.pw_dir, "Library/Logs/yarl", APP_NAME + ".log"))

    def wait_for_log(self, text, deadline=STEP_DEADLINE):
        Stage.wait_until(lambda: text in self.log(), deadline, "%r in the wizard's log" % text)

    def helpers(self):
        """The stage's processes that are the admin helper (or sudo running
        it)."""
        return [pid for pid in self.stage.stage_processes() if "-helper" in Stage.Stage.command_line(pid)]

    def wait_for_helpers_to_end(self, deadline=STEP_DEADLINE):
        Stage.wait_until(lambda: not self.helpers(), deadline, "the admin helper to end")

    def work_files(self):
        """Every file under the user's work folders."""
        root = os.path.join(mui_client.channel_folder("yarl", "/tmp", self.account.pw_uid), "installer")
        found = []
        for folder, _, files in os.walk(root):
            found += [os.path.join(folder, name) for name in files]
        return found

    def check_password(self, password):
        """password_check's status for the server's settings file."""
        return subprocess.run([PASSWORD_CHECK, SERVER_SETTINGS], input=password + "\n", text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60).returncode

    # ---- Records ----

    def cloud_record(self):
        return read_json_lines(CLOUD_RECORD)

    def browser_record(self):
        return read_json_lines(BROWSER_RECORD)

    def installer_record(self):
        text = read_text(INSTALLER_RECORD)
        return json.loads(text) if text else None

    def _chown_tree(self, top):
        for folder, dirs, files in os.walk(top):
            for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                os.chown(name, self.account.pw_uid, self.account.pw_gid)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts(port):
    with socket.socket() as s:
        s.settimeout(1)
        return s.connect_ex(("127.0.0.1", port)) == 0


def process_status(pid):
    """The fields of /proc/<pid>/status."""
    fields = {}
    for line in read_text("/proc/%d/status" % pid).splitlines():
        name, _, value = line.partition(":")
        fields[name] = value.strip()
    return fields


def environment_of(pid):
    """A process's environment."""
    with open("/proc/%d/environ" % pid, "rb") as f:
        entries = f.read().decode("utf-8", "surrogateescape").split("\0")[:-1]
    return dict(entry.split("=", 1) for entry in entries)


def settings_of(path):
    """A Name=Value file's pairs."""
    pairs = {}
    for line in read_text(path).splitlines():
        name, sep, value = line.partition("=")
        if sep:
            pairs[name] = value
    return pairs


def bootstrap_index(path):
    match = re.fullmatch(r"/bootstrap/(\d+)", path)
    return int(match.group(1)) if match else None

