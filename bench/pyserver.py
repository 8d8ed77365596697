#!/usr/bin/env python3
"""A peer for the remote-call benchmarks: Python's standard single-threaded XML-RPC server
with the same two methods.

    pyserver.py PORT
"""
import sys
from xmlrpc.server import SimpleXMLRPCServer


def main():
    server = SimpleXMLRPCServer(("127.0.0.1", int(sys.argv[1])), logRequests=False,
                                allow_none=False)
    server.register_function(lambda: 0, "status")
    server.register_function(lambda items: items, "echo")
    server.serve_forever()


if __name__ == "__main__":
    main()
