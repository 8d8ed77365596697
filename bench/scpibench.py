#!/usr/bin/env python3
"""SCPI beside XML-RPC: the same read, the wavelength, as `WAV?` on the SCPI port and as
`getWavelength` over XML-RPC with kept connections, from one client and from 8, against one
monopanel-server. The server runs pinned to core 0 and the load generator to core 1; each
case is three runs, the run with the median queries/s reported. Beside it, the server's own
CPU time per query over 50,000 queries, which other load on the machine disturbs far less
than the rate. Prints a Markdown table.

    scpibench.py BUILD_DIR [--seconds 5] [--runs 3]
"""
import argparse
import os
import pathlib

from remotebench import Server, free_port, load, measure, wait_for_port

CPU_QUERIES = 50000


def cpu_seconds(pid):
    """The user and system time the process has used so far."""
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    loadgen = str(build / "bench" / "loadgen")

    scpi_port = free_port()
    # The reads are answered from the values last read back: no instrument is needed.
    command = [build / "app" / "monopanel-server", "/nonexistent/tty", "PORT"]
    cases = [("SCPI `WAV?`", "scpi", "scpi:WAV?", False),
             ("XML-RPC `getWavelength`, kept connections", "xmlrpc", "getWavelength", True)]
    rows = []
    with Server(command, {"MONOPANEL_SCPI_PORT": str(scpi_port)}) as server:
        wait_for_port(scpi_port, server.process)
        for name, face, method, keep in cases:
            port = scpi_port if face == "scpi" else server.port
            for clients in (1, 8):
                result = measure(loadgen, port, method, clients, keep, args.seconds, args.runs)
                before = cpu_seconds(server.process.pid)
                load(loadgen, port, method, clients, 60, CPU_QUERIES, keep)
                result["cpu_us"] = (cpu_seconds(server.process.pid) - before) / CPU_QUERIES * 1e6
                rows.append((name, clients, result))

    print(f"Reads of the wavelength: {args.runs} runs of {args.seconds:g} s each, median run; "
          "monopanel-server on core 0, load on core 1.")
    print()
    print("| read | clients | queries/s | p50 µs | p99 µs | server CPU µs per query | errors |")
    print("|---|---|---|---|---|---|---|")
    for name, clients, r in rows:
        print(f"| {name} | {clients} | {r.get('calls/s', 0):,.0f} | {r.get('p50_us', 0):.0f} | "
              f"{r.get('p99_us', 0):.0f} | {r['cpu_us']:.1f} | {r.get('errors', 0):.0f} |")


if __name__ == "__main__":
    main()
