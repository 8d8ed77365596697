#!/usr/bin/env python3
"""Sets a wavelength and prints what the instrument reads back once the move has ended.

    examples/move.py [http://127.0.0.1:8086/] [nm, default 550.0]
"""
import sys
import xmlrpc.client

panel = xmlrpc.client.ServerProxy(sys.argv[1] if len(sys.argv) > 1 else "http://127.0.0.1:8086/")
wavelength = float(sys.argv[2]) if len(sys.argv) > 2 else 550.0  # an int would be refused

try:
    panel.connect()                   # a port already open stays as it is
    panel.waitReady(150)              # about 1.5 s; 90 s for an instrument that has to start
    refused = panel.setWavelength(wavelength)
    if refused:                       # "" when taken, else why not
        sys.exit(refused)
    state = panel.waitReady(120)      # the move and its read-back
except xmlrpc.client.Fault as fault:  # the instrument failed, or was not ready in time
    sys.exit(fault.faultString)
print(state["wavelength"], state["position"])
