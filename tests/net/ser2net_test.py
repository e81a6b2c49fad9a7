#!/usr/bin/env python3
"""kolvane-send and kolvane-serve through a real serial-to-network server to kolvane-sim on
a pty: raw and RFC 2217 ports, the speed reaching the device, and ports the server cannot open.
Exits 77 (skipped) when ser2net is not installed.

    ser2net_test.py KOLVANE_SEND KOLVANE_SERVE KOLVANE_SIM
"""
import os
import pathlib
import re
import shutil
import socket
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import ENV, WORK, check, expect, log, procs, run, start, stop, wait_for  # noqa: E402

SEND, SERVE, SIM = sys.argv[1:4]
SER2NET = shutil.which("ser2net", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
if not SER2NET:
    print("SKIP: ser2net is not installed")
    shutil.rmtree(WORK, ignore_errors=True)
    sys.exit(77)
first_setting = []  # what the pty had before ser2net opened it, and gets back after


def free_ports(count):
    """Ports nobody listens on now; held together so that they differ."""
    socks = [socket.create_server(("127.0.0.1", 0)) for _ in range(count)]
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports


def listening(ports):
    found = set()
    for line in pathlib.Path("/proc/net/tcp").read_text().splitlines()[1:]:
        local, state = line.split()[1], line.split()[3]
        if state == "0A" and local.startswith("0100007F:"):
            found.add(int(local.split(":")[1], 16))
    return set(ports) <= found


def sim_since(mark):
    """The simulator's lines after `mark` characters of its log: frames, answers, settings."""
    return [l for l in log("sim")[mark:].splitlines() if re.match(r"(rx|tx|line) ", l)]


def setting_at_first_frame(lines):
    """The line settings the device had when the first frame reached it."""
    setting = None
    for line in lines:
        if line.startswith("rx "):
            return setting
        if line.startswith("line "):
            setting = line
    return None


def released():
    """Waits until the server has closed the device and put its settings back."""
    wait_for("ser2net did not let the device go",
             lambda: log("sim").rstrip().endswith(first_setting[0]))


def send(*args):
    return subprocess.run([SEND, *args], capture_output=True, text=True, env=ENV, timeout=15)


def start_ser2net(pty):
    raw, telnet, missing = free_ports(3)
    device = f"{pty},9600n81,local"
    pathlib.Path(f"{WORK}/ser2net.yaml").write_text(f"""%YAML 1.1
---
connection: &raw
  accepter: tcp,127.0.0.1,{raw}
  connector: serialdev,{device}
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,{telnet}
  connector: serialdev,{device}
connection: &missing
  accepter: tcp,127.0.0.1,{missing}
  connector: serialdev,{WORK}/no-such-device,9600n81,local
""")
    start("ser2net", [SER2NET, "-n", "-d", "-c", f"{WORK}/ser2net.yaml"])
    wait_for("ser2net did not listen", lambda: listening([raw, telnet, missing]) or
             "Unable to startup" in log("ser2net") or procs["ser2net"].poll() is not None)
    check(listening([raw, telnet, missing]) and "Unable to startup" not in log("ser2net"),
          f"ser2net did not take its ports: {log('ser2net')}")
    return raw, telnet, missing


def check_keys_through_both_ports(raw, telnet):
    # A raw port leaves the device at the server's own 9600; port control sets it.
    cases = [
        (f"socket://127.0.0.1:{raw}", "19200", "line 9600 8N1"),
        (f"rfc2217://127.0.0.1:{telnet}", "19200", "line 19200 8N1"),
        (f"RFC2217://127.0.0.1:{telnet}", "4800", "line 4800 8N1"),
    ]
    for port, baud, setting in cases:
        mark = len(log("sim"))
        got = send("--port", port, "--baud", baud, "--wait", "1000", "power", "1ch_show")
        expect((got.returncode, got.stdout, got.stderr),
               (0, "KEY_POWER_ON/OFF\n_IR_KEY_1CH_Show\n", ""), f"keys through {port}")
        lines = sim_since(mark)
        expect([l.split(" -> ")[1] for l in lines if l.startswith("rx ")],
               ["KEY_POWER_ON/OFF", "_IR_KEY_1CH_Show"], f"frames through {port}: {lines}")
        expect(setting_at_first_frame(lines), setting, f"the device's line through {port}")
        released()


def check_failed_opens(raw, telnet, missing):
    # The server takes the connection, says why it cannot open its port, and closes.
    cases = [
        (f"socket://127.0.0.1:{missing}", None, "Device open failure"),
        (f"rfc2217://127.0.0.1:{telnet}", telnet, "Port already in use"),
        (f"socket://127.0.0.1:{raw}", telnet, "Port's device already in use"),
    ]
    wrong = []
    for port, held, says in cases:
        holder = socket.create_connection(("127.0.0.1", held), timeout=5) if held else None
        try:
            if holder:
                wait_for("the holder's connection did not open the device",
                         lambda: log("sim").rstrip().endswith("line 9600 8N1"))
            mark = len(log("sim"))
            got = send("--port", port, "power")
            err = got.stderr.splitlines()
            if not (got.returncode == 3 and got.stdout == "" and len(err) == 1 and
                    err[0].startswith(f"kolvane-send: cannot open {port}: ") and says in err[0]):
                wrong.append(f"{port}: wanted exit 3 and one line naming \"{says}\"; got exit "
                             f"{got.returncode}: {got.stdout!r} {got.stderr!r}")
            if frames := [l for l in sim_since(mark) if l.startswith("rx ")]:
                wrong.append(f"{port}: frames reached the device: {frames}")
        finally:
            if holder:
                holder.close()
        if holder:
            released()
    check(not wrong, "failed opens:\n  " + "\n  ".join(wrong))


def check_serve(telnet):
    port = f"rfc2217://127.0.0.1:{telnet}"
    mark = len(log("sim"))
    start("serve", [SERVE, "--port", port, "--baud", "19200", "--no-retry",
                    "--tcp", "127.0.0.1:0"])
    tcp = int(wait_for("kolvane-serve did not listen", lambda: re.search(
        r"TCP lines on 127\.0\.0\.1:(\d+)$", log("serve"), re.M))[1])
    wait_for(f"kolvane-serve did not open {port}", lambda: f"opened {port}" in log("serve"))
    with socket.create_connection(("127.0.0.1", tcp), timeout=5) as lines:
        lines.sendall(b"power\n")
        expect(lines.makefile("rb").readline(), b"KEY_POWER_ON/OFF\n", "a key through serve")
    # kolvane-send finds the port held and goes through its holder, not to the server.
    got = send("--port", port.upper(), "--wait", "1000", "#13")
    expect((got.returncode, got.stdout, got.stderr), (0, "_IR_KEY_1CH_Show\n", ""),
           "kolvane-send through kolvane-serve")
    lines = sim_since(mark)
    expect(len([l for l in lines if l.startswith("rx ")]), 2, f"frames through serve: {lines}")
    expect(setting_at_first_frame(lines), "line 19200 8N1", "the device's line through serve")
    stop("serve")
    released()


def main():
    os.makedirs(f"{WORK}/config/kolvane/ports")
    os.mkdir(f"{WORK}/runtime", 0o700)
    start("sim", [SIM, "--show-line"])
    pty = wait_for("the simulator did not start",
                   lambda: re.search(r"^kolvane-sim: device on (\S+)$", log("sim"), re.M))[1]
    first_setting.append(wait_for("the simulator did not show its line", lambda: re.search(
        r"^line .*$", log("sim"), re.M))[0])
    raw, telnet, missing = start_ser2net(pty)
    check_keys_through_both_ports(raw, telnet)
    check_serve(telnet)
    check_failed_opens(raw, telnet, missing)


if __name__ == "__main__":
    run(main)
