#!/usr/bin/env python3
"""password-check-test.py <password_check>

The checker against settings files whose Password record Python's own
PBKDF2 made (the "P2a" record: tag, rounds, salt, PBKDF2-HMAC-SHA-512).
"""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = sys.argv[1]
del sys.argv[1]


def record(password, rounds=1000, salt=bytes(range(16))):
    key = hashlib.pbkdf2_hmac("sha512", password.encode("utf-8"), salt, rounds, 64)
    return (b"P2a" + rounds.to_bytes(4, "big") + salt + key).hex()


class PasswordCheckTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def settings(self, text):
        path = os.path.join(self.dir.name, "yarlserver")
        with open(path, "w") as f:
            f.write(text)
        return path

    def check(self, args, password):
        return subprocess.run([CHECK] + args, input=password, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=30)

    def test_answers_whether_the_stored_password_accepts(self):
        path = self.settings("Authentication=VncAuth\nPassword=%s\nEnableAnalytics=1\n" % record("Lime-Oak-Sun-Bay"))
        cases = [
            ("Lime-Oak-Sun-Bay\n", 0),
            ("Lime-Oak-Sun-Bay", 0),
            ("Lime-Oak-Sun-Ba\n", 1),
            ("lime-oak-sun-bay\n", 1),
            ("\n", 1),
        ]
        for password, status in cases:
            with self.subTest(password=password):
                self.assertEqual(self.check([path], password).returncode, status)

    def test_a_file_without_a_password_or_with_a_bad_one_refuses(self):
        for text in ("Authentication=VncAuth\n", "Password=xyz\n"):
            with self.subTest(text=text):
                done = self.check([self.settings(text)], "secret\n")
                self.assertEqual(done.returncode, 1)
                self.assertIn("password_check:", done.stderr)

    def test_usage_and_unreadable_files_are_failures_of_their_own(self):
        self.assertEqual(self.check([], "secret\n").returncode, 2)
        self.assertEqual(self.check([os.path.join(self.dir.name, "missing")], "secret\n").returncode, 2)
        self.assertEqual(self.check([self.settings("Password=%s\n" % record("secret"))], "").returncode, 2)


if __name__ == "__main__":
    unittest.main()
