#!/usr/bin/env python3
"""The setup wizard's start: from starting the program until its initial
page is shown, that is until the automation server answers
"state SetupDlg.initial" with "shown 1" (asked every millisecond), the
median of 10 runs, beside the median start of a C hello-world program
(fork, exec, exit) measured in the same run.

Target: the wizard's initial page is shown within 50 ms.

Each run is a fresh copy with the test-feature key beside it (so the
automation socket listens), in a private mount namespace with folders of
its own (libs/qoSetup/tests/program_fixture.py), so no running wizard of
the user's is asked and nothing of the user's is written.

Usage: bench/setup_start.py [build_dir] [runs] [--benchmark_out=FILE]

With --benchmark_out the two medians are also written to FILE in Google
Benchmark's JSON shape (BM_Start_WizardShown_Ours and its reference
BM_Start_WizardShown_CHelloWorld, in ms), which scripts/bench_table.py
reads beside the Google benchmarks' files (scripts/bench.sh).
"""
import json
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "libs", "qoSetup", "tests"))
import program_fixture as pf  # noqa: E402

pf.enter_private_namespace()
OUT_OPTION = "--benchmark_out="
OUT = next((a[len(OUT_OPTION):] for a in sys.argv[1:] if a.startswith(OUT_OPTION)), None)
ARGS = [a for a in sys.argv[1:] if not a.startswith(OUT_OPTION)]
BUILD = ARGS[0] if len(ARGS) > 0 else os.path.join(ROOT, "build", "plain")
RUNS = int(ARGS[1]) if len(ARGS) > 1 else 10
TARGET_MS = 50.0
HELLO = "#include <stdio.h>\nint main(void) { puts(\"hello\"); return 0; }\n"


def ask(path, line):
    """One command on a fresh connection: the reply's first line, or None
    while the server is not there."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(path)
            s.sendall(line.encode() + b"\n")
            data = b""
            while b"\n" not in data:
                chunk = s.recv(4096)
                if not chunk:
                    return None
                data += chunk
            return data.split(b"\n", 1)[0].decode()
    except (FileNotFoundError, ConnectionRefusedError):
        return None


def wizard_start_ms(setup):
    start = time.perf_counter()
    program = setup.start(log=None)
    path = os.path.join(pf.CHANNELS, "%s.MuiComms.%d" % (pf.APP, program.pid))
    try:
        while True:
            if ask(path, "state SetupDlg.initial") == "shown 1":
                return (time.perf_counter() - start) * 1000
            if program.process.poll() is not None:
                sys.exit("the wizard ended with %d: %s" % (program.process.returncode, program.stderr()))
            time.sleep(0.001)
    finally:
        program.signal(signal.SIGTERM)
        program.wait()


def hello_start_ms(exe):
    start = time.perf_counter()
    subprocess.run([exe], stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter() - start) * 1000


def write_results(path, ours, reference):
    """The medians as Google Benchmark's JSON output names them."""
    def entry(name, ms):
        return {"name": name, "run_name": name, "run_type": "iteration", "repetitions": 1, "iterations": RUNS,
                "real_time": ms, "cpu_time": ms, "time_unit": "ms"}
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"context": {"executable": os.path.abspath(__file__), "runs": RUNS},
                   "benchmarks": [entry("BM_Start_WizardShown_Ours", ours),
                                  entry("BM_Start_WizardShown_CHelloWorld", reference)]}, f, indent=2)


def main():
    key_dir = os.path.join(ROOT, "qocore", "base", "qoutil", "tests", "data")
    mui_client = pf.load_mui_client(os.path.join(ROOT, "testing", "mui_client.py"))
    scratch = os.path.join(BUILD, "bench", "setup-start")
    wizard = []
    for _ in range(RUNS):
        setup = pf.Setup(BUILD, scratch, key_dir, mui_client)
        try:
            wizard.append(wizard_start_ms(setup))
        finally:
            setup.close()
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "hello.c")
        with open(source, "w") as f:
            f.write(HELLO)
        exe = os.path.join(folder, "hello")
        subprocess.run(["cc", "-O2", "-o", exe, source], check=True)
        hello = [hello_start_ms(exe) for _ in range(RUNS)]
    ours = statistics.median(wizard)
    reference = statistics.median(hello)
    print("%-32s %10s %10s" % ("start (median of %d)" % RUNS, "ms", "runs"))
    print("%-32s %10.1f %10s" % ("wizard: initial page shown", ours, " ".join("%.0f" % t for t in wizard)))
    print("%-32s %10.1f %10s" % ("C hello world", reference, " ".join("%.1f" % t for t in hello)))
    print("target: under %.0f ms: %s" % (TARGET_MS, "met" if ours < TARGET_MS else "NOT met"))
    if OUT:
        write_results(OUT, ours, reference)
    return 0 if ours < TARGET_MS else 1


if __name__ == "__main__":
    sys.exit(main())
