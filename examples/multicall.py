#!/usr/bin/env python3
"""Asks the panel what it serves, then makes three calls in one request with system.multicall.

    examples/multicall.py [http://127.0.0.1:8086/]
"""
import sys
import xmlrpc.client

panel = xmlrpc.client.ServerProxy(sys.argv[1] if len(sys.argv) > 1 else "http://127.0.0.1:8086/")
print(panel.system.listMethods())
print(panel.system.methodSignature("setWavelength"))
print(panel.system.methodHelp("getState"))

# Each call is answered in its own place: a list holding its result, or its own fault.
for answer in panel.system.multicall([
    {"methodName": "getWavelength", "params": []},
    {"methodName": "setWavelength", "params": [500]},
    {"methodName": "getPosition", "params": []},
]):
    print(answer)
