#!/usr/bin/env python3
"""Clients waiting in waitReady beside clients that poll: what the waiters cost the server.

Starts triaxsim in the state "start", so that the instrument, once connected, wakes up for
about 90 s (the panel's wait after "A"), and monopanel-server on it, pinned to core 0. While
the instrument wakes up:

- the server's CPU time (utime + stime of /proc/PID/stat) and wake-ups (context switches)
  over an interval with no client, then with only WAITERS clients connected, each waiting in
  waitReady(600) on a connection of its own;
- RUNS rounds of three runs of 8 clients calling status on kept connections (bench/loadgen,
  core 1): one alone, one beside as many connections that have sent nothing (what any open
  connection costs the event loop), and one beside WAITERS new waiters, who hang up after it
  except in the last round. The runs alternate so that a machine busy with something else
  slows each kind alike.

Then, once the instrument is ready, every waiter left must get getState's struct: how long
the server takes to answer them all. Prints Markdown tables, with the median of the runs'
calls/s, p50 and p99.

    waitbench.py BUILD_DIR [--waiters 100] [--seconds 3] [--runs 5] [--idle 10]
"""
import argparse
import os
import pathlib
import re
import selectors
import socket
import statistics
import subprocess
import sys
import time
import xmlrpc.client

from remotebench import LOAD_CORE, Server, load

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ms(pid):
    """The process's user and system time so far, in ms."""
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 / TICKS


def wake_ups(pid):
    """How often the process's threads have been switched to, so far."""
    total = 0
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        for line in (task / "status").read_text().splitlines():
            if "ctxt_switches:" in line:
                total += int(line.split()[1])
    return total


def idle_cost(pid, seconds):
    """CPU ms and wake-ups of the process over seconds."""
    cpu, woken = cpu_ms(pid), wake_ups(pid)
    time.sleep(seconds)
    return cpu_ms(pid) - cpu, wake_ups(pid) - woken


def start_waiters(port, count, call=True):
    """count connections, each waiting in waitReady(600) once the server has read its call;
    without call, connections that have sent nothing."""
    body = ("<?xml version=\"1.0\"?>\n<methodCall><methodName>waitReady</methodName><params>"
            "<param><value><int>600</int></value></param></params></methodCall>\n").encode()
    request = (f"POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: text/xml\r\n"
               f"Content-Length: {len(body)}\r\n\r\n").encode() + body
    waiters = [socket.create_connection(("127.0.0.1", port)) for _ in range(count)]
    for waiter in waiters:
        if call:
            waiter.sendall(request)
    time.sleep(0.5)
    return waiters


def median(results, key):
    return statistics.median(result.get(key, 0.0) for result in results)


def unanswered(waiters):
    """Whether no waiter has received a byte."""
    for waiter in waiters:
        try:
            if waiter.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT):
                return False
        except BlockingIOError:
            pass
    return True


def complete(answer):
    """Whether the answer holds its header and as much body as the header announces."""
    head, _, body = answer.partition(b"\r\n\r\n")
    length = re.search(rb"(?im)^content-length: *(\d+)", head)
    return bool(length) and len(body) >= int(length.group(1))


def collect_answers(waiters, seconds):
    """Each waiter's answer with the moment it was complete; the connections stay open."""
    selector = selectors.DefaultSelector()
    for waiter in waiters:
        selector.register(waiter, selectors.EVENT_READ, bytearray())
    answers = []
    deadline = time.monotonic() + seconds
    while selector.get_map() and time.monotonic() < deadline:
        for key, _ in selector.select(1.0):
            received = key.fileobj.recv(65536)
            key.data.extend(received)
            if not received or complete(key.data):
                answers.append((time.monotonic(), bytes(key.data)))
                selector.unregister(key.fileobj)
    return answers


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--waiters", type=int, default=100)
    parser.add_argument("--seconds", type=float, default=3.0, help="each polling run")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=float, default=10.0, help="the CPU time's interval")
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    loadgen = str(build / "bench" / "loadgen")
    os.sched_setaffinity(0, {int(LOAD_CORE)})

    load_average = os.getloadavg()[0]
    simulator = subprocess.Popen([build / "sim" / "triaxsim", "--state", "start"],
                                 stdout=subprocess.PIPE, text=True)
    device = simulator.stdout.readline().strip()
    try:
        with Server([build / "app" / "monopanel-server", device, "PORT"]) as server:
            pid = server.process.pid
            panel = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{server.port}/")
            panel.connect()
            started = time.monotonic()
            alone = idle_cost(pid, args.idle)
            waiters = start_waiters(server.port, args.waiters)
            waiting = idle_cost(pid, args.idle)
            for waiter in waiters:
                waiter.close()

            load(loadgen, server.port, "status", 8, 0.5, keep=True)  # warm-up
            polled, connected, beside = [], [], []
            for run in range(args.runs):
                polled.append(load(loadgen, server.port, "status", 8, args.seconds, keep=True))
                silent = start_waiters(server.port, args.waiters, call=False)
                connected.append(load(loadgen, server.port, "status", 8, args.seconds, keep=True))
                for connection in silent:
                    connection.close()
                waiters = start_waiters(server.port, args.waiters)
                beside.append(load(loadgen, server.port, "status", 8, args.seconds, keep=True))
                if not unanswered(waiters):
                    sys.exit("a waiter was answered while the instrument woke up: run shorter")
                if run < args.runs - 1:
                    for waiter in waiters:
                        waiter.close()
            state = panel.getState()["state"]
            if state != "waking up":
                sys.exit(f"the instrument was no longer waking up ({state}): run shorter")

            answers = collect_answers(waiters, 150 - (time.monotonic() - started))
            ready = [answer for _, answer in answers
                     if b" 200 " in answer and b"<string>ready</string>" in answer]
            times = sorted(moment for moment, _ in answers)
            spread = (times[-1] - times[0]) * 1000 if times else float("nan")
            for waiter in waiters:
                waiter.close()
    finally:
        simulator.terminate()
        simulator.wait()

    print(f"Load average at the start: {load_average:.2f}.")
    print()
    print(f"Polling status on kept connections, 8 clients ({args.runs} runs of "
          f"{args.seconds:g} s each, medians), while the instrument wakes up:")
    print()
    print("| beside | calls/s | p50 µs | p99 µs | errors |")
    print("|---|---|---|---|---|")
    for name, results in (("nothing", polled),
                          (f"{args.waiters} connections that sent nothing", connected),
                          (f"{args.waiters} waiters", beside)):
        print(f"| {name} | {median(results, 'calls/s'):,.0f} | {median(results, 'p50_us'):.0f} | "
              f"{median(results, 'p99_us'):.0f} | "
              f"{sum(result.get('errors', 0) for result in results):.0f} |")
    print()
    print(f"The server over {args.idle:g} s with no poller:")
    print()
    print("| connected | CPU ms | CPU % of a core | wake-ups |")
    print("|---|---|---|---|")
    for name, (cpu, woken) in (("no client", alone), (f"{args.waiters} waiters", waiting)):
        print(f"| {name} | {cpu:.0f} | {cpu / args.idle / 10:.2f} | {woken} |")
    print()
    print(f"Once ready: {len(ready)} of {args.waiters} waiters answered with the ready state, "
          f"the first to the last within {spread:.1f} ms.")
    print()
    print("Targets:")
    slower = median(beside, "p50_us") / max(median(connected, "p50_us"), 1)
    share = waiting[0] / args.idle / 10
    checks = [
        (f"{args.waiters} waiters alone cost the server < 1 % of a core", share, share < 1),
        ("pollers' p50 beside the waiters ≤ 1.1 × beside the silent connections (×)", slower,
         slower <= 1.1),
        ("every waiter answered with the ready state", len(ready), len(ready) == args.waiters),
    ]
    for text, value, met in checks:
        print(f"- {text}: {value:,.2f} — {'met' if met else 'NOT MET'}")


if __name__ == "__main__":
    main()
