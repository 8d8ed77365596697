#!/usr/bin/env bash
# Calls the panel with xmlrpc-c's xmlrpc command, which writes each result out in words.
#     examples/xmlrpc-command.sh [localhost:8086]
set -euo pipefail
panel=${1:-localhost:8086}

xmlrpc "$panel" system.methodSignature s/setInSlit
xmlrpc "$panel" setInSlit i/120
xmlrpc "$panel" getState
