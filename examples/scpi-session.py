#!/usr/bin/python3
"""An example SCPI client: drives the panel's instrument through PyVISA, as a lab script
drives its other instruments.

    examples/scpi-session.py [TCPIP::127.0.0.1::5025::SOCKET]
"""
import sys

import pyvisa

resource = sys.argv[1] if len(sys.argv) > 1 else "TCPIP::127.0.0.1::5025::SOCKET"
mono = pyvisa.ResourceManager("@py").open_resource(
    resource, read_termination="\n", write_termination="\n")
mono.timeout = 120_000                   # ms: *OPC? answers once a start or a move has ended

print(mono.query("*IDN?"))
mono.write("*CLS;CONN")                  # a port already open stays as it is
print(mono.query("*OPC?;STAT?"))         # 1;"ready", at once on a running instrument
mono.write("WAV 546.07")
print(mono.query("*OPC?;WAV?;POS?"))     # waits for the move and its read-back
print(mono.query("WAV? MIN;WAV? MAX"))
mono.write("WAV 2000")                   # refused: the error queue says why
print(mono.query("SYST:ERR?"))
print(mono.query("SYST:ERR?"))           # the queue is empty again
mono.close()
