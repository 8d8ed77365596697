#!/usr/bin/env bash
# Asks the panel for its state with curl and a call written by hand: an HTTP POST whose body
# is the XML-RPC call, sent as text/xml.
#     examples/get-state.sh [http://127.0.0.1:8086/]
set -euo pipefail

curl --silent --show-error --fail --header 'Content-Type: text/xml' \
    --data-binary @- "${1:-http://127.0.0.1:8086/}" <<'CALL'
<?xml version="1.0"?>
<methodCall><methodName>getState</methodName><params/></methodCall>
CALL
echo
