#!/usr/bin/python3
"""The system's package installer as whole-program tests meet it.

    installer -pkg <file>.pkg -target /

The stage (testing/Stage.py) copies it to "/usr/sbin/installer", executable
by everyone: the program looks it up as the user and the admin helper runs
it as root.  Sudo passes no test variables on, so its settings are the JSON
file SETTINGS, which the stage writes:

    "package"    the bytes the mock cloud served: the file given must equal it
    "exitCode"   0 installs; any other status is the installer's failure
    "server"     the fake installed server (testing/FakeInstalledServer.cpp)
    "serverDir"  its folder, the installed server's configuration base as
                 root's admin helper sees it
    "join"       false: the server's join copies the token and writes no
                 credentials
    "record"     a JSON file it writes: its arguments and effective user id

It checks its arguments and the package, prints the lines an installer
prints (the last one just before it ends), installs the fake server as
"/Library/yarl/yarlserver" (a script that gives the fake its folder and
execs it) and ends with the chosen status.  A wrong argument or package
ends it with 2 and says why on standard error.
"""

import json
import os
import sys

SETTINGS = "/yarl-stage/installer.json"
SERVER = "/Library/yarl/yarlserver"


def fail(text):
    print("installer: " + text, file=sys.stderr, flush=True)
    return 2


def quoted(text):
    return "'" + text.replace("'", "'\\''") + "'"


def server_script(settings):
    lines = ["#!/bin/sh", "export YARL_FAKE_SERVER_DIR=" + quoted(settings["serverDir"])]
    if not settings.get("join", True):
        # The join runs and records its token, but the server holds no
        # credentials afterwards.
        lines.append('if [ "$#" = 3 ] && [ "$1" = -service ] && [ "$2" = -joincloud ]; then')
        lines.append('  exec cp "$3" "$YARL_FAKE_SERVER_DIR/joincloud.token"')
        lines.append("fi")
    lines.append("exec %s \"$@\"" % quoted(settings["server"]))
    return "\n".join(lines) + "\n"


def main(args):
    with open(SETTINGS, encoding="utf-8") as f:
        settings = json.load(f)
    with open(settings["record"], "w", encoding="utf-8") as f:
        json.dump({"args": args, "euid": os.geteuid()}, f)
    if len(args) != 4 or args[0] != "-pkg" or args[2] != "-target" or args[3] != "/":
        return fail("usage: installer -pkg <file> -target /, not %r" % (args,))
    if not args[1].endswith(".pkg"):
        return fail("%s is no package" % args[1])
    with open(args[1], "rb") as given, open(settings["package"], "rb") as served:
        if given.read() != served.read():
            return fail("%s is not the package the cloud served" % args[1])

    print("installer: Package name is Yarl Server", flush=True)
    print("installer: Installing at base path /", flush=True)
    code = int(settings.get("exitCode", 0))
    if code != 0:
        print("installer: The install failed, status %d" % code, flush=True)
        return code
    os.makedirs(os.path.dirname(SERVER), exist_ok=True)
    os.makedirs(settings["serverDir"], exist_ok=True)
    with open(SERVER, "w", encoding="utf-8") as f:
        f.write(server_script(settings))
    os.chmod(SERVER, 0o755)
    print("installer: The install was successful.", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
