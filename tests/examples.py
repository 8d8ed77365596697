#!/usr/bin/env python3
"""Runs every client of examples/ against monopanel-server on the simulated instrument, the
Tango ones through monopanel-tango without a database, and checks each one's exit status and
the lines that show it did its work; and that the manual shows each example as it is. Then
sends the SCPI port an HTTP request, as a web page can, which must carry out nothing. The
server runs as the service runs it, without a display, and must end on SIGTERM with status 0,
its standard error telling the serial trace and who asked for what.

    examples.py SOURCE_DIR TRIAXSIM MONOPANEL_SERVER [MONOPANEL_TANGO]
"""
import os
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
scpi_port = free_port()
# As the service runs it: no display of any kind, the serial trace on. Its standard error is
# read at the end, for the trace and the lines that tell who asked for what.
diagnostics = tempfile.TemporaryFile(mode="w+")
environment = {name: value for name, value in os.environ.items()
               if name not in ("QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY")}
server = subprocess.Popen([server_program, device, str(port)], stderr=diagnostics,
                          env=dict(environment, MONOPANEL_SCPI_PORT=str(scpi_port),
                                   MONOPANEL_VERBOSE="1"))
deadline = time.monotonic() + 30
while True:
    with socket.socket() as probe, socket.socket() as scpi_probe:
        if (probe.connect_ex(("127.0.0.1", port)) == 0
                and scpi_probe.connect_ex(("127.0.0.1", scpi_port)) == 0):
            break
    if time.monotonic() > deadline:
        sys.exit("monopanel-server does not listen")
    time.sleep(0.1)

url = f"http://127.0.0.1:{port}/"
read_back = re.escape(READ_BACK_546)
run("remote-session", ["--port", str(port)],
    [r"^setWavelength\(546\.07\) -> ''$", rf"^getWavelength\(\) -> {read_back}$"])
run("move.py", [url], [r"^550\.0 22000$"])
run("move.py", [url, "2000.0"], [r"^wavelength 2000 nm refused: outside 250 to 1300 nm, "],
    refused=True)
run("multicall.py", [url], [r"'faultCode': -32602", r"^\[22000\]$"])
run("get-state.sh", [url],
    [r"<name>state</name>\s*<value>\s*<string>ready</string>",
     r"<name>position</name>\s*<value>\s*<int>22000</int>"])
run("xmlrpc-command.sh", [f"localhost:{port}"], [r"String: 'int'", r"Value: Integer: 22000"])
run("scpi-session.py", [f"TCPIP::127.0.0.1::{scpi_port}::SOCKET"],
    [r"^monopanel,Triax,0,\d", r'^1;"ready"$', rf"^1;{read_back};21843$", r"^250;1300$",
     r'^-222,"Data out of range;wavelength 2000 nm refused: outside 250 to 1300 nm',
     r'^0,"No error"$'])


def scpi_exchange(payload):
    """What the SCPI port answers to payload, and whether it closed rather than going quiet
    for a second."""
    with socket.create_connection(("127.0.0.1", scpi_port), timeout=10) as client:
        client.sendall(payload)
        client.settimeout(1)
        received = b""
        try:
            while chunk := client.recv(4096):
                received += chunk
        except socket.timeout:
            return received, False
        except ConnectionResetError:
            pass
        return received, True


# A form posted by a web page: the connection closes at once and its body is never carried out
# (which the log shows below).
print("== an HTTP request to the SCPI port", flush=True)
body = b"WAV 700\n"
answer, closed = scpi_exchange(b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               b"Content-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s"
                               % (len(body), body))
if answer or not closed:
    failures.append(f"the SCPI port answered {answer!r} to an HTTP request and "
                    f"{'closed' if closed else 'stayed open'}")

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
        [rf"^Wavelength = {read_back}$", r"^EntranceSlit = 120$"])
    run("tango-scan.py", [tango_device],
        [rf"^{w}\.0 {w}\.0 {w * 40}$" for w in (500, 510, 520, 530)])
    stop(tango, "monopanel-tango")

stop(server, "monopanel-server")
stop(simulator, "triaxsim")
diagnostics.seek(0)
logged = diagnostics.read()
for pattern in [r'^tx: "Z61,0,546\.07" rx: "o" elapsed time \(ms\): \d+$',
                r"^request from 127\.0\.0\.1: setWavelength 546\.07 taken$",
                r"^request from 127\.0\.0\.1 \(SCPI\): WAV 546\.07 taken$",
                r"^request from 127\.0\.0\.1 \(SCPI\): WAV 2000 refused: outside 250 to 1300",
                r"^SCPI: closed the connection from 127\.0\.0\.1 without carrying out anything"]:
    if not re.search(pattern, logged, re.MULTILINE):
        failures.append(f"monopanel-server logged nothing matching {pattern!r}")
if "WAV 700" in logged:
    failures.append("the body of the HTTP request reached the instrument")
if failures:
    print(f"== what monopanel-server wrote to standard error\n{logged}")
for failure in failures:
    print(f"FAIL: {failure}")
sys.exit(1 if failures else 0)
