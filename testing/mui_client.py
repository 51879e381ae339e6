"""A client of the program's UI automation socket (standard library only).

The program listens, while its test-feature switch is on, on the Unix
socket "<channel folder>/<prefix>.MuiComms.<pid>", where the channel folder
is "<temporary folder>/.<path component>-<effective uid>" and the prefix is
the application name.  Each command is one line; the server answers it with
zero or more reply lines and one empty line.  Failure is the single line
"0".

Reading the reply exactly: "dialogs", "listitems" and "checklayout" answer
an empty list with one empty line before the terminating one, so for those
three a reply that starts with the empty line has a second empty line,
which is read too.  Every other reply ends at its first empty line ("lists"
of an element without named descendants is the terminating line alone).

A command whose action opens a modal window (a click on a button that
shows a message box) is answered only once that window ends: the server
handles it inside the action.  Meanwhile the server answers other
connections, so a driver sends such a command, drives the window through a
second client and then reads the first reply.

    with MuiClient.for_pid(pid, channel_folder("yarl", tmp)) as ui:
        ui.command("click wizard.body.next")
        ui.wait_for("state wizard.body.pages", lambda lines: "page 1" in lines)

From a shell, one command against the running setup wizard:

    python3 testing/mui_client.py [--pid N] COMMAND...

finds the wizard's socket in the user's channel folder (the only running
wizard, or the one of process N), sends the words as one line and prints
the reply's lines; the status is 1 when the reply is failure ("0"), 2
when no wizard is found.
"""

import collections
import os
import socket
import sys
import time

CHANNEL = "MuiComms"
# Commands whose empty list is an empty line of its own.
_EMPTY_LIST_LINE = frozenset({"dialogs", "listitems", "checklayout"})


def channel_folder(path_component, temp_dir="/tmp", uid=None):
    """The per-user folder of the program's local sockets."""
    return os.path.join(temp_dir, ".%s-%d" % (path_component, os.geteuid() if uid is None else uid))


def socket_for_pid(pid, folder, prefix=None):
    """The automation socket of process `pid` in `folder`, or None.

    Without a prefix any application name matches."""
    suffix = ".%s.%d" % (CHANNEL, pid)
    if prefix is not None:
        path = os.path.join(folder, prefix + suffix)
        return path if os.path.exists(path) else None
    try:
        names = sorted(os.listdir(folder))
    except FileNotFoundError:
        return None
    for name in names:
        if name.endswith(suffix) and len(name) > len(suffix):
            return os.path.join(folder, name)
    return None


class ReplyError(Exception):
    """The connection ended or broke the framing before a whole reply."""


class MuiClient:
    """One connection to the automation server."""

    def __init__(self, path, timeout=10.0):
        self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self._sock.settimeout(timeout)
            self._sock.connect(path)
        except BaseException:
            self._sock.close()
            raise
        self._buffer = b""
        # The command words of the lines sent and not yet answered.
        self._pending = collections.deque()

    @classmethod
    def for_pid(cls, pid, folder, deadline=10.0, prefix=None, timeout=10.0):
        """Connects to the socket of process `pid`, waiting up to `deadline`
        seconds for it to appear."""
        end = time.monotonic() + deadline
        while True:
            path = socket_for_pid(pid, folder, prefix)
            if path:
                try:
                    return cls(path, timeout)
                except (ConnectionRefusedError, FileNotFoundError):
                    pass
            if time.monotonic() >= end:
                raise TimeoutError("no automation socket for process %d in %s" % (pid, folder))
            time.sleep(0.05)

    def close(self):
        self._sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send(self, line):
        """Sends one command line without waiting for its reply."""
        data = line.encode("utf-8") if isinstance(line, str) else bytes(line)
        if b"\n" in data:
            raise ValueError("a command is one line")
        self._sock.sendall(data + b"\n")
        words = data.split(None, 1)
        self._pending.append(words[0].decode("utf-8", "replace") if words else "")

    def reply(self):
        """The reply to the oldest unanswered line, exactly as the server
        wrote it (the terminating empty line included)."""
        if not self._pending:
            raise ReplyError("no command waits for a reply")
        command = self._pending.popleft()
        first = self._line()
        if first == b"\n":
            if command in _EMPTY_LIST_LINE:
                second = self._line()
                if second != b"\n":
                    raise ReplyError("an empty list must end with an empty line, got %r" % second)
                return "\n\n"
            return "\n"
        lines = [first]
        while lines[-1] != b"\n":
            lines.append(self._line())
        return b"".join(lines).decode("utf-8", "surrogateescape")

    def ask(self, line):
        """Sends a line and answers its exact reply."""
        self.send(line)
        return self.reply()

    def command(self, line):
        """Sends a line and answers its reply lines, without the framing
        (an empty list is []; failure is ["0"])."""
        text = self.ask(line)
        if text in ("\n", "\n\n"):
            return []
        return text[:-2].split("\n")

    def wait_for(self, command, predicate, deadline=10.0, interval=0.05):
        """Repeats `command` until `predicate` holds for its reply lines;
        answers those lines.  Raises TimeoutError, with the last reply, when
        `deadline` seconds pass first."""
        end = time.monotonic() + deadline
        while True:
            lines = self.command(command)
            if predicate(lines):
                return lines
            if time.monotonic() >= end:
                raise TimeoutError("%r still answers %r" % (command, lines))
            time.sleep(interval)

    def _line(self):
        while b"\n" not in self._buffer:
            data = self._sock.recv(4096)
            if not data:
                raise ReplyError("the server closed the connection")
            self._buffer += data
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line + b"\n"


# The setup wizard's application name and path component.
WIZARD = "vuzovuvivovevada"
WIZARD_PATH_COMPONENT = "yarl"


def running_wizards(folder):
    """The process ids of the wizards whose automation socket is in
    `folder` and whose process runs."""
    prefix = WIZARD + "." + CHANNEL + "."
    pids = []
    try:
        names = os.listdir(folder)
    except FileNotFoundError:
        return pids
    for name in sorted(names):
        if not name.startswith(prefix) or not name[len(prefix):].isdigit():
            continue
        pid = int(name[len(prefix):])
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            continue
        except PermissionError:
            pass
        pids.append(pid)
    return pids


def main(argv):
    words = list(argv)
    pid = None
    if words[:1] == ["--pid"] and len(words) >= 2 and words[1].isdigit():
        pid = int(words[1])
        words = words[2:]
    if not words or words[0].startswith("-"):
        sys.stderr.write("usage: mui_client.py [--pid N] COMMAND...\n")
        return 2
    folder = channel_folder(WIZARD_PATH_COMPONENT)
    if pid is None:
        pids = running_wizards(folder)
        if len(pids) != 1:
            sys.stderr.write("%s running wizards in %s%s\n" % (
                "no" if not pids else len(pids), folder, "" if not pids else ": give --pid N"))
            return 2
        pid = pids[0]
    path = socket_for_pid(pid, folder, WIZARD)
    if not path:
        sys.stderr.write("no automation socket of process %d in %s\n" % (pid, folder))
        return 2
    with MuiClient(path) as client:
        lines = client.command(" ".join(words))
    for line in lines:
        print(line)
    return 1 if lines == ["0"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
