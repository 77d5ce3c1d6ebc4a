#!/usr/bin/python3
"""The SCPI server as a PyVISA user meets it: `tesmar --headless --serve`
against the simulator, driven through PyVISA's raw socket resource.

    pyvisa_test.py TESMAR K4SIM README

Each case prints its name; the first failure ends the run with status 1.
The simulator's log shows what reached the instrument, so every function
measured is checked there as well as in the answer."""

import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import pyvisa

TESMAR, K4SIM, README = sys.argv[1:4]
NOT_A_NUMBER = 9.91e37


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Rig:
    """The simulator as COM1 and the server on a free port, in a private
    configuration folder."""

    def __init__(self, folder):
        self.folder = folder
        self.env = dict(os.environ, XDG_CONFIG_HOME=folder, QT_QPA_PLATFORM="offscreen")
        self.log = os.path.join(folder, "k4sim.log")
        self.trace = os.path.join(folder, "serve.trc")
        self.sim = subprocess.Popen([K4SIM, "--com", "1", "--log", self.log], env=self.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.sim.stdout.readline()  # the pty's path: the link exists now
        self.server = subprocess.Popen([TESMAR, "--headless", "--serve=0", "--timeout", "2",
                                        "--trace=" + self.trace],
                                       env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       text=True)
        said = ""
        found = None
        while not found:
            line = self.server.stderr.readline()
            check(line, "the server did not say where it serves: " + said)
            said += line
            found = re.search(r"serving SCPI on 127\.0\.0\.1:(\d+)", line)
        self.port = int(found.group(1))
        self.rm = pyvisa.ResourceManager("@py")

    def open(self):
        return self.rm.open_resource(f"TCPIP::127.0.0.1::{self.port}::SOCKET", read_termination="\n",
                                     write_termination="\n", timeout=20000)

    def raw(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=20)

    def command_lines(self):
        """The command lines the simulator received, in order (probes
        and the characters of its answers aside)."""
        text = ""
        with open(self.log) as log:
            for entry in log:
                fields = entry.split()
                if len(fields) >= 2:
                    text += chr(int(fields[1], 16))
        return [line.replace("!", "") for line in text.split("\n") if line.replace("!", "")]

    def close(self):
        for p in (self.server, self.sim):
            if p.poll() is None:
                p.kill()
                p.wait()


def identification(rig, meter):
    fields = meter.query("*IDN?").split(",")
    check(len(fields) == 4 and fields[0] == "Tesmar" and fields[1] == "K4-18/3", f"*IDN? gave {fields}")


# (header, parameters, the instrument's command, the largest magnitude)
FUNCTIONS = [
    ("MEASure:VOLTage:DC?", "20", "U2", 20),
    ("MEAS:VOLT?", "0.1", "U0", 0.2),
    ("meas:volt:ac?", "MAX", "V4", 1000),
    ("MEAS:CURR?", "", "I1", 2),
    ("MEASure:CURRent:AC?", "DEF", "J1", 2),
    ("MEAS:RES?", "2E6", "R4", 2e6),
    ("MEAS:FRES?", "MIN", "Z0", 200),
    ("MEAS:FREQ?", "", "F0", 1e6),
    ("MEAS:PER?", "", "T0", 1),
]


def each_function(rig, meter):
    for header, parameters, sent, largest in FUNCTIONS:
        value = float(meter.query(f"{header} {parameters}".strip()))
        check(0 < abs(value) <= largest, f"{header} {parameters} gave {value}")
        lines = rig.command_lines()
        # A setting made while the link comes up goes out with the set-up,
        # in the line that restores the panel's settings (function first).
        check(lines and lines[-1].startswith(sent),
              f"{header}: the instrument's last command was {lines[-1:]}, not {sent}")
    # Each part of a setting reaches the instrument, one command after the
    # other (the panel sends only the last command asked for before its
    # command step).
    meter.write("CONF:FRES 2E5,MAX")
    check(meter.query("*OPC?") == "1", "*OPC?")
    lines = rig.command_lines()
    check(lines[-2:] == ["Z3", "H0"], f"CONF:FRES 2E5,MAX reached the instrument as {lines[-2:]}")
    meter.write("CONF:VOLT:AC 2,MIN;:SENS:FUNC 'RES'")
    check(meter.query("FUNC?") == '"RES"', "FUNCtion did not take the string")
    check(meter.query("CONF?").startswith('"RES +2.00000000E+03'), "CONFigure? after FUNCtion")
    check(meter.query("SYST:ERR?") == '0,"No error"', "a good chain left an error")


def error_queue(rig, meter):
    meter.write("*CLS")
    meter.write("FOO:BAR")
    meter.write("CONF:VOLT 5000")
    meter.write("CONF:VOLT 1.2.3")
    answers = [meter.query("SYSTem:ERRor?") for _ in range(4)]
    check([a.split(",")[0] for a in answers] == ["-113", "-222", "-102", "0"], f"the queue gave {answers}")
    for _ in range(25):
        meter.write("NO:SUCH")
    codes = [meter.query("SYST:ERR:NEXT?").split(",")[0] for _ in range(21)]
    check(codes == ["-113"] * 19 + ["-350", "0"], f"an overflowing queue gave {codes}")
    meter.write("NO:SUCH")
    meter.write("*CLS")
    check(meter.query("SYST:ERR?") == '0,"No error"', "*CLS left the queue")


def two_clients(rig, meter):
    other = rig.open()
    meter.write("NO:SUCH")
    check(other.query("SYST:ERR?") == '0,"No error"', "one client read another's error")
    results = {}

    def measure(name, client, query, low, high):
        values = [float(client.query(query)) for _ in range(3)]
        results[name] = all(low <= abs(v) <= high for v in values), values

    threads = [threading.Thread(target=measure, args=("volts", meter, "MEAS:VOLT? 0.2", 0, 0.2)),
               threading.Thread(target=measure, args=("ohms", other, "MEAS:RES? 2E6", 2e5, 2e6))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    check(all(ok for ok, _ in results.values()), f"readings of the other client's setting: {results}")
    check(meter.query("SYST:ERR?").startswith("-113"), "the first client lost its own error")
    other.close()


def hostile_client(rig, meter):
    s = rig.raw()
    s.sendall(b"*IDN" + b"X" * (70 * 1024) + b"?\n")
    s.sendall(b"SYST:ERR?\n")
    reply = s.makefile("rb").readline()
    check(reply.startswith(b"-363,"), f"an overlong line gave {reply!r}")
    s.sendall(b"\xff\xfe*IDN?\x00\nSYST:ERR?\n")
    reply = s.makefile("rb").readline()
    check(reply.startswith(b"-101,"), f"bytes beyond ASCII gave {reply!r}")
    s.close()
    for _ in range(3):
        gone = rig.raw()
        gone.sendall(b"MEAS:RES?\n")
        gone.close()
    crowd = [rig.raw() for _ in range(20)]  # beyond the limit: refused, nothing else
    for c in crowd:
        c.close()
    check(meter.query("*IDN?").startswith("Tesmar,"), "the server stopped answering")
    check(rig.server.poll() is None, "the server ended")


def silent_instrument(rig, meter):
    rig.sim.send_signal(signal.SIGUSR1)
    try:
        value = float(meter.query("READ?"))
        check(value == NOT_A_NUMBER, f"a silent instrument gave {value}")
        check(meter.query("SYST:ERR?").startswith("-240,"), "no hardware error for a silent instrument")
    finally:
        rig.sim.send_signal(signal.SIGUSR2)
    deadline = time.monotonic() + 60
    while float(meter.query("MEAS:VOLT? 2")) == NOT_A_NUMBER:
        check(time.monotonic() < deadline, "the instrument came back but no reading did")
    meter.write("*CLS")


def readme_example(rig, meter):
    text = open(README, encoding="utf-8").read()
    section = text.split("## Serving the meter on the network", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    code = code.replace("::5025::", f"::{rig.port}::")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    check(run.returncode == 0, f"the README's example failed: {run.stderr}")
    check("K4-18/3" in run.stdout, f"the README's example printed {run.stdout}")


def port_in_use(rig, meter):
    second = subprocess.run([TESMAR, "--headless", f"--serve={rig.port}"], env=rig.env, capture_output=True,
                            text=True, timeout=60)
    check(second.returncode == 6 and "in use" in second.stderr,
          f"a second server on the port: {second.returncode} {second.stderr}")


def stopped_by_signal(rig, meter):
    meter.close()
    rig.server.send_signal(signal.SIGTERM)
    check(rig.server.wait(timeout=30) == 0, f"SIGTERM ended the server with {rig.server.returncode}")
    check(os.path.getsize(rig.trace) > 0, "no trace written at the end")


CASES = [identification, each_function, error_queue, two_clients, hostile_client, silent_instrument,
         readme_example, port_in_use, stopped_by_signal]


def main():
    with tempfile.TemporaryDirectory(prefix="tesmar-pyvisa-") as folder:
        rig = Rig(folder)
        try:
            meter = rig.open()
            for case in CASES:
                print(case.__name__, flush=True)
                case(rig, meter)
        except (Failure, pyvisa.errors.VisaIOError, subprocess.TimeoutExpired) as e:
            print(f"FAILED: {e}", flush=True)
            return 1
        finally:
            rig.close()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
