#!/usr/bin/env python3
"""Downloads a 1 GiB body over HTTPS from `openssl s_server -HTTP` on
127.0.0.1 with one cipher suite and TLS 1.2, in the same run:

  ours       the program's client (build/plain/bench/http_download with the
             test CA), which stores the body in one buffer;
  reference  a bare mbedtls 2.28 client loop (bench/mbedtls_download), the
             same TLS library, same suite and server, decrypting straight
             into one buffer of the body's size: the same job;
  discard    the same loop decrypting into one reused 16 KiB buffer, for
             context: the difference is the cost of filling new memory,
             which is dear where first touches of memory are (a virtual
             machine that maps guest memory on demand);
  curl       for context only: it decrypts with OpenSSL, whose AES-GCM is
             several times faster than mbedtls's, so it measures the
             library rather than our code.

Target: ours >= 0.9 x the reference.

The server presents the ssl tests' PKI (good.pem with inter.pem; the client
trusts root.pem).  s_server -HTTP answers with a file whose bytes are the
whole response, so the file is a head with Content-Length and a sparse body.

Usage: bench/https_download.py [build_dir] [size_mib] [openssl_suite mbedtls_suite]
"""
import os
import subprocess
import sys
import tempfile

from download_support import free_port, measure, wait_listening

MIB = 1024 * 1024
SUITE = ("ECDHE-RSA-AES128-GCM-SHA256", "TLS-ECDHE-RSA-WITH-AES-128-GCM-SHA256")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "plain")
    size = (int(sys.argv[2]) if len(sys.argv) > 2 else 1024) * MIB
    suite = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else SUITE
    pki = os.path.join(root, "qocore", "libs", "ssl", "tests", "data")
    ca = os.path.join(pki, "root.pem")
    ours_bin = os.path.join(build, "bench", "http_download")
    ref_bin = os.path.join(build, "bench", "mbedtls_download")
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "body.http"), "wb") as f:
            head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % size
            f.write(head)
            f.truncate(len(head) + size)  # sparse: the server reads zeros
        port = free_port()
        server = subprocess.Popen(
            ["openssl", "s_server", "-quiet", "-HTTP", "-accept", "127.0.0.1:%d" % port, "-tls1_2",
             "-cipher", suite[0], "-cert", os.path.join(pki, "good.pem"), "-key", os.path.join(pki, "good.key"),
             "-cert_chain", os.path.join(pki, "inter.pem")],
            cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_listening(port):
                sys.exit("openssl s_server did not start")
            url = "https://127.0.0.1:%d/body.http" % port
            ours_s, ours_mib, out = measure([ours_bin, url, str(min(size, 2**31 - 1)), ca])
            if int(out.split()[0]) != size:
                sys.exit("client got %s bytes, wanted %d" % (out.split()[0], size))
            ref_s, ref_mib, out = measure([ref_bin, "127.0.0.1", str(port), "/body.http", ca, suite[1], "store"])
            if int(out.split()[0]) != size:
                sys.exit("reference got %s bytes, wanted %d" % (out.split()[0], size))
            discard_s, discard_mib, _ = measure([ref_bin, "127.0.0.1", str(port), "/body.http", ca, suite[1]])
            curl_s, curl_mib, _ = measure(["curl", "-s", "-o", "/dev/null", "--cacert", ca, url])
        finally:
            server.kill()
            server.wait(timeout=10)
    rate = lambda s: size / MIB / s  # noqa: E731
    print("suite %s, body %d MiB" % (suite[1], size // MIB))
    print("%-10s %8.1f MiB/s  peak %8.1f MiB" % ("ours", rate(ours_s), ours_mib))
    print("%-10s %8.1f MiB/s  peak %8.1f MiB" % ("reference", rate(ref_s), ref_mib))
    print("%-10s %8.1f MiB/s  peak %8.1f MiB  (context only)" % ("discard", rate(discard_s), discard_mib))
    print("%-10s %8.1f MiB/s  peak %8.1f MiB  (context only)" % ("curl", rate(curl_s), curl_mib))
    ratio = ref_s / ours_s
    print("ratio against the reference %.3f (target >= 0.9): %s" % (ratio, "met" if ratio >= 0.9 else "MISSED"))


if __name__ == "__main__":
    main()
