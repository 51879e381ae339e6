#!/usr/bin/env python3
"""Downloads a 1 GiB file over plain HTTP from a local server with the
program's client (build/plain/bench/http_download) and with curl, in the
same run, and reports each one's throughput and peak memory.

Targets: the client reaches at least 0.95 x curl's rate, and its peak
memory stays near the body size plus a bounded overhead (the body is
collected in one buffer sized once from Content-Length).

curl writes to /dev/null and never touches new memory; the client must
fill a buffer of the body's size.  Where first touches of memory are dear
(a virtual machine that maps guest memory on demand), that alone can cost
more than the transfer.  For context the same run times a bare reader
(build/plain/bench/plain_download: one blocking socket, no parsing beyond
the head) twice: storing the body in one buffer of its size, as the client
must, and discarding it into a reused 16 KiB buffer, as curl does.  The
gap between those two is the cost of the fresh memory alone.

Usage: bench/http_download.py [build_dir] [size_mib]
"""
import os
import subprocess
import sys
import tempfile

from download_support import free_port, measure, wait_listening

MIB = 1024 * 1024


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "plain")
    size = (int(sys.argv[2]) if len(sys.argv) > 2 else 1024) * MIB
    client = os.path.join(build, "bench", "http_download")
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "body.bin"), "wb") as f:
            f.truncate(size)  # sparse: the server reads zeros
        port = free_port()
        server = subprocess.Popen(
            [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", folder, str(port)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_listening(port):
                sys.exit("the HTTP server did not start")
            url = "http://127.0.0.1:%d/body.bin" % port
            ours_s, ours_mib, out = measure([client, url, str(min(size, 2**31 - 1))])
            if int(out.split()[0]) != size:
                sys.exit("client got %s bytes, wanted %d" % (out.split()[0], size))
            curl_s, curl_mib, _ = measure(["curl", "-s", "-o", "/dev/null", url])
            bare = os.path.join(build, "bench", "plain_download")
            store_s, store_mib, _ = measure([bare, "127.0.0.1", str(port), "/body.bin", "store"])
            discard_s, discard_mib, _ = measure([bare, "127.0.0.1", str(port), "/body.bin"])
        finally:
            server.terminate()
            server.wait(timeout=10)
    ours_rate = size / MIB / ours_s
    curl_rate = size / MIB / curl_s
    print("%-14s %8.1f MiB/s  peak %8.1f MiB" % ("ours", ours_rate, ours_mib))
    print("%-14s %8.1f MiB/s  peak %8.1f MiB" % ("curl", curl_rate, curl_mib))
    print("%-14s %8.1f MiB/s  peak %8.1f MiB  (context)" % ("bare, stores", size / MIB / store_s, store_mib))
    print("%-14s %8.1f MiB/s  peak %8.1f MiB  (context)" % ("bare, discards", size / MIB / discard_s, discard_mib))
    ratio = ours_rate / curl_rate
    print("ratio to the bare reader that stores the body too: %.3f" % (store_s / ours_s))
    overhead = ours_mib - size / MIB
    print("throughput ratio %.3f (target >= 0.95): %s" % (ratio, "met" if ratio >= 0.95 else "MISSED"))
    print("memory beyond the body %.1f MiB (target: bounded, about 64 MiB): %s"
          % (overhead, "met" if overhead <= 64 else "MISSED"))


if __name__ == "__main__":
    main()
