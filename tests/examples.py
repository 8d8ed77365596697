#!/usr/bin/env python3
"""Runs every client of examples/ against monopanel-server on the simulated instrument, the
Tango ones through monopanel-tango without a database, and checks each one's exit status and
the lines that show it did its work; and that the manual shows each example as it is.

    examples.py SOURCE_DIR TRIAXSIM MONOPANEL_SERVER [MONOPANEL_TANGO]
"""
import pathlib
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

# What the simulated instrument reads back after a move to 546.07 nm.
READ_BACK_546 = "546.075"

source, simulator_program, server_program = (pathlib.Path(arg) for arg in sys.argv[1:4])
tango_program = pathlib.Path(sys.argv[4]) if len(sys.argv) > 4 else None
examples = source / "examples"
failures = []


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def first_line(process, what, seconds, marker=None):
    """The first line of the process's output (or the first holding marker), within seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if select.select([process.stdout], [], [], 0.5)[0]:
            line = process.stdout.readline()
            if not line:
                break
            if marker is None or marker in line:
                return line.strip()
    sys.exit(f"{what} did not start")


def stop(process, name):
    """Ends the process with one signal; under the sanitizers a report makes its status fail."""
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(30)
    except subprocess.TimeoutExpired:
        process.kill()
        status = "none within 30 s"
    if status != 0:
        failures.append(f"{name} ended with status {status}")


def run(name, arguments, expected, refused=False):
    """Runs one example; its output must match each of the expected patterns, and it must end
    with status 0, or with another when it is to report a refusal."""
    print(f"== examples/{name} {' '.join(arguments)}", flush=True)
    try:
        done = subprocess.run([examples / name, *arguments], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=120)
        output, status = done.stdout, done.returncode
    except subprocess.TimeoutExpired as timeout:
        output, status = timeout.stdout or "", "none within 120 s"
        output = output.decode() if isinstance(output, bytes) else output
    print(output, flush=True)
    if not isinstance(status, int) or (status != 0) != refused:
        failures.append(f"examples/{name} ended with status {status}")
    for pattern in expected:
        if not re.search(pattern, output, re.MULTILINE):
            failures.append(f"examples/{name} printed nothing matching {pattern!r}")


manual = "".join(page.read_text() for page in [source / "README.md", *(source / "docs").glob("*.md")])
for example in sorted(examples.iterdir()):
    if example.read_text() not in manual:
        failures.append(f"no page of the manual shows examples/{example.name} as it is")

simulator = subprocess.Popen([simulator_program], stdout=subprocess.PIPE, text=True)
device = first_line(simulator, "triaxsim", 10)
port = free_port()
server = subprocess.Popen([server_program, device, str(port)])
deadline = time.monotonic() + 30
while True:
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.1", port)) == 0:
            break
    if time.monotonic() > deadline:
        sys.exit("monopanel-server does not listen")
    time.sleep(0.1)

url = f"http://127.0.0.1:{port}/"
read_back = re.escape(READ_BACK_546)
run("remote-session", ["--port", str(port)],
    [r"^waitReady\(150\) -> \{'state': 'ready', \.\.\.\}$",
     r"^setWavelength\(546\.07\) -> ''$", r"^waitReady\(120\) -> \{'state': 'ready', \.\.\.\}$",
     rf"^getWavelength\(\) -> {read_back}$", r"^getPosition\(\) -> 21843$",
     r"^getGrating\(\) -> 0$"])
run("move.py", [url], [r"^550\.0 22000$"])
run("move.py", [url, "2000.0"], [r"^wavelength 2000 nm refused: outside 250 to 1300 nm, "],
    refused=True)
run("multicall.py", [url],
    [r"'getState'", r"^\[\['string', 'double'\]\]$", r"readBacks",
     r"^\[550\.0\]$", r"'faultCode': -32602", r"^\[22000\]$"])
run("get-state.sh", [url],
    [r"<name>state</name>\s*<value>\s*<string>ready</string>",
     r"<name>position</name>\s*<value>\s*<int>22000</int>"])
run("xmlrpc-command.sh", [f"localhost:{port}"], [r"String: 'int'", r"Value: Integer: 22000"])

if tango_program:
    scratch = tempfile.TemporaryDirectory()
    database = pathlib.Path(scratch.name) / "monopanel.db"
    database.write_text('monopanel-tango/examples/DEVICE/Monochromator: "lab/mono/1"\n'
                        f'lab/mono/1->PanelUrl: "{url}"\n')
    orb_port = free_port()
    tango = subprocess.Popen([tango_program, "examples", f"-file={database}", "-ORBendPoint",
                              f"giop:tcp:127.0.0.1:{orb_port}"], stdout=subprocess.PIPE, text=True)
    first_line(tango, "monopanel-tango", 60, "Ready to accept request")
    tango_device = f"tango://127.0.0.1:{orb_port}/lab/mono/1#dbase=no"
    run("tango-session", ["--device", tango_device],
        [r"^state ON", rf"^Wavelength = {read_back}$", r"^Position = 21843$",
         r"^EntranceSlit = 120$"])
    run("tango-scan.py", [tango_device],
        [rf"^{w}\.0 {w}\.0 {w * 40}$" for w in (500, 510, 520, 530)])
    stop(tango, "monopanel-tango")

stop(server, "monopanel-server")
stop(simulator, "triaxsim")
for failure in failures:
    print(f"FAIL: {failure}")
sys.exit(1 if failures else 0)
