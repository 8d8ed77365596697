"""Python's standard XML-RPC server for the client test.

Prints the port it listens on and serves until its standard input closes, so that it ends
with the test that started it.
"""
import sys
import threading
import xmlrpc.client
import xmlrpc.server


def fail():
    raise xmlrpc.client.Fault(7, "seven")


server = xmlrpc.server.SimpleXMLRPCServer(("127.0.0.1", 0), logRequests=False, use_builtin_types=True)
server.register_function(lambda value: value, "echo")
server.register_function(fail, "fail")
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
