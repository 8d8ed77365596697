"""Makes XML-RPC calls with Python's standard client, one per line of standard input.

A line is a method name, optionally followed by a tab and its arguments as Python
literals ("setWavelength\t546.07"; 500 is an int, 500.0 a double). For each line it
prints one JSON line: the result's Python type name and value, or "Fault" with the
fault's code and text.
"""
import ast
import json
import sys
import xmlrpc.client

proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{sys.argv[1]}/RPC2")
for line in sys.stdin:
    name, _, arguments = line.rstrip("\n").partition("\t")
    params = ast.literal_eval(f"({arguments},)") if arguments else ()
    try:
        # __getattr__ reaches names such as "__dir__" that the proxy itself defines.
        result = proxy.__getattr__(name)(*params)
        reply = [type(result).__name__, result]
    except xmlrpc.client.Fault as fault:
        reply = ["Fault", fault.faultCode, fault.faultString]
    print(json.dumps(reply), flush=True)
