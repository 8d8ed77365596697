#!/usr/bin/env python3
"""Remote-call benchmarks: the panel's XML-RPC server against its peers, in one run.

Every server runs pinned to core 0 and the load generator to core 1. Each case is three
runs; the run with the median calls/s is reported. Prints Markdown tables and the targets.

    remotebench.py BUILD_DIR [--seconds 5] [--runs 3]
"""
import argparse
import os
import pathlib
import socket
import subprocess
import sys
import time

SERVER_CORE = "0"
LOAD_CORE = "1"


def wait_for_port(port, process, limit=15.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"server on port {port} ended with {process.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port} after {limit} s")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    def __init__(self, command, env=None, stdin=None):
        self.port = free_port()
        full_env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **(env or {}))
        self.process = subprocess.Popen(
            ["taskset", "-c", SERVER_CORE] + [str(part).replace("PORT", str(self.port))
                                              for part in command],
            env=full_env, stdin=stdin, stdout=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, text=True)
        wait_for_port(self.port, self.process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.kill()
        self.process.wait()


def load(loadgen, port, method, clients, seconds, calls=0):
    command = ["taskset", "-c", LOAD_CORE, loadgen, str(port), method, str(clients),
               str(seconds)]
    if calls:
        command.append(str(calls))
    output = subprocess.run(command, capture_output=True, text=True, check=False).stdout.split()
    values = dict(zip(output[0::2], output[1::2]))
    return {key: float(value) for key, value in values.items()}


def measure(loadgen, port, method, clients, seconds, runs):
    load(loadgen, port, method, clients, 0.5)  # warm-up
    results = [load(loadgen, port, method, clients, seconds) for _ in range(runs)]
    results.sort(key=lambda r: r.get("calls/s", 0.0))
    return results[len(results) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--panel-calls", type=int, default=100000)
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    bench = build / "bench"
    loadgen = str(bench / "loadgen")
    here = pathlib.Path(__file__).resolve().parent

    # An empty QT_NO_GLIB keeps the glib loop, also in monopanel, which otherwise picks Qt's own.
    loops = {"glib": {"QT_NO_GLIB": ""}, "no-glib": {"QT_NO_GLIB": "1"}}
    peers = {"Python SimpleXMLRPCServer": [sys.executable, here / "pyserver.py", "PORT"]}
    if (bench / "xmlrpccserver").exists():
        peers["xmlrpc-c (runOnce)"] = [bench / "xmlrpccserver", "PORT"]
    else:
        print("xmlrpc-c peer not built: install libxmlrpc-c++9-dev (Debian 12: libxmlrpc-c++8-dev)", file=sys.stderr)

    rows = []  # (server, loop, case, result)

    def run(name, loop, command, env, cases):
        with Server(command, env) as server:
            for method, clients in cases:
                result = measure(loadgen, server.port, method, clients, args.seconds, args.runs)
                rows.append((name, loop, f"{method} c={clients}", result))

    status_cases = [("status", 8), ("status", 1)]
    for loop, env in loops.items():
        run("monopanel", loop, [build / "app" / "monopanel", "/nonexistent/tty", "PORT"], env,
            status_cases)
        run("library echo server", loop, [bench / "echoserver", "PORT"], env, [("echo", 1)])
        run("Qt floor", loop, [bench / "floorserver", "PORT"], env, status_cases)
    for name, command in peers.items():
        run(name, "-", command, {}, status_cases + [("echo", 1)])

    print(f"Remote calls: {args.runs} runs of {args.seconds:g} s each, median run; a new "
          "connection per call; server on core 0, load on core 1.")
    print()
    print("| server | event loop | case | calls/s | p50 µs | p99 µs | request MB/s | errors |")
    print("|---|---|---|---|---|---|---|---|")
    for name, loop, case, r in rows:
        mbps = f"{r.get('request_MB/s', 0):.1f}" if case.startswith("echo") else ""
        print(f"| {name} | {loop} | {case} | {r.get('calls/s', 0):,.0f} | "
              f"{r.get('p50_us', 0):.0f} | {r.get('p99_us', 0):.0f} | {mbps} | "
              f"{r.get('errors', 0):.0f} |")
    print()

    def pick(name, loop, case):
        for n, l, c, r in rows:
            if n == name and l == loop and c == case:
                return r
        return {}

    panel_results = []
    for loop, env in loops.items():
        panel_results.append((loop, panel_under_load(build, loadgen, env, args.panel_calls)))
    print(f"Panel under load: 8 clients call status as fast as they can, {args.panel_calls:,} "
          "calls; the panel's 10 ms timer meanwhile.")
    print()
    print("| event loop | worst timer lateness ms | RSS at start kB | after 1,000 calls kB | "
          f"after {args.panel_calls:,} calls kB | growth after warm-up kB |")
    print("|---|---|---|---|---|---|")
    for loop, p in panel_results:
        print(f"| {loop} | {p['late']:.2f} | {p['start']:,} | {p['warm']:,} | {p['after']:,} | "
              f"{p['after'] - p['warm']:,} |")
    print()

    print("Targets:")
    best_peer = {case: max((pick(n, "-", case).get("calls/s", 0) for n in peers), default=0)
                 for case in ("status c=8", "echo c=1")}
    for loop in loops:
        ours8 = pick("monopanel", loop, "status c=8").get("calls/s", 0)
        floor8 = pick("Qt floor", loop, "status c=8").get("calls/s", 0)
        ours1 = pick("monopanel", loop, "status c=1")
        echo = pick("library echo server", loop, "echo c=1").get("calls/s", 0)
        checks = [
            (f"status c=8 ≥ 1.5 × best peer ({best_peer['status c=8']:,.0f})",
             ours8, ours8 >= 1.5 * best_peer["status c=8"]),
            (f"status c=8 ≥ ½ floor ({floor8:,.0f})", ours8, ours8 >= 0.5 * floor8),
            ("status c=1 p50 < 100 µs", ours1.get("p50_us", 0), ours1.get("p50_us", 1e9) < 100),
            ("status c=1 p99 < 300 µs", ours1.get("p99_us", 0), ours1.get("p99_us", 1e9) < 300),
            (f"echo ≥ 2 × best peer ({best_peer['echo c=1']:,.1f})", echo,
             echo >= 2 * best_peer["echo c=1"]),
        ]
        late, growth = next((p["late"], p["after"] - p["start"]) for l, p in panel_results
                            if l == loop)
        checks.append(("timer lateness under load < 20 ms", late, late < 20))
        checks.append(("RSS growth after the calls < 2 MB (kB)", growth, growth < 2048))
        for text, value, met in checks:
            print(f"- [{loop}] {text}: {value:,.1f} — {'met' if met else 'NOT MET'}")


def panel_under_load(build, loadgen, env, calls):
    with Server([build / "bench" / "panelbench", "PORT"], env, stdin=subprocess.PIPE) as server:
        def report():
            server.process.stdin.write("report\n")
            server.process.stdin.flush()
            values = server.process.stdout.readline().split()
            return dict(zip(values[0::2], values[1::2]))

        start = int(report()["rss_kb"])
        load(loadgen, server.port, "status", 8, 60, 1000)
        warm = int(report()["rss_kb"])
        server.process.stdin.write("reset\n")
        server.process.stdin.flush()
        load(loadgen, server.port, "status", 8, 120, calls)
        after = report()
        return {"start": start, "warm": warm, "after": int(after["rss_kb"]),
                "late": float(after["worst_late_ms"])}


if __name__ == "__main__":
    main()
