#!/usr/bin/env python3
"""mock-cloud-test.py <cloud_fixture> <MockCloud.py> <test PKI folder>

The mock cloud on its own, through Python's HTTPS client: TLS 1.2 with a
chain the test package's root verifies for 127.0.0.1, the signed documents
the fixture tool wrote, scripted answers (a delayed one among them), the ticket redemption, the
headers every answer carries, the record, and the bound on requests.
"""

import base64
import http.client
import json
import os
import select
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

TOOL, MOCK, PKI = sys.argv[1:4]
del sys.argv[1:4]


class Mock:
    def __init__(self, folder, script, max_requests, plain=False):
        self.folder = folder
        self.connections = []
        with open(os.path.join(folder, "script.json"), "w") as f:
            json.dump(script, f)
        args = [sys.executable, MOCK, "--dir", folder, "--script", os.path.join(folder, "script.json"),
                "--record", os.path.join(folder, "record.jsonl"), "--max-requests", str(max_requests),
                "--lifetime", "20"]
        if plain:
            args.append("--plain")
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        assert line.startswith("PORT "), line
        self.port = int(line.split()[1])
        env = dict(os.environ, YARL_TEST_PKI=PKI)
        subprocess.run([TOOL, "mock-cloud", folder, str(self.port)] + (["plain"] if plain else []), env=env,
                       check=True)

    def connection(self, context=None):
        context = context or ssl.create_default_context(cafile=os.path.join(PKI, "root.pem"))
        conn = http.client.HTTPSConnection("127.0.0.1", self.port, context=context, timeout=10)
        self.connections.append(conn)
        return conn

    def record(self):
        with open(os.path.join(self.folder, "record.jsonl")) as f:
            return [json.loads(line) for line in f]

    def stop(self):
        for conn in self.connections:
            conn.close()
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def fetch(conn, method, path, body=None, headers=None):
    conn.request(method, path, body=body, headers=headers or {})
    response = conn.getresponse()
    return response, response.read()


class MockCloudTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def start(self, script, max_requests=20, plain=False):
        mock = Mock(self.dir.name, script, max_requests, plain)
        self.addCleanup(mock.stop)
        return mock

    def test_serves_signed_documents_over_tls12_to_a_client_trusting_the_root(self):
        mock = self.start({})
        conn = mock.connection()
        response, body = fetch(conn, "GET", "/bootstrap/1")
        self.assertEqual(conn.sock.version(), "TLSv1.2")
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/vnd.corvane.bed")
        self.assertEqual(int(response.getheader("Content-Length")), len(body))
        self.assertIsNotNone(response.getheader("Date"))
        # A map of two entries whose first key is "any/signed-data".
        self.assertEqual(body[:20].hex(), "e00104800f616e792f7369676e65642d64617461")
        self.assertIn(("https://127.0.0.1:%d/node1;https://127.0.0.1:%d/node2" % (mock.port, mock.port)).encode(),
                      body)
        response, body = fetch(conn, "GET", "/bootstrap/2")
        self.assertEqual((response.status, body, response.getheader("Content-Length")), (404, b"not found", "9"))
        # The package the program reads names the mock.
        with open(os.path.join(self.dir.name, "CloudConfig.pkg"), "rb") as f:
            package = f.read()
        self.assertIn(("https://127.0.0.1:%d/bootstrap" % mock.port).encode(), package)
        self.assertIn(b"enterprise/portal-uri", package)

    def test_a_client_without_the_root_refuses_the_mock(self):
        mock = self.start({})
        conn = mock.connection(ssl.create_default_context())
        with self.assertRaises(ssl.SSLCertVerificationError):
            fetch(conn, "GET", "/bootstrap/0")

    def test_scripted_answers_come_in_order_and_the_last_repeats(self):
        route = [
            {"status": 503, "headers": {"Retry-After": "2"}},
            {"status": 429, "headers": [["Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"]]},
            {"status": 307, "headers": {"Location": "{base}/node2/caps"}},
            {"status": 200, "json": {"items": [1]}, "headers": {"Link": '<{base}/node1/caps?page=2>; rel="next"'}},
            {"status": 402, "json": {"errors": [{"code": "ProductObsolete"}]}},
            {"status": 402, "body": "<html>pay</html>", "contentType": "text/html",
             "headers": {"Date": "Wed, 21 Oct 2015 07:28:00 GMT"}},
        ]
        mock = self.start({"routes": {"GET /node1/caps": route}})
        base = "https://127.0.0.1:%d" % mock.port
        conn = mock.connection()
        seen = []
        for _ in range(7):
            response, body = fetch(conn, "GET", "/node1/caps")
            self.assertEqual(int(response.getheader("Content-Length")), len(body))
            self.assertEqual(len(response.msg.get_all("Date")), 1)
            seen.append((response.status, body, response))
        self.assertEqual([s for s, _, _ in seen], [503, 429, 307, 200, 402, 402, 402])
        self.assertEqual(seen[0][2].getheader("Retry-After"), "2")
        # "{base}" is the mock's own address.
        self.assertEqual(seen[2][2].getheader("Location"), base + "/node2/caps")
        self.assertEqual(seen[3][2].getheader("Link"), '<%s/node1/caps?page=2>; rel="next"' % base)
        self.assertEqual(seen[3][1], b'{"items": [1]}')
        self.assertEqual(seen[4][1], b'{"errors": [{"code": "ProductObsolete"}]}')
        self.assertEqual(seen[6][1], b"<html>pay</html>")
        self.assertEqual(response.getheader("Date"), "Wed, 21 Oct 2015 07:28:00 GMT")
        self.assertEqual(response.getheader("Content-Type"), "text/html")
        self.assertEqual(len(mock.record()), 7)

    def test_a_delayed_answer_comes_after_its_delay_while_other_connections_are_served(self):
        delay = 2
        redeem = "/node1/authentication/1.1/tickets/redeem"
        mock = self.start({"routes": {"POST " + redeem: [
            {"delay": delay, "json": {"type": "server-join", "value": "join-token:late"}}]}})
        slow, quick = mock.connection(), mock.connection()
        started = time.monotonic()
        slow.request("POST", redeem, body='{"ticket": "late"}')
        # Recorded before the wait.
        deadline = started + 10
        while not mock.record() and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual([(r["path"], r["status"]) for r in mock.record()], [(redeem, 200)])
        response, _ = fetch(quick, "GET", "/bootstrap/0")
        self.assertEqual(response.status, 200)
        self.assertEqual(select.select([slow.sock], [], [], 0)[0], [])
        response = slow.getresponse()
        self.assertEqual(json.loads(response.read()), {"type": "server-join", "value": "join-token:late"})
        self.assertGreaterEqual(time.monotonic() - started, delay)

    def test_redeems_tickets_and_records_every_request(self):
        mock = self.start({"routes": {"GET /node1/caps": [
            {"status": 307, "headers": {"Location": "{base}/node2/caps"}}]}})
        conn = mock.connection()
        ticket = json.dumps({"ticket": 'a"b\\c'})
        response, body = fetch(conn, "POST", "/node2/authentication/1.1/tickets/redeem", ticket,
                               {"Content-Type": "application/json"})
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/json")
        self.assertEqual(json.loads(body), {"type": "server-join", "value": 'join-token:a"b\\c'})
        response, body = fetch(conn, "POST", "/node2/authentication/1.1/tickets/redeem", "not json")
        self.assertEqual(response.status, 400)
        response, body = fetch(conn, "GET", "/node1/caps")
        self.assertEqual(response.getheader("Location"), "https://127.0.0.1:%d/node2/caps" % mock.port)
        record = mock.record()
        self.assertEqual([(r["method"], r["path"], r["status"]) for r in record], [
            ("POST", "/node2/authentication/1.1/tickets/redeem", 200),
            ("POST", "/node2/authentication/1.1/tickets/redeem", 400),
            ("GET", "/node1/caps", 307),
        ])
        self.assertEqual(base64.b64decode(record[0]["body"]).decode(), ticket)
        self.assertIn(["Content-Type", "application/json"], record[0]["headers"])

    def test_stops_by_itself_after_its_requests(self):
        mock = self.start({}, max_requests=2)
        conn = mock.connection()
        fetch(conn, "GET", "/bootstrap/0")
        fetch(conn, "GET", "/bootstrap/0")
        self.assertEqual(mock.process.wait(timeout=10), 0)
        self.assertEqual(len(mock.record()), 2)

    def test_records_requests_it_does_not_answer(self):
        mock = self.start({}, max_requests=1)
        conn = mock.connection()
        conn.request("POST", "/big", body=b"x" * 16, headers={"Content-Length": str(2 << 20)})
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            conn.getresponse()
        self.assertEqual(mock.process.wait(timeout=10), 0)
        self.assertEqual([(r["path"], r["status"]) for r in mock.record()], [("/big", 0)])

    def test_plain_mode_speaks_http_and_names_http_addresses(self):
        mock = self.start({}, plain=True)
        conn = http.client.HTTPConnection("127.0.0.1", mock.port, timeout=10)
        mock.connections.append(conn)
        response, body = fetch(conn, "GET", "/bootstrap/0")
        self.assertEqual(response.status, 200)
        self.assertIn(("http://127.0.0.1:%d/node1" % mock.port).encode(), body)


if __name__ == "__main__":
    unittest.main()
