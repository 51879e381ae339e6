#!/usr/bin/env python3
"""fake_admin_helper.py CONFIG RECORD [the helper's own arguments...]

A stand-in for the wizard's elevated admin helper in the whole-program
tests: the fake elevation command execs it in place of "<program>
-helper".  It speaks the helper's side of the protocol over its standard
input (the launch pipe): first its process id and its parent's (64-bit
big-endian each), then framed named messages.  It runs nothing: it writes
every request to RECORD (JSON lines) and answers as CONFIG (JSON) says:

    {"haveCloudCreds": false,
     "commands": [{"match": "installer", "output": ["text", ...],
                   "status": 0, "error": ["message", "type"],
                   "hold": "<file>"}, ...],
     "features": ["SYSTEM_AUTH", ...],
     "settingsError": ["message", "type"]}

A "RunCmd" takes the first command whose "match" is in one of its
arguments (none matching: status 0, no output).  Its output is sent at
once; with "hold", the result waits until that file exists, or is dropped
when "RunCmdCancel" comes first.  A join's token file (the argument after
"-joincloud") is read into the record while it exists.  CONFIG is read
again for every request, so a test may change the answers meanwhile.

The record's entries: {"msg": "RunCmd", "args": [...], "token": ...},
{"msg": "RunCmdCancel"}, {"msg": "GetCapsFeatures"}, {"msg":
"SvrSettings", "settings": [[name, value], ...]}.

It ends when the pipe closes.
"""

import json
import os
import select
import socket
import struct
import sys
import time

FRAME_MAX = 32766
LAST = 0x8000
# A held command waits at most this long for its file.
HOLD_LIMIT = 60.0


class Channel:
    """The framed named messages over the pipe."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""
        self.message = b""

    def send(self, name, body=b""):
        message = bytes([len(name)]) + name.encode() + body
        frames = b""
        while True:
            part, message = message[:FRAME_MAX], message[FRAME_MAX:]
            frames += struct.pack(">H", (0 if message else LAST) | len(part)) + part
            if not message:
                break
        self.sock.sendall(frames)

    def pending(self):
        """The complete messages the buffer holds, as (name, body)."""
        out = []
        while len(self.buffer) >= 2:
            (header,) = struct.unpack(">H", self.buffer[:2])
            length = header & 0x7FFF
            if len(self.buffer) < 2 + length:
                break
            self.message += self.buffer[2:2 + length]
            self.buffer = self.buffer[2 + length:]
            if header & LAST:
                size = self.message[0]
                out.append((self.message[1:1 + size].decode(), self.message[1 + size:]))
                self.message = b""
        return out

    def read(self, timeout):
        """Reads what arrives within the time; False once the pipe closed."""
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return True
        data = self.sock.recv(65536)
        if not data:
            return False
        self.buffer += data
        return True


class Reader:
    def __init__(self, body):
        self.body = body
        self.at = 0

    def take(self, n):
        data = self.body[self.at:self.at + n]
        if len(data) != n:
            raise ValueError("short message")
        self.at += n
        return data

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack(">H", self.take(2))[0]

    def string32(self):
        (n,) = struct.unpack(">I", self.take(4))
        return self.take(n).decode("utf-8", "replace")


def string8(text):
    data = text.encode()[:255]
    return bytes([len(data)]) + data


def error_pair(error):
    message, kind = (list(error or []) + ["", ""])[:2]
    return string8(message) + string8(kind)


class Helper:
    def __init__(self, config_path, record_path):
        self.config_path = config_path
        self.record_path = record_path
        self.sock = socket.socket(fileno=os.dup(0))
        self.channel = Channel(self.sock)
        # (hold file, result body, deadline) of the command that waits.
        self.held = None

    def config(self):
        with open(self.config_path) as f:
            return json.load(f)

    def record(self, entry):
        with open(self.record_path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def run_cmd(self, reader):
        args = [reader.string32() for _ in range(reader.u8())]
        entry = {"msg": "RunCmd", "args": args}
        if "-joincloud" in args[:-1]:
            token_file = args[args.index("-joincloud") + 1]
            try:
                with open(token_file) as f:
                    entry["token"] = f.read()
            except OSError as e:
                entry["token"] = "(unreadable: %s)" % e.strerror
        self.record(entry)
        rule = next((c for c in self.config().get("commands", []) if any(c["match"] in a for a in args)), {})
        for chunk in rule.get("output", []):
            data = chunk.encode()
            self.channel.send("RunCmdOutput", struct.pack(">H", len(data)) + data)
        if "error" in rule:
            result = b"\x00" + error_pair(rule["error"])
        else:
            result = b"\x01" + struct.pack(">I", rule.get("status", 0) & 0xFFFFFFFF)
        if rule.get("hold"):
            self.held = (rule["hold"], result, time.monotonic() + HOLD_LIMIT)
        else:
            self.channel.send("RunCmdResult", result)

    def svr_settings(self, reader):
        settings = [[reader.string32(), reader.string32()] for _ in range(reader.u16())]
        self.record({"msg": "SvrSettings", "settings": settings})
        self.channel.send("SvrSettingsResult", error_pair(self.config().get("settingsError")))

    def handle(self, name, body):
        reader = Reader(body)
        if name == "RunCmd":
            self.run_cmd(reader)
        elif name == "RunCmdCancel":
            self.record({"msg": "RunCmdCancel"})
            self.held = None
        elif name == "GetCapsFeatures":
            self.record({"msg": "GetCapsFeatures"})
            features = self.config().get("features", [])
            body = error_pair(None) + struct.pack(">H", len(features)) + b"".join(string8(f) for f in features)
            self.channel.send("GetCapsFeaturesResult", body)
        elif name == "SvrSettings":
            self.svr_settings(reader)

    def release_held(self):
        if self.held and (os.path.exists(self.held[0]) or time.monotonic() > self.held[2]):
            self.channel.send("RunCmdResult", self.held[1])
            self.held = None

    def serve(self):
        self.sock.sendall(struct.pack(">qq", os.getpid(), os.getppid()))
        have = 1 if self.config().get("haveCloudCreds") else 0
        self.channel.send("HaveCloudCredsSvr", bytes([have]))
        while self.channel.read(0.01 if self.held else None):
            for name, body in self.channel.pending():
                self.handle(name, body)
            self.release_held()
        return 0


if __name__ == "__main__":
    sys.exit(Helper(sys.argv[1], sys.argv[2]).serve())
