"""The whole program under test: copies of the real executable, each in a
folder of its own with the build's resources and (when asked) the
test-feature key beside it, run in a private mount namespace.

The program's fixed system folders are not redirected inside it: instead
the test process moves into a mount namespace of its own (`unshare -m`, or
`unshare -rm` for an ordinary user), and each test binds folders of its
own over "/tmp" (the channel folders and the work folders), over
/etc/passwd (the program, as root, takes its home from the account
database: root's home is the test's) and over /etc/resolv.conf (names
resolve only on loopback, never through the network).  Programs started by the test see the same folders, so a second
copy finds the first one's channels, as a second start by the same user
would.  The temporary folders lie outside "/tmp", under the folder given.

Every wait polls with a deadline; nothing sleeps for a fixed time.
"""

import contextlib
import importlib.machinery
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import types

APP = "vuzovuvivovevada"
# The per-user channel folder of root inside the namespace.
CHANNELS = "/tmp/.yarl-0"
SETUP_COMMS = os.path.join(CHANNELS, APP + ".SetupComms")
VERSION_WORD = bytes.fromhex("5e7cbc03")
SCHEME = "example.corvane." + APP
DEADLINE = 30.0
_MARK = "YARL_PRIVATE_MOUNTS"


def enter_private_namespace():
    """Runs the rest of the test in a mount namespace of its own: the
    process starts itself again under unshare (same arguments)."""
    if os.environ.get(_MARK) == "1":
        return
    os.environ[_MARK] = "1"
    command = ["unshare", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        command.append("--map-root-user")
    os.execvp(command[0], command + [sys.executable] + sys.argv)


def load_mui_client(path):
    loader = importlib.machinery.SourceFileLoader("mui_client", path)
    module = types.ModuleType(loader.name)
    module.__file__ = loader.path
    loader.exec_module(module)
    return module


def wait_until(predicate, deadline=DEADLINE, what="condition"):
    """Polls until predicate() answers something true, and answers it."""
    end = time.monotonic() + deadline
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(0.01)


def _mount_bind(source, target):
    subprocess.run(["mount", "--bind", source, target], check=True)


def _umount(target):
    subprocess.run(["umount", "-l", target], check=False)


class Program:
    """One started copy: its process, its output files and a client of its
    automation socket."""

    def __init__(self, setup, args, env, name):
        self.setup = setup
        self.out_path = os.path.join(setup.root, name + ".out")
        self.err_path = os.path.join(setup.root, name + ".err")
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)
        self.pid = self.process.pid
        self._ui = []

    def ui(self, deadline=DEADLINE):
        client = self.setup.mui_client.MuiClient.for_pid(self.pid, CHANNELS, deadline=deadline, prefix=APP)
        self._ui.append(client)
        return client

    def wait(self, timeout=DEADLINE):
        return self.process.wait(timeout=timeout)

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_for_log(self, text, deadline=DEADLINE):
        wait_until(lambda: text in self.stderr(), deadline, repr(text) + " in the log")

    def signal(self, sig):
        self.process.send_signal(sig)

    def stop(self):
        for client in self._ui:
            client.close()
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Setup:
    """The folders of one test and the copy of the program in them."""

    def __init__(self, build, scratch, key_dir, mui_client, with_key=True):
        build = os.path.abspath(build)
        # The test's own folder goes over "/tmp", which would hide a build
        # (and these folders) lying under it.
        for folder in (build, os.path.abspath(scratch)):
            if os.path.commonpath([folder, "/tmp"]) == "/tmp":
                raise RuntimeError("the whole-program tests hide /tmp: build outside it, not in " + folder)
        self.build = build
        self.mui_client = mui_client
        os.makedirs(scratch, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix="program-", dir=scratch)
        self._mounts = []
        self._programs = []
        for sub in ("bin", "tmp", "home", "logs", "xdg", "fakebin"):
            os.makedirs(os.path.join(self.root, sub))
        os.chmod(os.path.join(self.root, "tmp"), 0o1777)
        self.bin = os.path.join(self.root, "bin")
        self.exe = os.path.join(self.bin, APP)
        try:
            os.link(os.path.join(build, APP), self.exe)
        except OSError:
            shutil.copy2(os.path.join(build, APP), self.exe)
        os.symlink(os.path.join(build, "Resources"), os.path.join(self.bin, "Resources"))
        if with_key:
            shutil.copy(os.path.join(key_dir, "TestFeaturesEnableKey"), self.bin)
        self.logs = os.path.join(self.root, "logs")
        # The browser: an opener that writes down the URLs it is given.
        self.opened = os.path.join(self.root, "opened.txt")
        opener = os.path.join(self.root, "fakebin", "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % self.opened)
        os.chmod(opener, 0o755)
        resolv = os.path.join(self.root, "resolv.conf")
        with open(resolv, "w") as f:
            f.write("nameserver 127.0.0.1\n")
        # Root's home is this test's: the account database says so.
        passwd = os.path.join(self.root, "passwd")
        with open("/etc/passwd") as f, open(passwd, "w") as out:
            for line in f:
                fields = line.rstrip("\n").split(":")
                if len(fields) >= 7 and fields[2] == "0":
                    fields[5] = os.path.join(self.root, "home")
                out.write(":".join(fields) + "\n")
        self._bind(os.path.join(self.root, "tmp"), "/tmp")
        self._bind(passwd, "/etc/passwd")
        self._bind(resolv, "/etc/resolv.conf")

    def _bind(self, source, target):
        _mount_bind(source, target)
        self._mounts.append(target)

    def env(self):
        env = {
            "PATH": os.path.join(self.root, "fakebin") + ":/usr/bin:/bin",
            "LANG": "C.UTF-8",
            "XDG_DATA_HOME": os.path.join(self.root, "xdg", "data"),
            "XDG_CONFIG_HOME": os.path.join(self.root, "xdg", "config"),
            "XDG_DATA_DIRS": os.path.join(self.root, "xdg", "system-data"),
            "XDG_CONFIG_DIRS": os.path.join(self.root, "xdg", "system-config"),
            "XDG_CACHE_HOME": os.path.join(self.root, "xdg", "cache"),
        }
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        return env

    def start(self, *args, log="*:stderr:100,*:file:100", name=None):
        """Starts a copy with the arguments, logging (unless log is None) to
        its stderr and to its log file, which lies in a folder of the
        test's own."""
        argv = [self.exe] + list(args)
        if log is not None:
            argv.append("Log=" + log)
        argv.append("LogDir=" + self.logs)
        program = Program(self, argv, self.env(), name or "program%d" % len(self._programs))
        self._programs.append(program)
        return program

    def run(self, *args, timeout=DEADLINE):
        """Runs a copy with exactly these arguments to its end: (status,
        stdout, stderr)."""
        result = subprocess.run([self.exe] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                                env=self.env(), timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode("utf-8", "replace")

    def opened_urls(self):
        try:
            with open(self.opened) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        for program in self._programs:
            program.stop()
        for target in reversed(self._mounts):
            _umount(target)
        shutil.rmtree(self.root, ignore_errors=True)


class SetupCommsPeer:
    """A raw client of the wizard's "SetupComms" socket: reads the version
    word and sends named messages in frames."""

    def __init__(self, path=SETUP_COMMS, timeout=DEADLINE):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect(path)
        word = b""
        while len(word) < 4:
            data = self.sock.recv(4 - len(word))
            if not data:
                raise ConnectionError("no version word")
            word += data
        self.version = word

    def send(self, name, body=b""):
        message = bytes([len(name)]) + name.encode() + body
        frames = b""
        while True:
            part, message = message[:32766], message[32766:]
            last = 0x8000 if not message else 0
            frames += struct.pack(">H", last | len(part)) + part
            if not message:
                break
        self.sock.sendall(frames)

    def send_uri(self, uri):
        data = uri.encode() if isinstance(uri, str) else uri
        self.send("uri", struct.pack(">I", len(data)) + data)

    def close(self):
        self.sock.close()


@contextlib.contextmanager
def listening_socket(path, version=None):
    """A listener at path that accepts every connection and sends it
    `version`, or nothing at all, while the block runs."""
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    with contextlib.suppress(FileNotFoundError):
        os.unlink(path)
    server.bind(path)
    server.listen(8)
    held = []

    def serve():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            held.append(conn)
            if version is not None:
                with contextlib.suppress(OSError):
                    conn.sendall(version)

    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    try:
        yield held
    finally:
        server.shutdown(socket.SHUT_RDWR)
        server.close()
        thread.join()
        for conn in held:
            conn.close()


def stale_socket(path):
    """A socket file with nobody listening."""
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(path)
    s.close()


SIGNALS = {"SIGINT": signal.SIGINT, "SIGTERM": signal.SIGTERM}
