"""What the download benchmarks share: a free loopback port, waiting for a
server to listen, and running a client while timing it and reading its
peak memory."""
import os
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def measure(argv):
    """Runs argv; answers (seconds, peak RSS in MiB, stdout)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed" % argv[0])
    return seconds, usage.ru_maxrss / 1024.0, out.decode()
