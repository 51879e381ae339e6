#!/usr/bin/python3
"""The web browser as whole-program tests meet it ($BROWSER).

    browser <URL>

The program opens the sign-in portal with xdg-open, which hands the URL to
$BROWSER when no desktop is found.  This browser signs in at once: it takes
the "state" of the portal URL and opens the callback
"<scheme>:///install?state=<state>&server=<ticket>" with the real xdg-open,
with a dummy DISPLAY for that call only (xdg-open asks for a scheme's
handler only when a display is set), so the desktop entry the program
registered starts "<program> -uri <callback>".  xdg-open falls back to
$BROWSER when it finds no handler: then this browser is handed the
callback, which it refuses like any URL but the portal's, so that the
fallback fails loudly.

Its settings are the JSON file SETTINGS, which the stage writes:

    "portal"    the portal URL expected, without its query
    "scheme"    the program's URL scheme
    "ticket"    the "server" value of the callback
    "callback"  "state" (the default), "wrong-state" (the state with its
                last character changed) or "none" (no callback: the user
                never signs in)
    "record"    a file it appends a JSON line to per URL it is given:
                {"url", "refused"} and, after a callback, {"callback",
                "xdgOpen": xdg-open's exit status}

It ends with 0 once the callback's xdg-open has ended with 0 (at once for
"none") and with 1 otherwise.
"""

import json
import os
import subprocess
import sys
import urllib.parse

SETTINGS = "/yarl-stage/browser.json"
DUMMY_DISPLAY = ":99"
XDG_OPEN_DEADLINE = 30


def record(settings, entry):
    with open(settings["record"], "a", encoding="utf-8") as f:
        f.write(json.dumps(entry) + "\n")


def main(args):
    with open(SETTINGS, encoding="utf-8") as f:
        settings = json.load(f)
    url = args[0] if len(args) == 1 else ""
    base, _, query = url.partition("?")
    refused = base != settings["portal"]
    record(settings, {"url": url, "refused": refused})
    if refused:
        return 1
    mode = settings.get("callback", "state")
    if mode == "none":
        return 0
    state = urllib.parse.parse_qs(query).get("state", [""])[0]
    if mode == "wrong-state":
        state = state[:-1] + ("A" if state[-1:] != "A" else "B")
    callback = "%s:///install?state=%s&server=%s" % (settings["scheme"], state, settings["ticket"])
    env = dict(os.environ, DISPLAY=DUMMY_DISPLAY)
    try:
        status = subprocess.run(["xdg-open", callback], env=env, stdin=subprocess.DEVNULL,
                                timeout=XDG_OPEN_DEADLINE).returncode
    except subprocess.TimeoutExpired:
        status = "timed out"
    record(settings, {"callback": callback, "xdgOpen": status})
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
