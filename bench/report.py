#!/usr/bin/env python3
"""The figures of one scripts/bench run: printed, and written into bench/README.md.

Reads what scripts/bench left in RESULTS:
- <program>.json: Google Benchmark's output; benchmarks named "<pair>/ours" and
  "<pair>/peer" (an argument may follow) are paired by the rest of the name and
  compared by the median of their repetitions (CPU time);
- <program>.time: /usr/bin/time -v of that program (its peak RSS);
- startup_ours.txt, startup_peer.txt: "run N: T ms" lines of the start-up
  comparison (the median is taken);
- network.json: the rows of bench/network_bench.py (wall time medians, RSS).

Prints one table of every pair with the ratio ours/peer (below 1: ours is
faster). With --readme FILE, replaces the part of FILE between the two marker
lines below with the same figures as Markdown, the machine they ran on and the
command, leaving the rest of FILE as it is. Exits 1 when a program reported an
error or wrote nothing usable.
"""
import argparse
import datetime
import json
import os
import platform
import re
import subprocess
import sys

BEGIN = "<!-- figures: written by scripts/bench, do not edit by hand -->"
END = "<!-- end of figures -->"
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

# What each side of a pair is, for the published table. A pair missing here is
# still reported, under its benchmark name.
PAIRS = {
    "hash_table_add/100000": ("VoidPointerHashTable, 100,000 adds", "std::unordered_map emplace"),
    "hash_table_add/100": ("VoidPointerHashTable, 100 adds", "std::unordered_map emplace"),
    "hash_table_find/100000": ("VoidPointerHashTable, 100,000 finds", "std::unordered_map find"),
    "hash_table_find/100": ("VoidPointerHashTable, 100 finds", "std::unordered_map find"),
    "text_build_path": ("bounded_text, a path of 4 parts", "std::string, the same appends"),
    "text_fill_short_appends": ("bounded_text, 1,000 short appends",
                                "std::string, the same appends"),
    "paint_background": ("the 480x300 background blended (DrawBitmapUseAlpha)",
                         "memcpy of the same 576,000 bytes"),
    "http_body_length": ("64 MiB body with Content-Length through the client reader",
                         "memcpy of the same 8192-byte blocks"),
    "http_body_chunked": ("the same body chunked", "memcpy of the same blocks"),
    "http_request_head": ("a 375-byte request head through the server reader",
                          "a memchr line split (a floor, not a parser)"),
    "manifest_load": ("load_file, 100,000 entries", "getline + sscanf + unordered_map"),
    "manifest_prune": ("prune_missing, 100,000 entries", "one stat per prepared path"),
    "manifest_save": ("save_file, 100,000 entries", "fprintf to a stream, fsync, rename"),
    "start-up to window": ("the launcher, start to mapped window",
                           "a minimal wxWidgets frame (bench/minimal_frame.cpp)"),
    "download 512 MiB": ("virelan_bench_download from nginx to disk", "curl -s -o"),
    "list of 1M entries": ("virelan_bench_fetch_list: fetch, inflate, parse",
                           "curl -s URL | gzip -dc > /dev/null"),
    "serve 512 MiB to curl": ("virelan-update-server, fetched by curl -o",
                              "nginx, fetched by curl -o"),
}


def readable_ns(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


class Figures:
    def __init__(self):
        self.rows = []  # (pair, ours text, peer text, ratio or None, how measured)
        self.rss = []  # (what, MiB)
        self.failed = False

    def add(self, pair, ours, peer, ratio, how):
        self.rows.append((pair, ours, peer, ratio, how))


def read_micro(figures, results, programs, repetitions):
    for program in programs:
        path = os.path.join(results, program + ".json")
        if os.path.exists(path) and os.path.getsize(path) == 0:
            continue  # a filter left this program nothing to run
        try:
            with open(path) as f:
                runs = json.load(f)["benchmarks"]
        except (OSError, ValueError, KeyError) as error:
            print(f"bench/report.py: {program} wrote no usable results ({error})",
                  file=sys.stderr)
            figures.failed = True
            continue
        for run in runs:
            if run.get("error_occurred"):
                print(f"{program}: {run['name']}: {run.get('error_message', 'error')}",
                      file=sys.stderr)
                figures.failed = True
        medians = [r for r in runs if r.get("aggregate_name") == "median"]
        if not medians:  # a single repetition has no aggregates
            medians = [r for r in runs if r.get("run_type") == "iteration"]
        pairs, order = {}, []
        for run in medians:
            parts = run["run_name"].split("/")
            side = next((p for p in parts if p in ("ours", "peer")), None)
            if side is None:
                continue
            pair = "/".join(p for p in parts if p != side)
            if pair not in pairs:
                pairs[pair] = {}
                order.append(pair)
            pairs[pair][side] = run["cpu_time"] * TO_NS[run["time_unit"]]
        how = f"CPU time, median of {repetitions}"
        for pair in order:
            ours, peer = pairs[pair].get("ours"), pairs[pair].get("peer")
            figures.add(pair, readable_ns(ours) if ours is not None else "-",
                        readable_ns(peer) if peer is not None else "-",
                        ours / peer if ours is not None and peer else None, how)
        time_path = os.path.join(results, program + ".time")
        if os.path.exists(time_path):
            with open(time_path) as f:
                match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
            if match:
                figures.rss.append((program, int(match.group(1)) / 1024))


def read_startup(figures, results):
    def median(name):
        path = os.path.join(results, name)
        if not os.path.exists(path):
            return None, 0
        times = sorted(float(line.split()[2]) for line in open(path) if line.startswith("run"))
        return (times[len(times) // 2] if times else None), len(times)

    (ours, count), (peer, _) = median("startup_ours.txt"), median("startup_peer.txt")
    if ours is not None and peer:
        figures.add("start-up to window", f"{ours:.1f} ms", f"{peer:.1f} ms", ours / peer,
                    f"wall time, median of {count} starts under Xvfb")


def read_network(figures, results):
    path = os.path.join(results, "network.json")
    if not os.path.exists(path):
        return
    with open(path) as f:
        rows = json.load(f)
    for row in rows:
        ours, peer = row["ours_s"], row["peer_s"]
        how = (f"wall time, median of {row['runs']} alternating runs; peak RSS"
               f" {row['ours_rss_mb']:.1f} MB against {row['peer_rss_mb']:.1f} MB")
        if row.get("rss_of"):
            how += f" (of {row['rss_of']} on both sides)"
        if "entries_own_mb" in row:
            how += f" (the entries themselves: {row['entries_own_mb']:.1f} MB)"
        figures.add(row["pair"], f"{ours:.2f} s", f"{peer:.2f} s", ours / peer if peer else None,
                    how)


def print_table(figures):
    width = max(len("pair"), *(len(r[0]) for r in figures.rows))
    print(f"{'pair':<{width}}  {'ours':>10}  {'peer':>10}  {'ours/peer':>9}")
    for pair, ours, peer, ratio, _ in figures.rows:
        text = f"{ratio:.2f}" if ratio is not None else "-"
        print(f"{pair:<{width}}  {ours:>10}  {peer:>10}  {text:>9}")
    for program, mib in figures.rss:
        print(f"{program}: peak RSS {mib:.1f} MiB")


def command_output(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout
    except OSError:
        return ""


def machine_line():
    cpu = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            match = re.search(r"^model name\s*:\s*(.+)$", f.read(), re.M)
            if match:
                cpu = match.group(1).strip()
    except OSError:
        pass
    system = platform.system()
    try:
        with open("/etc/os-release") as f:
            match = re.search(r'^PRETTY_NAME="?([^"\n]+)', f.read(), re.M)
            if match:
                system = match.group(1)
    except OSError:
        pass
    compiler = command_output(["c++", "--version"]).splitlines()
    load = os.getloadavg()[0]
    return (f"{cpu}, {os.cpu_count()} cores, {system}, "
            f"{compiler[0] if compiler else 'unknown compiler'}, Release (-O3); "
            f"load average {load:.1f} at the end of the run")


def cell(text):
    """A Markdown table cell: a "|" of its own would end the cell."""
    return text.replace("|", "\\|")


def markdown(figures, command, results):
    newest = max(os.path.getmtime(os.path.join(results, name)) for name in os.listdir(results))
    when = datetime.datetime.fromtimestamp(newest, datetime.timezone.utc).strftime(
        "%Y-%m-%d %H:%M UTC")
    lines = [BEGIN, "",
             f"Measured {when} with `{command}`.", "",
             f"Machine: {machine_line()}.", "",
             "| pair | ours | peer | ours' time | peer's time | ours/peer | measured as |",
             "| --- | --- | --- | ---: | ---: | ---: | --- |"]
    for pair, ours, peer, ratio, how in figures.rows:
        what_ours, what_peer = PAIRS.get(pair, (pair + "/ours", pair + "/peer"))
        ratio_text = f"{ratio:.2f}" if ratio is not None else "-"
        lines.append(f"| `{pair}` | {cell(what_ours)} | {cell(what_peer)} | {ours} | {peer} | "
                     f"{ratio_text} | {cell(how)} |")
    if figures.rss:
        lines.append("")
        lines.append("Peak RSS of the micro-benchmark programs: " + ", ".join(
            f"`{program}` {mib:.1f} MiB" for program, mib in figures.rss) + ".")
    lines += ["", END]
    return "\n".join(lines)


def write_readme(path, text):
    with open(path) as f:
        old = f.read()
    start, end = old.find(BEGIN), old.find(END)
    if start < 0 or end < start:
        sys.exit(f"bench/report.py: {path} has no figures markers ({BEGIN} ... {END})")
    new = old[:start] + text + old[end + len(END):]
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        f.write(new)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--results", required=True)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--readme", help="write the figures into this file")
    parser.add_argument("--command", default="scripts/bench",
                        help="the command to name in the written figures")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()

    figures = Figures()
    read_micro(figures, args.results, args.programs, args.repetitions)
    read_startup(figures, args.results)
    read_network(figures, args.results)
    if not figures.rows:
        sys.exit("bench/report.py: no benchmark results")
    print_table(figures)
    if args.readme and not figures.failed:
        write_readme(args.readme, markdown(figures, args.command, args.results))
        print(f"(written into {args.readme})")
    return 1 if figures.failed else 0


if __name__ == "__main__":
    sys.exit(main())
