"""Drives the Monochromator device of monopanel-tango as a control-system client would.

    tango_session.py tango://127.0.0.1:PORT/lab/mono/1#dbase=no

The test that runs it serves the panel: for "stop panel" or "start panel" on standard output
it does so and answers "done" on standard input. Exits with a message at the first check that
fails.
"""
import sys
import time

import tango

ON, OFF, MOVING, FAULT = (tango.DevState.ON, tango.DevState.OFF, tango.DevState.MOVING,
                          tango.DevState.FAULT)


def check(condition, message):
    if not condition:
        sys.exit(f"tango_session: {message}")


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        check(time.monotonic() < deadline, f"no {what} within {seconds} s")
        time.sleep(0.02)


def refusal(write):
    """The reason and description of the exception that write() raises, or None."""
    try:
        write()
    except tango.DevFailed as failure:
        return failure.args[0].reason, failure.args[0].desc
    return None


def ask_test(request):
    print(request, flush=True)
    check(sys.stdin.readline().strip() == "done", f"the test did not {request}")


device = tango.DeviceProxy(sys.argv[1])
wait_for(lambda: device.state() == OFF, 5, "OFF before Connect")
# The ranges are the panel's, learnt from getLimits.
wait_for(lambda: device.get_attribute_config("Wavelength").max_value == "1300", 1,
         "Wavelength's max_value from the panel")
device.Connect()
wait_for(lambda: device.state() == ON, 10, "ON after Connect")

states = []
subscription = device.subscribe_event(
    "State", tango.EventType.CHANGE_EVENT,
    lambda event: states.append(None if event.err else event.attr_value.value))

# The panel's own refusal, in its words, at the caller.
reason, words = refusal(lambda: device.MoveRelative(20000)) or (None, "")
check(reason == "Monochromator_OutOfRange" and "outside -10000 to 10000 steps" in words,
      f"MoveRelative 20000 gave {reason}: {words}")

device.Wavelength = 546.07
check(device.state() == MOVING, "not MOVING at once after a write")
reason, words = refusal(lambda: device.write_attribute("Wavelength", 600.0)) or (None, "")
check(reason == "Monochromator_Moving" and "motor busy" in words,
      f"a write while MOVING gave {reason}: {words}")
wait_for(lambda: device.state() != MOVING, 30, "end of MOVING")
wavelength, position = device.Wavelength, device.Position
check((wavelength, position) == (546.075, 21843),
      f"Wavelength {wavelength} and Position {position} right after MOVING")
check(device.state() == ON, f"{device.state()} after the move: {device.status()}")

# Each writable attribute reaches its own request.
for name, value in (("Grating", 1), ("EntranceSlit", 400)):
    device.write_attribute(name, value)
    wait_for(lambda: device.state() != MOVING, 30, f"end of MOVING after writing {name}")
    check(device.read_attribute(name).value == value, f"{name} after writing {value}")

moving = states.index(MOVING) if MOVING in states else len(states)
check(ON in states[moving:], f"State events {states}")
device.unsubscribe_event(subscription)

ask_test("stop panel")
wait_for(lambda: device.state() == FAULT, 1, "FAULT once the panel has stopped")
ask_test("start panel")
wait_for(lambda: device.state() == OFF, 2, "OFF once the panel is back")
device.Connect()
wait_for(lambda: device.state() == ON, 10, "ON after Connect to the new panel")
check(device.Wavelength == 546.075, f"Wavelength {device.Wavelength} after reconnecting")
print("The session passed.")
