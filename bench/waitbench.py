#!/usr/bin/env python3
"""Clients waiting in waitReady beside clients that poll: what the waiters cost the server.

Starts triaxsim in the state "start", so that the instrument, once connected, wakes up for
about 90 s (the panel's wait after "A"), and monopanel-server on it, pinned to core 0. While
the instrument wakes up:

1. 8 clients call status on kept connections (bench/loadgen, core 1), without waiters;
2. the server's CPU time (utime + stime of /proc/PID/stat) and wake-ups (context switches)
   over an interval with no client;
3. WAITERS clients call waitReady(600), each on a connection of its own, and the same over an
   interval with only them connected;
4. the 8 pollers again, beside the waiters.

Then, once the instrument is ready, every waiter must get getState's struct: how long the
server takes to answer them all. Prints Markdown tables.

    waitbench.py BUILD_DIR [--waiters 100] [--seconds 3] [--runs 3] [--idle 10]
"""
import argparse
import os
import pathlib
import re
import selectors
import socket
import subprocess
import sys
import time
import xmlrpc.client

from remotebench import LOAD_CORE, Server, measure

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


def wait_ready_request(port):
    body = ("<?xml version=\"1.0\"?>\n<methodCall><methodName>waitReady</methodName><params>"
            "<param><value><int>600</int></value></param></params></methodCall>\n").encode()
    return (f"POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: text/xml\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode() + body


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
    parser.add_argument("--runs", type=int, default=3)
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
            polled = measure(loadgen, server.port, "status", 8, True, args.seconds, args.runs)
            alone = idle_cost(pid, args.idle)

            request = wait_ready_request(server.port)
            waiters = [socket.create_connection(("127.0.0.1", server.port))
                       for _ in range(args.waiters)]
            for waiter in waiters:
                waiter.sendall(request)
            time.sleep(1)  # every call read and waiting
            waiting = idle_cost(pid, args.idle)
            beside = measure(loadgen, server.port, "status", 8, True, args.seconds, args.runs)
            state = panel.getState()["state"]
            if state != "waking up" or not unanswered(waiters):
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
          f"{args.seconds:g} s, median run), while the instrument wakes up:")
    print()
    print("| beside | calls/s | p50 µs | p99 µs | errors |")
    print("|---|---|---|---|---|")
    for name, result in (("no waiter", polled), (f"{args.waiters} waiters", beside)):
        print(f"| {name} | {result.get('calls/s', 0):,.0f} | {result.get('p50_us', 0):.0f} | "
              f"{result.get('p99_us', 0):.0f} | {result.get('errors', 0):.0f} |")
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
    slower = beside.get("p50_us", 1e9) / max(polled.get("p50_us", 0), 1)
    share = waiting[0] / args.idle / 10
    checks = [
        (f"{args.waiters} waiters alone cost the server < 1 % of a core", share, share < 1),
        ("pollers' p50 beside the waiters ≤ 1.25 × without (×)", slower, slower <= 1.25),
        ("every waiter answered with the ready state", len(ready), len(ready) == args.waiters),
    ]
    for text, value, met in checks:
        print(f"- {text}: {value:,.2f} — {'met' if met else 'NOT MET'}")


if __name__ == "__main__":
    main()
