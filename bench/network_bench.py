#!/usr/bin/env python3
"""Network comparisons for scripts/bench, each against a public peer in the same run.

- download: one 512 MiB file from nginx over loopback to disk, our downloader
  (virelan_bench_download) against `curl -o`;
- list: a gzip list of 1,000,000 entries from nginx, fetched, inflated and parsed
  (virelan_bench_fetch_list) against `curl -s URL | gzip -dc > /dev/null`;
- server: the same 512 MiB file fetched by curl from our dev server
  (virelan-update-server) against nginx.

Each pair runs alternately RUNS times; the table gives the median wall time of
each side, their ratio ours/peer and the peak RSS (from /usr/bin/time -v) of
the process measured. Files live in a temporary directory removed at the end.
"""
import argparse
import gzip
import hashlib
import json
import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(root, work):
    port = free_port()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log off;
  client_body_temp_path {work}/body;
  proxy_temp_path {work}/proxy;
  fastcgi_temp_path {work}/fastcgi;
  uwsgi_temp_path {work}/uwsgi;
  scgi_temp_path {work}/scgi;
  sendfile on;
  default_type application/octet-stream;
  server {{ listen 127.0.0.1:{port}; root {root}; }}
}}
""")
    process = subprocess.Popen(["nginx", "-p", work, "-c", conf, "-g", "daemon off;"],
                               stderr=subprocess.DEVNULL)
    wait_for_port(port)
    return process, port


def start_dev_server(binary, root):
    process = subprocess.Popen([binary, "--root", root, "--port", "0"], stdout=subprocess.PIPE,
                               text=True)
    line = process.stdout.readline()
    port = int(line.rsplit(":", 1)[1])
    # Later request lines are not read: send them nowhere so the pipe never fills.
    return process, port


def wait_for_port(port):
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"network_bench: nothing listens on port {port}")


def timed(command, shell=False):
    """Wall seconds and peak RSS (KiB) of one run; exits on failure."""
    out = tempfile.NamedTemporaryFile(delete=False)
    out.close()
    full = ["/usr/bin/time", "-v", "-o", out.name]
    full += ["sh", "-c", command] if shell else command
    start = time.monotonic()
    result = subprocess.run(full, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            env=dict(os.environ, VIRELAN_BENCH_LOG="1"))
    wall = time.monotonic() - start
    text = open(out.name).read()
    os.unlink(out.name)
    if result.returncode != 0:
        sys.exit(f"network_bench: failed: {command}\n{result.stdout.decode(errors='replace')[-3000:]}")
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return wall, rss


def make_list(path, count):
    """A gzip list of `count` entries, newest first; returns the entries' own size in bytes."""
    rng = random.Random(1)
    own = 0
    with gzip.open(path, "wb", compresslevel=6) as f:
        batch = []
        for i in range(count, 0, -1):
            digest = hashlib.sha256(rng.getrandbits(64).to_bytes(8, "little")).hexdigest()
            name = f"data/maps/client_file_{i:07d}.pak"
            batch.append(f"{digest} {rng.randrange(1, 1 << 24)} {name}\n")
            # a record of three words and two heap strings, with malloc's rounding
            own += 32 + (len(name) + 1 + 15) // 16 * 16 + (len(digest) + 1 + 15) // 16 * 16
            if len(batch) == 10000:
                f.write("".join(batch).encode())
                batch = []
        f.write("".join(batch).encode())
    return own


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="directory of the built programs")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--file-mib", type=int, default=512)
    parser.add_argument("--list-entries", type=int, default=1000000)
    parser.add_argument("--json", help="also write the rows to this file for bench/report.py")
    args = parser.parse_args()
    for tool in ("nginx", "curl", "gzip"):
        if shutil.which(tool) is None:
            sys.exit(f"network_bench: {tool} is missing (scripts/deps installs it)")

    work = tempfile.mkdtemp(prefix="virelan-netbench-")
    # nginx's workers run as an unprivileged user: they must be able to read.
    os.chmod(work, 0o755)
    root = os.path.join(work, "root")
    os.makedirs(root)
    servers = []
    try:
        big = os.path.join(root, "big.bin")
        with open(big, "wb") as f:
            chunk = os.urandom(1 << 20)
            for _ in range(args.file_mib):
                f.write(chunk)
        own = make_list(os.path.join(root, "list.txt.gz"), args.list_entries)
        nginx, nginx_port = start_nginx(root, work)
        servers.append(nginx)
        dev, dev_port = start_dev_server(os.path.join(args.bin, "virelan-update-server"), root)
        servers.append(dev)
        target = os.path.join(work, "out.bin")

        # Row keys are what bench/report.py knows the pairs by.
        pairs = {
            "download 512 MiB (ours: downloader, peer: curl -o)": (
                lambda: timed([os.path.join(args.bin, "virelan_bench_download"), "127.0.0.1",
                               str(nginx_port), "/big.bin", target]),
                lambda: timed(["curl", "-s", "-o", target,
                               f"http://127.0.0.1:{nginx_port}/big.bin"])),
            "list of 1M entries (ours: fetch+inflate+parse, peer: curl | gzip -dc)": (
                lambda: timed([os.path.join(args.bin, "virelan_bench_fetch_list"), "127.0.0.1",
                               str(nginx_port), "/list.txt.gz"]),
                lambda: timed(f"curl -s http://127.0.0.1:{nginx_port}/list.txt.gz | "
                              "gzip -dc > /dev/null", shell=True)),
            "serve 512 MiB to curl (ours: dev server, peer: nginx)": (
                lambda: timed(["curl", "-s", "-o", target,
                               f"http://127.0.0.1:{dev_port}/big.bin"]),
                lambda: timed(["curl", "-s", "-o", target,
                               f"http://127.0.0.1:{nginx_port}/big.bin"])),
        }
        print(f"{'network pair':<72} {'ours':>8} {'peer':>8} {'ours/peer':>9} "
              f"{'ours RSS':>9} {'peer RSS':>9}")
        rows = []
        for name, (ours, peer) in pairs.items():
            results = {"ours": [], "peer": []}
            for _ in range(args.runs):
                results["ours"].append(ours())
                results["peer"].append(peer())
            o = statistics.median(w for w, _ in results["ours"])
            p = statistics.median(w for w, _ in results["peer"])
            orss = max(r for _, r in results["ours"]) / 1024
            prss = max(r for _, r in results["peer"]) / 1024
            print(f"{name:<72} {o:7.2f}s {p:7.2f}s {o / p:9.2f} {orss:7.1f}MB {prss:7.1f}MB")
            row = {"pair": name.split(" (")[0], "ours_s": o, "peer_s": p,
                   "ours_rss_mb": orss, "peer_rss_mb": prss, "runs": args.runs}
            if name.startswith("serve"):
                row["rss_of"] = "curl"
            if name.startswith("list"):
                print(f"{'  entries own size':<72} {own / 1048576:7.1f}MB "
                      f"(ours peak RSS / own size {orss * 1048576 / 1024 / own * 1024:.2f})")
                row["entries_own_mb"] = own / 1048576
            rows.append(row)
        print("(wall time, median of the runs; peak RSS of the measured process: for the dev "
              "server row, of curl)")
        if args.json:
            with open(args.json, "w") as f:
                json.dump(rows, f, indent=1)
    finally:
        for s in servers:
            s.send_signal(signal.SIGTERM)
            s.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
