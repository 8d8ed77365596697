#!/usr/bin/env python3
"""Remote-call benchmarks: the panel's XML-RPC server against its peers, in one run.

Every server runs pinned to core 0 and the load generator to core 1. Each case is three
runs; the run with the median calls/s is reported. A case runs with a new connection per
call and, where the server keeps connections, with kept ones. With --previous, the
monopanel of another build (the previous main) is measured beside this one, and Python's
ServerProxy calls both. Prints Markdown tables and the targets.

    remotebench.py BUILD_DIR [--seconds 5] [--runs 3] [--previous BUILD_DIR]
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


def load(loadgen, port, method, clients, seconds, calls=0, keep=False):
    command = ["taskset", "-c", LOAD_CORE, loadgen, str(port), method, str(clients),
               str(seconds)]
    if calls:
        command.append(str(calls))
    if keep:
        command.append("keep")
    output = subprocess.run(command, capture_output=True, text=True, check=False).stdout.split()
    values = dict(zip(output[0::2], output[1::2]))
    return {key: float(value) for key, value in values.items()}


def measure(loadgen, port, method, clients, keep, seconds, runs):
    load(loadgen, port, method, clients, 0.5, keep=keep)  # warm-up
    results = [load(loadgen, port, method, clients, seconds, keep=keep) for _ in range(runs)]
    results.sort(key=lambda r: r.get("calls/s", 0.0))
    return results[len(results) // 2]


def proxy_rate(port, seconds, runs):
    """Python's ServerProxy calling status in a loop: the median of the runs' calls/s."""
    script = pathlib.Path(__file__).resolve().parent / "proxyload.py"
    rates = sorted(float(subprocess.run(
        ["taskset", "-c", LOAD_CORE, sys.executable, script, str(port), str(seconds)],
        capture_output=True, text=True, check=True).stdout.split()[1]) for _ in range(runs))
    return rates[len(rates) // 2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--panel-calls", type=int, default=100000)
    parser.add_argument("--previous", help="a build of the previous main, measured beside")
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
    proxy = []  # (server, calls/s)

    def run(name, loop, command, env, cases, proxied=False):
        with Server(command, env) as server:
            for method, clients, keep in cases:
                result = measure(loadgen, server.port, method, clients, keep, args.seconds,
                                 args.runs)
                rows.append((name, loop, case_name(method, clients, keep), result))
            if proxied:
                proxy.append((name, proxy_rate(server.port, args.seconds, args.runs)))

    status_cases = [("status", 8, False), ("status", 1, False)]
    kept_cases = [("status", 8, True), ("status", 1, True)]
    panel = ["app/monopanel", "/nonexistent/tty", "PORT"]
    previous = pathlib.Path(args.previous) if args.previous else None
    for loop, env in loops.items():
        # The program's own loop is the one ServerProxy measures, as the program runs.
        own = loop == "no-glib"
        run("monopanel", loop, [build / panel[0]] + panel[1:], env, status_cases + kept_cases,
            own)
        if previous:
            run("monopanel, previous main", loop, [previous / panel[0]] + panel[1:], env,
                status_cases, own)
        run("library echo server", loop, [bench / "echoserver", "PORT"], env,
            [("echo", 1, False)])
        run("Qt floor", loop, [bench / "floorserver", "PORT"], env, status_cases + kept_cases)
    for name, command in peers.items():
        # Python's server speaks HTTP/1.0 and closes after each call.
        kept = kept_cases if name.startswith("xmlrpc-c") else []
        run(name, "-", command, {}, status_cases + kept + [("echo", 1, False)])

    print(f"Remote calls: {args.runs} runs of {args.seconds:g} s each, median run; a new "
          "connection per call unless kept; server on core 0, load on core 1.")
    print()
    print("| server | event loop | case | calls/s | p50 µs | p99 µs | request MB/s | errors |")
    print("|---|---|---|---|---|---|---|---|")
    for name, loop, case, r in rows:
        mbps = f"{r.get('request_MB/s', 0):.1f}" if case.startswith("echo") else ""
        print(f"| {name} | {loop} | {case} | {r.get('calls/s', 0):,.0f} | "
              f"{r.get('p50_us', 0):.0f} | {r.get('p99_us', 0):.0f} | {mbps} | "
              f"{r.get('errors', 0):.0f} |")
    print()
    if proxy:
        print(f"Python's ServerProxy calling status in a loop ({sys.executable}), Qt's own loop, "
              "median of the runs:")
        print()
        print("| server | calls/s |")
        print("|---|---|")
        for name, rate in proxy:
            print(f"| {name} | {rate:,.0f} |")
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
    xmlrpcc_kept = pick("xmlrpc-c (runOnce)", "-", "status c=8 kept").get("calls/s", 0)
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
        kept8 = pick("monopanel", loop, "status c=8 kept").get("calls/s", 0)
        kept1 = pick("monopanel", loop, "status c=1 kept").get("p50_us", 1e9)
        floor1 = pick("Qt floor", loop, "status c=1 kept").get("p50_us", 0)
        checks += [
            (f"kept status c=8 ≥ 1.5 × xmlrpc-c kept ({xmlrpcc_kept:,.0f})", kept8,
             kept8 >= 1.5 * xmlrpcc_kept),
            (f"kept status c=1 p50 ≤ 1.25 × floor's ({floor1:.0f} µs)", kept1,
             kept1 <= 1.25 * floor1),
        ]
        if previous:
            for case in ("status c=8", "status c=1"):
                now = pick("monopanel", loop, case).get("calls/s", 0)
                before = pick("monopanel, previous main", loop, case).get("calls/s", 0)
                checks.append((f"{case}, new connections, ≥ 0.9 × previous main "
                               f"({before:,.0f})", now, now >= 0.9 * before))
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


def case_name(method, clients, keep):
    return f"{method} c={clients}" + (" kept" if keep else "")


if __name__ == "__main__":
    main()
