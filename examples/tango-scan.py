#!/usr/bin/python3
"""A scan through the Tango device, as scan frameworks do it: write, wait while MOVING, read.

    examples/tango-scan.py [tango://127.0.0.1:45678/lab/mono/1#dbase=no]
"""
import sys
import time

import tango

mono = tango.DeviceProxy(sys.argv[1] if len(sys.argv) > 1
                         else "tango://127.0.0.1:45678/lab/mono/1#dbase=no")
while mono.state() in (tango.DevState.MOVING, tango.DevState.INIT):
    time.sleep(0.1)                      # someone else's move, or the instrument waking up
if mono.state() != tango.DevState.ON:
    mono.Connect()
    while mono.state() in (tango.DevState.OFF, tango.DevState.INIT):
        time.sleep(0.1)
for wavelength in (500.0, 510.0, 520.0, 530.0):
    mono.Wavelength = wavelength         # MOVING at once
    while mono.state() == tango.DevState.MOVING:
        time.sleep(0.05)
    if mono.state() != tango.DevState.ON:
        raise RuntimeError(mono.status())
    print(wavelength, mono.Wavelength, mono.Position)
