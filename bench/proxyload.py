#!/usr/bin/env python3
"""Python's ServerProxy calling status in a loop, as a Python client of the panel does.

    proxyload.py PORT SECONDS

Prints one line: calls/s. ServerProxy keeps its connection where the server does.
"""
import sys
import time
import xmlrpc.client


def main():
    port, seconds = int(sys.argv[1]), float(sys.argv[2])
    proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
    calls = 0
    start = time.monotonic()
    deadline = start + seconds
    while time.monotonic() < deadline:
        proxy.status()
        calls += 1
    print(f"calls/s {calls / (time.monotonic() - start):.1f}")


if __name__ == "__main__":
    main()
