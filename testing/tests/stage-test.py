#!/usr/bin/env python3
"""stage-test.py <Stage.py> <cloud_fixture>

The stage of the whole-program tests on its own: it runs; a program linked
against the build's core library runs inside, with a library it loads
from another mount than "/" copied in beside it; the test user exists only
there; `sudo -n` as that user runs the copied program, and only that one,
as root and keeps the sanitizer options; the stage sees its own processes
and kills them; a staged run past its time is ended and kills what it
started; and the machine is untouched afterwards.  As an ordinary
user the stage refuses with a clear message.
"""

import importlib.machinery
import json
import os
import pwd
import shutil
import signal
import subprocess
import sys
import types
import unittest

STAGE_PY, CLOUD_FIXTURE = sys.argv[1:3]
SELF = [os.path.abspath(__file__), STAGE_PY, CLOUD_FIXTURE]
del sys.argv[1:3]

_loader = importlib.machinery.SourceFileLoader("Stage", STAGE_PY)
Stage = types.ModuleType(_loader.name)
Stage.__file__ = _loader.path
_loader.exec_module(Stage)

USER = "yarlstage"
PROBE = "/etc/yarl-stage-probe"
# Fixed system paths the stage writes; the host's stay as they were.
SYSTEM_PATHS = ["/etc/yarl/CloudConfig.pkg", "/usr/sbin/installer", "/Library", PROBE, Stage.STAGE_DIR,
                Stage.SUDOERS_RULE]
SUDO_ENV = {"PATH": "/usr/bin:/bin", "HOME": "/home/" + USER, "ASAN_OPTIONS": "probe=1", "UBSAN_OPTIONS": "",
            "OTHER": "dropped"}


def inner(stage):
    """Inside the namespace: builds the stage, probes it and prints what it
    found as JSON."""
    facts = {}
    try:
        env = stage.copy("/usr/bin/env", Stage.BIN_DIR + "/env")
        # A library on another mount than "/" (the stage's own tmpfs), as
        # a build tree on another disk would be: the overlay does not show
        # it, so the copy brings it in.
        elsewhere = os.path.join(stage.mount, "elsewhere")
        os.mkdir(elsewhere)
        libz = [line.split()[2] for line in subprocess.run(["ldd", CLOUD_FIXTURE], stdout=subprocess.PIPE,
                                                           text=True, check=True).stdout.splitlines()
                if line.split()[0] == "libz.so.1"][0]
        shutil.copy(libz, elsewhere)
        os.environ["LD_LIBRARY_PATH"] = elsewhere
        fixture = stage.copy(CLOUD_FIXTURE, Stage.BIN_DIR + "/cloud_fixture")
        del os.environ["LD_LIBRARY_PATH"]
        stage.enter()
        for path in ("/etc/yarl/CloudConfig.pkg", "/usr/sbin/installer", "/Library/probe", PROBE):
            stage.write(path, "probe\n")
        account = stage.add_user(USER)
        stage.allow_sudo(USER, env)
        facts["uid"] = account.pw_uid
        facts["home"] = os.path.isdir(account.pw_dir) and os.stat(account.pw_dir).st_uid == account.pw_uid
        loaded = dict(os.environ, LD_LIBRARY_PATH=elsewhere)
        facts["fixture"] = subprocess.run([fixture], stderr=subprocess.PIPE, text=True, timeout=30, env=loaded).stderr
        facts["libz"] = [line.split()[2] for line in subprocess.run(
            ["ldd", fixture], stdout=subprocess.PIPE, text=True, timeout=30, env=loaded).stdout.splitlines()
            if line.split()[0] == "libz.so.1"]
        facts["elsewhere"] = elsewhere

        def as_user(*args):
            process = stage.start_as(account, args, SUDO_ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
            out, err = process.communicate(timeout=30)
            return {"status": process.returncode, "out": out, "err": err}

        facts["id"] = as_user("/usr/bin/id", "-u")
        facts["sudoId"] = as_user("/usr/bin/sudo", "-n", env, "/usr/bin/id", "-u")
        facts["sudoEnv"] = as_user("/usr/bin/sudo", "-n", env)
        facts["sudoOther"] = as_user("/usr/bin/sudo", "-n", "/usr/bin/id", "-u")
        # A process of the user's that stays until the stage kills it.
        stays = stage.start_as(account, ["/usr/bin/tail", "-f", "/dev/null"], SUDO_ENV)
        facts["stays"] = stays.pid
        facts["seen"] = Stage.wait_until(lambda: stays.pid in stage.stage_processes(), 10, "the process")
        facts["parentSeen"] = os.getppid() in stage.stage_processes()
        facts["sanitizer"] = stage.sanitizer_environment()
    finally:
        stage.close()
    facts["after"] = stage.stage_processes()
    print(json.dumps(facts))
    return 0


def hang(stage):
    """Inside the namespace: starts a process, then waits for ever."""
    try:
        stage.enter()
        stays = stage.start(["/usr/bin/tail", "-f", "/dev/null"])
        print("STAYS %d" % stays.pid, flush=True)
        Stage.wait_until(lambda: False, 600, "nothing")
    finally:
        stage.close()
    return 0


class StageTest(unittest.TestCase):
    def test_the_stage_runs_its_user_and_sudo_and_leaves_the_machine_as_it_was(self):
        before = {path: os.path.lexists(path) for path in SYSTEM_PATHS}
        done = Stage.run_in_namespace(SELF + ["--inner"], timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        facts = json.loads(done.stdout.splitlines()[-1])

        self.assertGreaterEqual(facts["uid"], 1000)
        self.assertTrue(facts["home"])
        self.assertIn("usage: cloud_fixture", facts["fixture"])
        self.assertEqual(facts["libz"], [facts["elsewhere"] + "/libz.so.1"])
        self.assertEqual(facts["id"]["out"], "%d\n" % facts["uid"])
        self.assertEqual((facts["sudoId"]["status"], facts["sudoId"]["out"]), (0, "0\n"), facts["sudoId"]["err"])
        variables = dict(line.split("=", 1) for line in facts["sudoEnv"]["out"].splitlines())
        self.assertEqual((variables["USER"], variables["ASAN_OPTIONS"]), ("root", "probe=1"))
        self.assertNotIn("OTHER", variables)
        # The rule names the copied program only.
        self.assertNotEqual(facts["sudoOther"]["status"], 0)
        self.assertEqual(facts["sudoOther"]["out"], "")
        self.assertTrue(facts["seen"])
        self.assertFalse(facts["parentSeen"])
        self.assertEqual(facts["after"], [])
        inherited = os.environ.get("ASAN_OPTIONS")
        self.assertEqual(facts["sanitizer"]["ASAN_OPTIONS"],
                         (inherited + ":" if inherited else "") + "log_path=%s/asan" % Stage.SANITIZER_DIR)

        with self.assertRaises(KeyError):
            pwd.getpwnam(USER)
        self.assertEqual({path: os.path.lexists(path) for path in SYSTEM_PATHS}, before)
        self.assertFalse(os.path.exists("/proc/%d" % facts["stays"]))

    def test_a_run_past_its_time_is_ended_and_kills_what_it_started(self):
        with self.assertRaises(Stage.StageError) as raised:
            Stage.run_in_namespace(SELF + ["--hang"], timeout=3)
        text = str(raised.exception)
        self.assertIn("did not end within 3 s", text)
        self.assertIn("stage: ended by signal %d" % signal.SIGTERM, text)
        pid = int(text.split("STAYS ")[1].split()[0])
        self.assertFalse(os.path.exists("/proc/%d" % pid))

    def test_an_ordinary_user_is_told_that_the_stage_needs_root(self):
        done = subprocess.run(["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups",
                               sys.executable] + SELF + ["--inner"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn("the stage needs root", done.stderr)


if __name__ == "__main__":
    if sys.argv[1:] in (["--inner"], ["--hang"]):
        scenario = sys.argv[1]
        sys.argv = SELF + [scenario]
        sys.exit(Stage.main(inner if scenario == "--inner" else hang, timeout=120))
    unittest.main()
