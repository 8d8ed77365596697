#!/usr/bin/env python3
"""TCP ports of this machine's IPv4 interfaces, for scripts/lib/wait.sh.

  port.py free           prints a port that nothing uses now
  port.py is-free PORT   succeeds when nothing listens on PORT, on any interface
  port.py listens PORT   succeeds when a program accepts connections on 127.0.0.1:PORT
"""

import socket
import sys


def free():
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        print(s.getsockname()[1])
    return 0


def is_free(port):
    # SO_REUSEADDR, as a server sets it, so that connections closing on the port do not count.
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
        except OSError:
            return 1
    return 0


def listens(port):
    try:
        socket.create_connection(("127.0.0.1", port), 1).close()
    except OSError:
        return 1
    return 0


def main(args):
    if args == ["free"]:
        return free()
    if len(args) == 2 and args[0] in ("is-free", "listens") and args[1].isdigit():
        return (is_free if args[0] == "is-free" else listens)(int(args[1]))
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
