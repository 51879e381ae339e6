#!/usr/bin/env python3
"""Prints the speed targets as a table of measured ratio against target.

    bench_table.py <results.json> ...

Each argument is a Google Benchmark JSON file (--benchmark_out). Every row
pairs one of our benchmarks with its reference measured in the same run and
reads the median where repetitions were run. A ratio is how many times the
reference's time ours is faster ("2.0x" = ours takes half the time); a row
passes when the ratio reaches its target. A Bound row's target is a time
instead: ours passes under it, and the ratio to the reference is printed
beside it for context. Rows whose benchmarks were not run are shown as
"not run". Exits 1 when any row that was run misses its target, so a script
can stop on it.
"""

import collections
import json
import sys

# A row whose target is an absolute bound: our wall-clock time must stay
# under limit_ms.  The reference (say, a C hello world's start) is measured
# in the same run and shown beside it, as how many times its time ours takes.
Bound = collections.namedtuple("Bound", "label ours reference limit_ms")

# (what is measured, our benchmark, the reference, target ratio).  A target
# compares times: reference time / our time >= target.
ROWS = [
    ("JSON 4 MB objects vs RapidJSON", "BM_Json_Objects4MB_Ours", "BM_Json_Objects4MB_RapidJson", 0.6),
    ("JSON 4 MB objects vs nlohmann", "BM_Json_Objects4MB_Ours", "BM_Json_Objects4MB_Nlohmann", 2.5),
    ("JSON 12 MB mixed vs RapidJSON", "BM_Json_Mixed12MB_Ours", "BM_Json_Mixed12MB_RapidJson", 0.6),
    ("JSON 12 MB mixed vs nlohmann", "BM_Json_Mixed12MB_Ours", "BM_Json_Mixed12MB_Nlohmann", 2.5),
    ("JSON 10 MB numeric vs RapidJSON", "BM_Json_Numeric10MB_Ours", "BM_Json_Numeric10MB_RapidJson", 0.6),
    ("JSON 10 MB numeric vs nlohmann", "BM_Json_Numeric10MB_Ours", "BM_Json_Numeric10MB_Nlohmann", 2.5),
    ("JSON 20 MB deep vs RapidJSON", "BM_Json_Deep20MB_Ours", "BM_Json_Deep20MB_RapidJson", 0.6),
    ("JSON 20 MB deep vs nlohmann", "BM_Json_Deep20MB_Ours", "BM_Json_Deep20MB_Nlohmann", 2.5),
    # Tree memory: the resident bytes a parsed tree takes per input byte.
    # Less is better, so the ratio reads RapidJSON's bytes / ours, and 0.5
    # means ours takes at most twice RapidJSON's.
    ("JSON 4 MB objects tree memory vs RapidJSON", "BM_Json_Objects4MB_Ours", "BM_Json_Objects4MB_RapidJson", 0.5,
     "tree_bytes_per_byte"),
    ("JSON 12 MB mixed tree memory vs RapidJSON", "BM_Json_Mixed12MB_Ours", "BM_Json_Mixed12MB_RapidJson", 0.5,
     "tree_bytes_per_byte"),
    ("JSON 10 MB numeric tree memory vs RapidJSON", "BM_Json_Numeric10MB_Ours", "BM_Json_Numeric10MB_RapidJson", 0.5,
     "tree_bytes_per_byte"),
    ("JSON 20 MB deep tree memory vs RapidJSON", "BM_Json_Deep20MB_Ours", "BM_Json_Deep20MB_RapidJson", 0.5,
     "tree_bytes_per_byte"),
    ("XML 6 MB nested vs pugixml", "BM_Xml_Nested6MB_Ours", "BM_Xml_Nested6MB_Pugixml", 0.5),
    ("XML 8 MB deep vs pugixml", "BM_Xml_Deep8MB_Ours", "BM_Xml_Deep8MB_Pugixml", 0.5),
    ("XML write 6 MB nested formatted vs pugixml", "BM_XmlWrite_Nested6MBFormatted_Ours",
     "BM_XmlWrite_Nested6MBFormatted_Pugixml", 0.5),
    ("XML write 6 MB nested raw vs pugixml", "BM_XmlWrite_Nested6MBRaw_Ours", "BM_XmlWrite_Nested6MBRaw_Pugixml", 0.5),
    ("XML write 8 MB deep raw vs pugixml", "BM_XmlWrite_Deep8MBRaw_Ours", "BM_XmlWrite_Deep8MBRaw_Pugixml", 0.5),
    ("regex literal vs std::regex", "BM_Regex_Literal_Ours", "BM_Regex_Literal_StdRegex", 1.0),
    ("regex ipv4:port vs std::regex", "BM_Regex_Ipv4Port_Ours", "BM_Regex_Ipv4Port_StdRegex", 1.0),
    ("regex alternation vs std::regex", "BM_Regex_Alternation_Ours", "BM_Regex_Alternation_StdRegex", 1.0),
    ("regex e-mail vs std::regex", "BM_Regex_Email_Ours", "BM_Regex_Email_StdRegex", 1.0),
    # Per timer: 10,000 timers may cost at most twice what 10 cost.
    ("10,000 timers per timer vs 10", "BM_Timers_Ours/10000", "BM_Timers_Ours/10", 0.5, "per_timer"),
    ("buffered copy, 8-byte items vs memcpy", "BM_Copy_BufferedStream/item:8", "BM_Copy_Memcpy/item:8", 0.5),
    ("buffered copy, 256-byte items vs memcpy", "BM_Copy_BufferedStream/item:256", "BM_Copy_Memcpy/item:256", 0.5),
    ("buffered copy, 64 KiB items vs memcpy", "BM_Copy_BufferedStream/item:65536", "BM_Copy_Memcpy/item:65536", 0.5),
    # A line to the log file may take at most 1.2 times the same line
    # written by hand.
    ("log line to a file vs snprintf+fwrite+fflush", "BM_Log_LineToFile_Ours", "BM_Log_LineToFile_SnprintfFwrite",
     1 / 1.2),
    ("1 KiB chunks through the memory pipe vs 2 memcpys", "BM_Chunk_MemIoStream/chunk:1024",
     "BM_Chunk_MemcpyTwice/chunk:1024", 0.9),
    ("1 KiB chunks, buffered output vs 2 memcpys", "BM_Chunk_BufferedOutStream/chunk:1024",
     "BM_Chunk_MemcpyTwice/chunk:1024", 0.9),
    ("1080p equal-format copy vs pixman", "BM_Pixel_CopyEqual_Ours", "BM_Pixel_CopyEqual_Pixman", 0.5),
    ("1080p argb8888 OVER vs pixman", "BM_Pixel_Over_Ours", "BM_Pixel_Over_Pixman", 0.2),
    ("1080p rgb888 to rgb565 vs pixman", "BM_Pixel_To565_Ours", "BM_Pixel_To565_Pixman", 0.2),
    ("1080p rgb565 to rgb888 vs pixman", "BM_Pixel_From565_Ours", "BM_Pixel_From565_Pixman", 0.2),
    ("1080p rgb888 to bgr888 vs pixman", "BM_Pixel_SwapRB_Ours", "BM_Pixel_SwapRB_Pixman", 0.2),
    ("4096x4096 PNG decode vs libpng", "BM_Png_Decode4096_Ours", "BM_Png_Decode4096_Libpng", 0.8),
    ("4096x4096 argb scaled to 25% vs pixman", "BM_Scale_Quarter4096_Ours", "BM_Scale_Quarter4096_Pixman", 1.0),
    # bench/setup_start.py: from exec until the wizard's initial page is shown.
    Bound("start to the wizard's page vs C hello world", "BM_Start_WizardShown_Ours",
          "BM_Start_WizardShown_CHelloWorld", 50.0),
    # CPU time of one handshake over the system store (a CA bundle of the
    # machine's roots) against a bare client with its CA chain parsed once.
    ("TLS handshake, system store vs bare mbedtls", "BM_Tls_Handshake_Ours", "BM_Tls_Handshake_MbedTls", 0.8),
]


def load(paths):
    """Maps each benchmark's run name to its median (or only) entry."""
    found = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        for b in data.get("benchmarks", []):
            name = b.get("run_name", b["name"])
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    found[name] = b
            else:
                found.setdefault(name, b)
    return found


def value(entry, counter):
    """The entry's time in nanoseconds, or the named counter."""
    if counter:
        return float(entry[counter])
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry.get("time_unit", "ns")]
    return float(entry["cpu_time"]) * scale


def milliseconds(entry):
    """The entry's wall-clock time in milliseconds."""
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[entry.get("time_unit", "ns")]
    return float(entry["real_time"]) * scale


def bound_line(row, results, width):
    """The line of a Bound row and whether it passes (None: not run)."""
    if row.ours not in results or row.reference not in results:
        return f"{row.label:<{width}}  {'-':>8}  {'<' + format(row.limit_ms, 'g') + 'ms':>7}  not run", None
    ours = milliseconds(results[row.ours])
    reference = milliseconds(results[row.reference])
    ok = ours < row.limit_ms
    times = ours / reference if reference > 0 else float("inf")
    return (f"{row.label:<{width}}  {ours:>6.1f}ms  {'<' + format(row.limit_ms, 'g') + 'ms':>7}  "
            f"{'met' if ok else 'MISSED'} ({times:.1f}x the reference's {reference:.1f} ms)"), ok


def main(paths):
    results = load(paths)
    width = max(len(r[0]) for r in ROWS)
    print(f"{'row':<{width}}  {'ratio':>8}  {'target':>7}  verdict")
    missed = False
    for row in ROWS:
        if isinstance(row, Bound):
            line, ok = bound_line(row, results, width)
            print(line)
            missed |= ok is False
            continue
        label, ours, ref, target = row[:4]
        counter = row[4] if len(row) > 4 else None
        if ours not in results or ref not in results:
            print(f"{label:<{width}}  {'-':>8}  {target:>6.2f}x  not run")
            continue
        ratio = value(results[ref], counter) / value(results[ours], counter)
        ok = ratio >= target
        missed |= not ok
        print(f"{label:<{width}}  {ratio:>7.2f}x  {target:>6.2f}x  {'met' if ok else 'MISSED'}")
    return 1 if missed else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
