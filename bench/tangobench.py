#!/usr/bin/python3
"""A scan through the Tango device: how long after the panel's read-back the device shows ON.

Starts triaxsim at 19200 baud with 3 ms of thinking (as scanbench), the panel on it and
monopanel-tango without a Tango database, then writes Wavelength for each point (0.5 nm
apart from 500 nm) and polls the device's State until it is ON again. Beside it a thread
asks the panel itself for its state every 2 ms and notes when each read-back has arrived.
Prints the medians and the worst, in ms. Needs python3-tango.

    tangobench.py BUILD_DIR [--gap MS] [--points 20] [--device PROGRAM]
"""
import argparse
import os
import pathlib
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client

import tango


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(condition, what, seconds, pause=0.05):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit(f"gave up waiting for {what} after {seconds} s")
        time.sleep(pause)


class ReadBackWatch(threading.Thread):
    """Notes the moment the panel's read-back count grows while it is ready."""

    def __init__(self, url):
        super().__init__(daemon=True)
        self.panel = xmlrpc.client.ServerProxy(url)
        self.times = {}
        self.running = True

    def run(self):
        while self.running:
            state = self.panel.getState()
            if state["state"] == "ready" and state["readBacks"] not in self.times:
                self.times[state["readBacks"]] = time.monotonic()
            time.sleep(0.002)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--gap", type=int, default=0, help="MONOPANEL_ANSWER_GAP, ms")
    parser.add_argument("--points", type=int, default=20)
    parser.add_argument("--device", help="the monopanel-tango to measure")
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    device_program = args.device or str(build / "tango" / "monopanel-tango")

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if args.gap:
        env["MONOPANEL_ANSWER_GAP"] = str(args.gap)
    processes = []
    scratch = tempfile.TemporaryDirectory()
    try:
        simulator = subprocess.Popen(
            [build / "sim" / "triaxsim", "--baud", "19200", "--latency", "3"],
            stdout=subprocess.PIPE, text=True)
        processes.append(simulator)
        line = simulator.stdout.readline().strip()
        port, tango_port = free_port(), free_port()
        processes.append(subprocess.Popen([build / "app" / "monopanel", line, str(port)], env=env,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        url = f"http://127.0.0.1:{port}/"
        database = pathlib.Path(scratch.name) / "monopanel.db"
        database.write_text('monopanel-tango/bench/DEVICE/Monochromator: "lab/mono/1"\n'
                            f'lab/mono/1->PanelUrl: "{url}"\n')
        processes.append(subprocess.Popen(
            [device_program, "bench", f"-file={database}", "-ORBendPoint",
             f"giop:tcp:127.0.0.1:{tango_port}"], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True))
        device = tango.DeviceProxy(f"tango://127.0.0.1:{tango_port}/lab/mono/1#dbase=no")

        def answers():
            try:
                device.ping()
                return device.state() != tango.DevState.FAULT
            except tango.DevFailed:
                return False

        wait_until(answers, "the device", 15, 0.25)
        device.Connect()
        wait_until(lambda: device.state() == tango.DevState.ON, "ON after Connect", 30)

        watch = ReadBackWatch(url)
        watch.start()
        to_on, to_read_back, after_read_back = [], [], []
        for point in range(args.points):
            before = xmlrpc.client.ServerProxy(url).getState()["readBacks"]
            start = time.monotonic()
            device.Wavelength = 500.5 + 0.5 * point
            while device.state() != tango.DevState.ON:
                time.sleep(0.001)
            on = time.monotonic()
            wait_until(lambda: any(count > before for count in watch.times), "the read-back", 5,
                       0.001)
            read_back = min(t for count, t in watch.times.items() if count > before)
            to_on.append((on - start) * 1000)
            to_read_back.append((read_back - start) * 1000)
            after_read_back.append((on - read_back) * 1000)
        watch.running = False
        watch.join()
        print(f"gap {args.gap or 'none'} points {args.points} "
              f"write_to_read_back_ms {statistics.median(to_read_back):.1f} "
              f"write_to_on_ms {statistics.median(to_on):.1f} "
              f"on_after_read_back_median_ms {statistics.median(after_read_back):.1f} "
              f"max_ms {max(after_read_back):.1f} scan_s {sum(to_on) / 1000:.2f}")
    finally:
        for process in reversed(processes):
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        scratch.cleanup()


if __name__ == "__main__":
    main()
