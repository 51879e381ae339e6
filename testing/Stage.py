"""The stage of whole-program tests (standard library only).

A throw-away copy of this machine in which the program runs as an ordinary
user, elevates through the real sudo and installs into the real system
folders, while the machine itself stays untouched:

- a private mount namespace (`unshare -m --propagation private`) holding a
  tmpfs, and in it an overlay whose lower layer is the host's "/" (its root
  file system only: other mounts, a build tree on another disk among them,
  are empty folders there) and whose upper layer and work folder lie in the
  tmpfs; /proc, /dev and /sys are bound in recursively and /tmp is a tmpfs
  of its own;
- everything the stage runs is copied in before the process turns the
  overlay into its root (chroot), with the shared libraries of each copied
  program that the overlay would not show;
- there, the test user (useradd), a sudoers rule, the fixed system files;
- every process is started by the stage and killed by its id, and every
  wait has a deadline.  Everything vanishes with the namespace.

It needs root, as CI runs.  As an ordinary user, or where the kernel
refuses the namespace, a mount or the overlay, it fails with a message
that says so, never silently.

A staged script calls `main(inner)`: outside the namespace that checks for
root and runs the same script again inside one (the tmpfs's mount point in
$YARL_STAGE_MOUNT) and answers its status; inside it answers
`inner(Stage(mount point))`.
"""

import os
import pwd
import selectors
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Inside the stage, the folder of everything copied in and of the records.
STAGE_DIR = "/yarl-stage"
BIN_DIR = STAGE_DIR + "/bin"
RECORDS_DIR = STAGE_DIR + "/records"
SANITIZER_DIR = STAGE_DIR + "/sanitizer"
MOUNT_VARIABLE = "YARL_STAGE_MOUNT"
SANITIZER_VARIABLES = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
SUDOERS_RULE = "/etc/sudoers.d/yarl-stage"
# The elevation command's status for a refused prompt.
REFUSED_STATUS = 126

POLL_INTERVAL = 0.02
STOP_DEADLINE = 10


class StageError(Exception):
    """The stage cannot be built or a step of it failed; the message says
    which and why."""


def wait_until(predicate, deadline, what):
    """Polls `predicate` until it answers a true value, which it answers;
    StageError naming `what` once `deadline` seconds have passed."""
    end = time.monotonic() + deadline
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            raise StageError("gave up after %g s waiting for %s" % (deadline, what))
        time.sleep(POLL_INTERVAL)


def require_root():
    if os.geteuid() != 0:
        raise StageError("the stage needs root (a mount namespace, mounts and chroot); "
                         "run the test as root, as CI does")


def run_in_namespace(argv, timeout, env=None):
    """Runs argv (a staged script and its arguments) inside a new private
    mount namespace; answers the completed process (output captured as
    text).  The namespace's tmpfs is mounted on a fresh empty folder that
    is removed again afterwards."""
    require_root()
    unshare = shutil.which("unshare")
    if not unshare:
        raise StageError("unshare (util-linux) is not installed")
    mount = tempfile.mkdtemp(prefix="yarl-stage-")
    # The output goes to files, not pipes: a process left behind that still
    # holds them cannot keep this side waiting.
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        try:
            process = subprocess.Popen([unshare, "-m", "--propagation", "private", sys.executable] + list(argv),
                                       env=dict(env if env is not None else os.environ, **{MOUNT_VARIABLE: mount}),
                                       stdout=out, stderr=err)
            try:
                process.wait(timeout=timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                # SIGTERM first: the staged script then kills what it started.
                timed_out = True
                process.terminate()
                try:
                    process.wait(timeout=STOP_DEADLINE)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        finally:
            os.rmdir(mount)
        out.seek(0)
        err.seek(0)
        done = subprocess.CompletedProcess(process.args, process.returncode, out.read(), err.read())
    if timed_out:
        raise StageError("the staged run did not end within %g s\n%s%s" % (timeout, done.stdout, done.stderr))
    if done.returncode != 0 and "unshare:" in done.stderr:
        raise StageError("unshare refused a private mount namespace:\n" + done.stderr)
    return done


def _terminated(signum, frame):
    # Unwinds the staged script, whose cleanup kills what it started.
    raise StageError("ended by signal %d" % signum)


def main(inner, timeout):
    """The entry of a staged script (see the module's text)."""
    mount = os.environ.get(MOUNT_VARIABLE)
    if mount:
        signal.signal(signal.SIGTERM, _terminated)
        try:
            return inner(Stage(mount))
        except StageError as e:
            print("stage: %s" % e, file=sys.stderr)
            return 1
    try:
        done = run_in_namespace([os.path.abspath(sys.argv[0])] + sys.argv[1:], timeout)
    except StageError as e:
        print("stage: %s" % e, file=sys.stderr)
        return 1
    sys.stdout.write(done.stdout)
    sys.stderr.write(done.stderr)
    return done.returncode


def _run(args, what, **kwargs):
    try:
        done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60,
                              **kwargs)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise StageError("%s: %s" % (what, e))
    if done.returncode != 0:
        raise StageError("%s: %s exited with %d: %s" % (what, " ".join(args), done.returncode,
                                                        (done.stderr or done.stdout).strip()))
    return done.stdout


def _is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def _shared_libraries(program):
    """The absolute paths of the libraries the dynamic loader would load
    for the program (itself included)."""
    paths = []
    for line in _run(["ldd", program], "listing the libraries of %s" % program).splitlines():
        words = line.split()
        if "=>" in words:
            words = words[words.index("=>") + 1:]
        if words and words[0].startswith("/"):
            paths.append(words[0])
    return paths


class Stage:
    """The stage, built in the constructor up to the chroot (see the
    module's text).  Copy things in with `copy`, then `enter`."""

    def __init__(self, mount):
        self.mount = mount
        self.root = os.path.join(mount, "root")
        self.entered = False
        self.processes = []
        self.root_id = None
        _run(["mount", "-t", "tmpfs", "-o", "mode=0755", "yarl-stage", mount], "mounting the stage's tmpfs")
        upper, work = os.path.join(mount, "upper"), os.path.join(mount, "work")
        for folder in (upper, work, self.root):
            os.mkdir(folder)
        _run(["mount", "-t", "overlay", "yarl-stage", "-o", "lowerdir=/,upperdir=%s,workdir=%s" % (upper, work),
              self.root], "mounting an overlay over the host's '/' (the kernel may refuse overlays here)")
        for folder in ("proc", "dev", "sys"):
            _run(["mount", "--rbind", "/" + folder, os.path.join(self.root, folder)], "binding /" + folder)
        _run(["mount", "-t", "tmpfs", "-o", "mode=1777", "yarl-stage-tmp", os.path.join(self.root, "tmp")],
             "mounting the stage's /tmp")
        os.makedirs(self.inside(STAGE_DIR), exist_ok=True)
        for folder, mode in ((BIN_DIR, 0o755), (RECORDS_DIR, 0o1777), (SANITIZER_DIR, 0o1777)):
            os.makedirs(self.inside(folder), exist_ok=True)
            os.chmod(self.inside(folder), mode)

    def inside(self, path):
        """Where the stage's absolute path lies now (before or after
        `enter`)."""
        if not os.path.isabs(path):
            raise ValueError("not an absolute path: %s" % path)
        return path if self.entered else self.root + path

    # ---- Before the chroot ----

    def copy(self, source, path, mode=None):
        """Copies a file to the stage's absolute path (folders made), with
        the mode given or the source's.  For a program, the libraries it
        loads that the stage does not show are copied to their own paths.
        Answers the path."""
        if self.entered:
            raise StageError("copy %s: the stage has been entered; copy everything in before" % source)
        target = self.inside(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
        if mode is not None:
            os.chmod(target, mode)
        if _is_elf(source):
            for library in _shared_libraries(source):
                if not os.path.exists(self.inside(library)):
                    self.copy(library, library)
        return path

    def copy_tree(self, source, path):
        """Copies a folder with everything in it (programs as `copy` does)."""
        for folder, _, files in os.walk(source):
            relative = os.path.relpath(folder, source)
            os.makedirs(os.path.normpath(self.inside(os.path.join(path, relative))), exist_ok=True)
            for name in files:
                self.copy(os.path.join(folder, name), os.path.normpath(os.path.join(path, relative, name)))
        return path

    def enter(self):
        """Makes the overlay this process's root."""
        os.chroot(self.root)
        os.chdir("/")
        self.entered = True
        self.root_id = self._id_of("/")

    # ---- Inside ----

    def write(self, path, text, mode=0o644):
        """Writes a file of the stage (folders made) with that mode."""
        target = self.inside(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(target, mode)
        return path

    def add_user(self, name):
        """Creates an ordinary user with a home of its own and a group of
        its name; answers its account entry."""
        self._require_entered("useradd")
        _run(["useradd", "--create-home", "--user-group", "--shell", "/bin/sh", name], "creating the test user")
        return pwd.getpwnam(name)

    def allow_sudo(self, user, program):
        """Lets the user run the program (any arguments) as root through
        `sudo -n`: without a password, without a pseudo-terminal, keeping
        the sanitizer options."""
        self._require_entered("the sudoers rule")
        if not shutil.which("sudo"):
            raise StageError("sudo is not installed (scripts/deps.sh installs it)")
        rule = ("%s ALL=(root) NOPASSWD: %s\n"
                "Defaults:%s !use_pty, env_keep += \"%s\"\n" % (user, program, user, " ".join(SANITIZER_VARIABLES)))
        self.write(SUDOERS_RULE, rule, 0o440)
        _run(["visudo", "-c", "-q", "-f", SUDOERS_RULE], "checking the sudoers rule")

    def sanitizer_environment(self):
        """The sanitizer options of this process with `log_path` set into
        the stage's report folder, so that the reports of processes whose
        status no test sees (the root helper, the "-uri" child) are kept."""
        env = {}
        for name in SANITIZER_VARIABLES:
            options = os.environ.get(name, "")
            prefix = name.split("_")[0].lower()
            env[name] = (options + ":" if options else "") + "log_path=%s/%s" % (SANITIZER_DIR, prefix)
        return env

    def sanitizer_reports(self):
        """Every report file written so far: {name: text}."""
        reports = {}
        folder = self.inside(SANITIZER_DIR)
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                reports[name] = f.read()
        return reports

    def start(self, args, **kwargs):
        """Starts a process, kept to be killed by its id at the end."""
        process = subprocess.Popen(args, **kwargs)
        self.processes.append(process)
        return process

    def start_as(self, account, args, env, **kwargs):
        """Starts args as the user of the account entry, in a session of its
        own (no controlling terminal), from an environment holding exactly
        `env`.  env(1) and setpriv(1) exec in turn, so the process id is
        the program's."""
        self._require_entered("a user's process")
        line = ["/usr/bin/env", "-i"] + ["%s=%s" % item for item in env.items()]
        line += ["/usr/bin/setpriv", "--reuid", str(account.pw_uid), "--regid", str(account.pw_gid), "--init-groups"]
        return self.start(line + list(args), start_new_session=True, stdin=subprocess.DEVNULL,
                          cwd=account.pw_dir, **kwargs)

    def read_port(self, process, deadline=20):
        """The port of a server that announces "PORT <n>" as the first line
        of its standard output (a pipe)."""
        selector = selectors.DefaultSelector()
        selector.register(process.stdout, selectors.EVENT_READ)
        try:
            if not selector.select(deadline):
                raise StageError("%s announced no port within %g s" % (process.args[0], deadline))
        finally:
            selector.close()
        line = process.stdout.readline()
        if not line.startswith("PORT "):
            raise StageError("%s did not announce its port: %r" % (" ".join(process.args), line))
        return int(line.split()[1])

    def wait(self, process, deadline, what):
        """The exit status of a started process, once it ends."""
        try:
            return process.wait(timeout=deadline)
        except subprocess.TimeoutExpired:
            raise StageError("%s did not end within %g s" % (what, deadline))

    def stage_processes(self):
        """The ids of the processes whose root is the stage (this one
        excepted), read from /proc."""
        pids = []
        for name in os.listdir("/proc"):
            if not name.isdigit() or int(name) == os.getpid():
                continue
            try:
                if self._id_of("/proc/%s/root/" % name) == self.root_id:
                    pids.append(int(name))
            except OSError:
                pass
        return pids

    @staticmethod
    def command_line(pid):
        """A process's arguments (empty once it has gone)."""
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                return [a.decode("utf-8", "replace") for a in f.read().split(b"\0")[:-1]]
        except OSError:
            return []

    def close(self):
        """Kills every process started here by its id, then every other
        process still running in the stage (the wizard's children), and
        reaps what it started."""
        for process in self.processes:
            if process.poll() is None:
                process.kill()
        for process in self.processes:
            try:
                process.wait(timeout=STOP_DEADLINE)
            except subprocess.TimeoutExpired:
                print("stage: process %d survived SIGKILL" % process.pid, file=sys.stderr)
            for stream in (process.stdout, process.stderr):
                if stream:
                    stream.close()
        if self.entered:
            for pid in self.stage_processes():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def _require_entered(self, what):
        if not self.entered:
            raise StageError("%s belongs inside the stage: enter it first" % what)

    @staticmethod
    def _id_of(path):
        st = os.stat(path)
        return (st.st_dev, st.st_ino)
