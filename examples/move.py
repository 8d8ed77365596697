#!/usr/bin/env python3
"""Sets a wavelength and prints what the instrument reads back once the move has ended.

    examples/move.py [http://127.0.0.1:8086/]
"""
import sys
import time
import xmlrpc.client

panel = xmlrpc.client.ServerProxy(sys.argv[1] if len(sys.argv) > 1 else "http://127.0.0.1:8086/")


def wait_for_read_back(before):
    """Waits until the instrument is ready with a read-back newer than before; a fault raises."""
    while True:
        state = panel.getState()
        if state["state"] in ("no answer", "port lost", "cannot open", "closed"):
            raise RuntimeError(state["reason"] or state["text"])
        if state["state"] == "ready" and state["readBacks"] > before:
            return state
        time.sleep(0.05)


panel.connect()                     # a port already open stays as it is
wait_for_read_back(0)               # about 1.5 s on a running instrument
before = panel.getState()["readBacks"]
panel.setWavelength(550.0)          # answers at once; 550 would be an int, and refused
state = wait_for_read_back(before)
print(state["wavelength"], state["position"])
