"""Drives the test server at the port given with Python's standard XML-RPC client.

Prints each mismatch and exits with status 1 if there was any.
"""
import datetime
import sys
import xmlrpc.client

proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{sys.argv[1]}/RPC2", use_builtin_types=True)
checks = [(proxy.echo, value, value) for value in [
    42, -2**31, 1.5, 1234.575, 1e21, 1.5e-7, 5e-324, True, "", "  ", "Gr\u00fc\u00dfe \u263a \U0001d11e <&>", bytes(range(256)), b"",
    datetime.datetime(2026, 12, 7, 11, 42, 38), [1, "two", [3.5, [False]]], [], {},
    {"name": "mono", "slits": [0, 1400], "nested": {"raw": b"\x00\xff"}}]]
checks += [(lambda _: proxy.add(2, 3), None, 5), (lambda _: proxy.nothing(), None, ""),
           (lambda _: proxy.nosuch(), None, -32601), (lambda _: proxy.add(2, 3.0), None, -32602),
           (lambda _: proxy.refuse(), None, 4)]
failures = 0
for call, argument, expected in checks:
    try:
        result = call(argument)
    except xmlrpc.client.Fault as fault:
        result = fault.faultCode
    except (xmlrpc.client.Error, OSError) as error:
        result = error
    if result != expected or type(result) is not type(expected):
        print(f"{argument!r}: expected {expected!r}, got {result!r}")
        failures += 1
sys.exit(1 if failures else 0)
