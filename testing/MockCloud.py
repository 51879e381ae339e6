#!/usr/bin/env python3
"""A mock of the maker's cloud for tests: HTTPS (TLS 1.2) on 127.0.0.1.

    MockCloud.py --dir FOLDER [--script FILE] [--record FILE] [--plain]
                 [--max-requests N] [--lifetime SECONDS]

It answers at most N requests, stops after the lifetime in any case, and
records every request it reads.  What needs signing or certificates is made
by the fixture tool (`cloud_fixture mock-cloud FOLDER PORT`) into FOLDER,
once the port is known; the mock reads FOLDER only when a request needs it:

    FOLDER/server-chain.pem, FOLDER/server.key   its TLS certificate chain
                                                 and key (read at the first
                                                 connection)
    FOLDER/www/<path>                            served for GET <path>

Once listening, the first line of its standard output is "PORT <n>".

The script (JSON) gives scripted answers, which come before the files:

    {"routes": {"POST /node1/caps/list": [<answer>, <answer>, ...]}}

Each request of a route takes the next answer of its list; the last one
repeats.  An answer is an object:

    "status"       the status code (200)
    "headers"      [[name, value], ...] or {name: value}, sent as they are
    "json"         a value sent as JSON ("application/json")
    "body"         a text sent as it is
    "file"         a file of FOLDER sent as it is
    "contentType"  the content type of the body
    "close"        true: close the connection after the answer
    "delay"        seconds to wait, once the request is recorded, before
                   answering (other connections are served meanwhile)

"{base}" in a header value or body is replaced by the mock's own base URL
("https://127.0.0.1:<port>", "http://..." with --plain).  Every answer
carries "Content-Length" and a "Date" (unless the script gives one).

Without a scripted route, a POST to a path ending in
"/authentication/1.1/tickets/redeem" whose body is {"ticket": T} is answered
200 {"type": "server-join", "value": "join-token:" + T}.

The record (JSON lines, one per request, written before the answer):
{"method", "path", "headers": [[name, value], ...], "body" (Base64),
"status" (of the answer; 0 for a request past the bound or with a body
over 1 MiB, which is not answered)}.
"""

import argparse
import base64
import email.utils
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time

REDEEM_SUFFIX = "/authentication/1.1/tickets/redeem"
BED_TYPE = "application/vnd.corvane.bed"
MAX_BODY = 1 << 20
IO_TIMEOUT = 10
LINGER = 2


class Cloud:
    """What the handlers share: the script, the counts and the record."""

    def __init__(self, args):
        self.folder = args.dir
        self.plain = args.plain
        self.max_requests = args.max_requests
        self.lock = threading.Lock()
        self.routes = {}
        self.taken = {}
        self.count = 0
        self.done = threading.Event()
        self.context = None
        self.base = ""
        if args.script:
            with open(args.script, encoding="utf-8") as f:
                script = json.load(f)
            self.routes = script.get("routes", {})
        self.record = open(args.record, "a", encoding="utf-8") if args.record else None

    def tls_context(self):
        # The chain is written once the port is known, so it is read at the
        # first connection, not at start.
        with self.lock:
            if self.context is None:
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                context.minimum_version = ssl.TLSVersion.TLSv1_2
                context.maximum_version = ssl.TLSVersion.TLSv1_2
                context.load_cert_chain(os.path.join(self.folder, "server-chain.pem"),
                                        os.path.join(self.folder, "server.key"))
                self.context = context
            return self.context

    def admit(self):
        """True when this request is within the bound."""
        with self.lock:
            if self.count >= self.max_requests:
                return False
            self.count += 1
            return True

    def next_answer(self, key):
        with self.lock:
            answers = self.routes.get(key)
            if not answers:
                return None
            i = self.taken.get(key, 0)
            self.taken[key] = i + 1
            return answers[min(i, len(answers) - 1)]

    def log(self, entry):
        if self.record is None:
            return
        with self.lock:
            self.record.write(json.dumps(entry) + "\n")
            self.record.flush()

    def finished_one(self):
        with self.lock:
            if self.count >= self.max_requests:
                self.done.set()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "MockCloud/1"
    sys_version = ""

    def setup(self):
        self.request.settimeout(IO_TIMEOUT)
        cloud = self.server.cloud
        if not cloud.plain:
            try:
                self.request = cloud.tls_context().wrap_socket(self.request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                print("TLS handshake failed: %s" % e, file=sys.stderr)
                raise
        super().setup()

    def finish(self):
        super().finish()
        # A lingering close: the client may still have bytes in flight (an
        # empty TLS record after its request, say), and closing over unread
        # input resets the connection, which can destroy the answer before
        # the client has read it.  So the TLS session is ended properly and
        # the input drained until the client closes.
        sock = self.request
        try:
            sock.settimeout(LINGER)
            if not self.server.cloud.plain:
                sock = sock.unwrap()
            sock.shutdown(socket.SHUT_WR)
            while sock.recv(4096):
                pass
        except (OSError, ValueError):
            pass
        finally:
            sock.close()
            self.request.close()

    def log_message(self, fmt, *args):
        print(fmt % args, file=sys.stderr)

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    def do_PUT(self):
        self.serve()

    def do_DELETE(self):
        self.serve()

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        n = int(length)
        if n < 0 or n > MAX_BODY:
            raise ValueError("request body of %d bytes" % n)
        return self.rfile.read(n)

    def record(self, body, status):
        self.server.cloud.log({
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": base64.b64encode(body).decode("ascii"),
            "status": status,
        })

    def serve(self):
        cloud = self.server.cloud
        # Requests past the bound, and bodies too large to read, are
        # recorded with status 0 and the connection is closed unanswered.
        if not cloud.admit():
            self.record(b"", 0)
            self.close_connection = True
            return
        try:
            body = self.read_body()
        except ValueError:
            self.record(b"", 0)
            self.close_connection = True
            cloud.finished_one()
            return
        answer = self.answer(body)
        status = int(answer.get("status", 200))
        self.record(body, status)
        delay = float(answer.get("delay", 0))
        if delay > 0:
            time.sleep(delay)
        self.send(status, answer)
        cloud.finished_one()

    def answer(self, body):
        cloud = self.server.cloud
        scripted = cloud.next_answer("%s %s" % (self.command, self.path))
        if scripted is not None:
            return scripted
        if self.command == "POST" and self.path.endswith(REDEEM_SUFFIX):
            return redeem(body)
        if self.command == "GET":
            path = os.path.normpath(os.path.join(cloud.folder, "www", self.path.lstrip("/")))
            if path.startswith(os.path.join(cloud.folder, "www") + os.sep) and os.path.isfile(path):
                return {"status": 200, "file": os.path.relpath(path, cloud.folder), "contentType": BED_TYPE}
        return {"status": 404, "body": "not found", "contentType": "text/plain"}

    def send(self, status, answer):
        cloud = self.server.cloud
        content_type = answer.get("contentType")
        if "json" in answer:
            data = json.dumps(answer["json"]).encode("utf-8")
            content_type = content_type or "application/json"
        elif "file" in answer:
            with open(os.path.join(cloud.folder, answer["file"]), "rb") as f:
                data = f.read()
        else:
            data = answer.get("body", "").replace("{base}", cloud.base).encode("utf-8")
        headers = answer.get("headers", [])
        if isinstance(headers, dict):
            headers = list(headers.items())
        names = {name.lower() for name, _ in headers}
        self.send_response_only(status)
        if "date" not in names:
            self.send_header("Date", email.utils.formatdate(usegmt=True))
        if content_type and "content-type" not in names:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, str(value).replace("{base}", cloud.base))
        self.send_header("Content-Length", str(len(data)))
        if answer.get("close"):
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)
        self.wfile.flush()


def redeem(body):
    try:
        request = json.loads(body.decode("utf-8"))
        ticket = request["ticket"]
        if not isinstance(ticket, str):
            raise TypeError("ticket")
    except (ValueError, KeyError, TypeError):
        return {"status": 400, "json": {"errors": [{"code": "InvalidTicket", "field": "ticket"}]}}
    return {"status": 200, "json": {"type": "server-join", "value": "join-token:" + ticket}}


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        print("request from %s failed: %s" % (client_address, sys.exc_info()[1]), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description="A mock of the cloud for tests.")
    parser.add_argument("--dir", required=True)
    parser.add_argument("--script")
    parser.add_argument("--record")
    parser.add_argument("--plain", action="store_true", help="plain HTTP instead of HTTPS")
    parser.add_argument("--max-requests", type=int, default=200)
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()

    cloud = Cloud(args)
    server = Server(("127.0.0.1", 0), Handler)
    server.cloud = cloud
    server.timeout = 0.1
    port = server.server_address[1]
    cloud.base = "%s://127.0.0.1:%d" % ("http" if args.plain else "https", port)
    print("PORT %d" % port, flush=True)

    deadline = time.monotonic() + args.lifetime
    while not cloud.done.is_set() and time.monotonic() < deadline:
        server.handle_request()
    server.server_close()
    # The last answer is written before its request counts as done; other
    # connections may still be open, and end with the process.
    return 0


if __name__ == "__main__":
    sys.exit(main())
