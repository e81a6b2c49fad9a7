#!/usr/bin/env python3
"""The HTTP, WebSocket and TCP-line API of kolvane-serve and of the window against
kolvane-sim: every way in, every refusal, the token, two clients at once.

    api_test.py KOLVANE_SERVE KOLVANE_SEND KOLVANE_SIM KOLVANE VERSION
"""
import base64
import hashlib
import http.client
import json
import os
import re
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import ENV, WORK, check, expect, log, run, start, stop, wait_for  # noqa: E402

SERVE, SEND, SIM, WINDOW, VERSION = sys.argv[1:6]
ENV["QT_QPA_PLATFORM"] = "offscreen"


def frames():
    return [line for line in log("sim").splitlines() if line.startswith("rx ")]


def serve(name, argv):
    """Starts a server on port 0; the ports it says it took."""
    start(name, argv)
    ports = {}
    for option, says in (("--http", r"HTTP API on http://(.+):(\d+)/api/v1/"),
                         ("--tcp", r"TCP lines on (.+):(\d+)")):
        if option in argv:
            found = wait_for(f"{name} did not say where {option} listens", lambda: re.search(
                f"^{os.path.basename(argv[0])}: {says}$", log(name), re.M))
            expect(found[1], argv[argv.index(option) + 1].rsplit(":", 1)[0], f"{name} {option}")
            ports[option[2:]] = int(found[2])
    return ports


def no_cors(what, headers):
    expect([h for h in headers if h[0].lower().startswith("access-control-")], [],
           f"{what}: headers that let a web page read the answer")


def request(sock, method, path, head, body=b""):
    sock.sendall(f"{method} {path} HTTP/1.1\r\n".encode() + b"".join(
        f"{k}: {v}\r\n".encode() for k, v in head.items()) + b"\r\n" + body)


def call(port, method, path, body=b"", headers=None):
    """One HTTP request on a connection of its own: the status and the JSON body."""
    head = {"Host": f"127.0.0.1:{port}", "Connection": "close", **(headers or {})}
    body = body if isinstance(body, bytes) else json.dumps(body).encode()
    if method == "POST" or body:
        head["Content-Length"] = len(body)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        request(s, method, path, head, body)
        r = http.client.HTTPResponse(s)
        r.begin()
        data = r.read()
    no_cors(f"{method} {path}", r.getheaders())
    try:
        return r.status, json.loads(data)
    except ValueError:
        raise AssertionError(f"{method} {path}: {r.status} with a body that is not JSON: {data!r}")


def curl(url, *args):
    out = subprocess.run(["curl", "-sS", "-w", "\n%{http_code}", *args, url], capture_output=True,
                         text=True, timeout=15)
    check(out.returncode == 0, f"curl {url}: {out.stderr}")
    body, _, status = out.stdout.rpartition("\n")
    return int(status), json.loads(body)


class Lines:
    def __init__(self, port, host="127.0.0.1"):
        self.sock = socket.create_connection((host, port), timeout=10)
        self.file = self.sock.makefile("rb")

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode() + b"\n")

    def read(self):
        return self.file.readline().decode(errors="replace").removesuffix("\n")

    def ask(self, line):
        self.send(line)
        return self.read()

    def event(self):
        while (line := self.read()).startswith("EVENT log "):
            pass
        return line

    def closed(self):
        self.sock.settimeout(3)
        try:
            return self.file.read() == b""
        except ConnectionResetError:
            return True


class WebSocket:
    def __init__(self, port, headers=None):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.file = self.sock.makefile("rb")
        key = base64.b64encode(os.urandom(16)).decode()
        request(self.sock, "GET", "/api/v1/events", {
            "Host": f"127.0.0.1:{port}", "Upgrade": "websocket", "Connection": "Upgrade",
            "Sec-WebSocket-Key": key, "Sec-WebSocket-Version": 13, **(headers or {})})
        self.status, head = int(self.file.readline().split()[1]), {}
        while line := self.file.readline().decode().strip():
            head[line.partition(":")[0].lower()] = line.partition(":")[2].strip()
        no_cors("GET /api/v1/events", list(head.items()))
        accept = base64.b64encode(hashlib.sha1(
            (key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()
        check(self.status != 101 or head.get("sec-websocket-accept") == accept, f"handshake {head}")
        self.logs = []

    def frame(self):
        b0, b1 = self.file.read(2)
        check(b0 & 0x80 and not b1 & 0x80, f"a fragmented or masked frame {b0:#x} {b1:#x}")
        n = b1 & 0x7F
        if n >= 126:
            n = int.from_bytes(self.file.read(2 if n == 126 else 8), "big")
        return b0 & 0x0F, self.file.read(n)

    def message(self):
        """The next message that is not a log line."""
        while True:
            opcode, payload = self.frame()
            check(opcode in (1, 9, 10), f"WebSocket opcode {opcode}: {payload!r}")
            if opcode == 1:
                message = json.loads(payload)
                if message.get("event") != "log":
                    return message
                self.logs.append(message["line"])

    def log_line(self):
        """The next log line, after whatever comes before it."""
        while not self.logs:
            opcode, payload = self.frame()
            if opcode == 1 and (message := json.loads(payload)).get("event") == "log":
                self.logs.append(message["line"])
        return self.logs.pop(0)

    def close(self):
        mask = os.urandom(4)
        self.sock.sendall(bytes([0x88, 0x82]) + mask + bytes([0x03 ^ mask[0], 0xE8 ^ mask[1]]))
        while (opcode := self.frame()[0]) != 8:
            check(opcode in (1, 9, 10), f"WebSocket opcode {opcode} before the close")
        self.sock.close()


def check_endpoints(ports, keys):
    web, tcp = ports["http"], Lines(ports["tcp"])
    expect(curl(f"http://127.0.0.1:{web}/api/v1/state"), (200, {
        "port": "COM6", "open": True, "answer": None, "program": f"kolvane-serve {VERSION}"}),
        "GET /api/v1/state")
    expect(call(web, "GET", "/api/v1/keys"), (200, keys), "GET /api/v1/keys")
    for name, hint in [("power", "POWER_ON/OFF"), ("POWER_ON%2FOFF", "POWER_ON/OFF"),
                       ("1ch", "1CH_Show"), ("key_audio_ch2", "AUDIO_CH2"), ("%2317", "4_Split"),
                       ("OUTSIZE%20720P%2F1080P", "OUTSIZE 720P/1080P"),
                       ("2_34Split?wait=1000", "2_34Split")]:
        key, before = next(k for k in keys if k["hint"] == hint), len(frames())
        status, body = call(web, "POST", f"/api/v1/keys/{name}")
        expect((status, body.get("key"), body.get("sent"), body.get("answer")),
               (200, hint, key["command"] + "\n", key["answer"]), f"POST /api/v1/keys/{name}")
        check(isinstance(body.get("ms"), int) and 0 < body["ms"] < 1000, f"ms: {body}")
        sent = frames()[before:]
        check(len(sent) == 1 and f'"{key["command"]}\\n"' in sent[0], f"{name}: the device got {sent}")
    expect(call(web, "GET", "/api/v1/state")[1]["answer"], "KEY_2_34Split", "the last answer")
    status, body = curl(f"http://127.0.0.1:{web}/api/v1/text", "-d", '{"text":"G45g"}')
    expect((status, body.get("text"), body.get("sent"), body.get("answer")),
           (200, "G45g", "G45g\n", "KEY_POWER_ON/OFF"), "POST /api/v1/text")
    # ZZZZ is no command of the device's: nothing answers it, neither in time nor late.
    status, body = call(web, "POST", "/api/v1/text?wait=50", {"text": "ZZZZ"})
    expect((status, body.get("error"), body.get("sent")), (504, "no answer in 50 ms", "ZZZZ\n"),
           "a command nothing answers")

    expect(call(web, "POST", "/api/v1/port", {"open": False})[1]["open"], False, "port off")
    off_at, not_open = time.monotonic(), (409, {"error": "the port is not open"})
    expect(call(web, "POST", "/api/v1/keys/power"), not_open, "a key with the port off")
    expect(call(web, "POST", "/api/v1/text", {"text": "G45g"}), not_open, "a text with the port off")
    expect([tcp.ask("power"), tcp.ask("state")], ["ERR the port is not open", "OFF COM6"], "TCP off")
    # kolvane-serve opens a lost port again after 2 s; one switched off has to stay off.
    time.sleep(max(0, off_at + 2.5 - time.monotonic()))
    expect(call(web, "GET", "/api/v1/state")[1]["open"], False, "2.5 s after port off")
    expect(call(web, "POST", "/api/v1/port", {"open": True})[1]["open"], True, "port on")
    expect(call(web, "POST", "/api/v1/search"), (409, {
        "error": "the port was open: the search switched it off; search again to scan"}), "search")
    status, body = call(web, "POST", "/api/v1/search")
    expect((status, body.get("port"), body.get("open")), (200, "COM6", True), "the second search")


def check_refusals(port):
    here, missing = f"127.0.0.1:{port}", object()
    # method, path, body, headers, status, the body's fields or a part of its "error"
    table = [
        ("POST", "/api/v1/keys/powr", b"", {}, 404,
         {"error": 'unknown key "powr"', "names": ["POWER_ON/OFF"]}),
        ("POST", "/api/v1/keys/1_3", b"", {}, 404, {"names": [
            "1_3_Split", "1_3_Split_M0", "1_3_Split_M1", "1_3_Split_M2", "1_3_Split_M3"]}),
        ("POST", "/api/v1/keys/POWER_ON%252FOFF", b"", {}, 404, "unknown key"),
        ("POST", "/api/v1/keys/Reserved", b"", {}, 400, "reserved"),
        ("POST", "/api/v1/keys/%236", b"", {}, 400, "reserved"),
        *[("POST", f"/api/v1/keys/power?wait={w}", b"", {}, 400, "wait")
          for w in ("5001", "-1", "abc", "")],
        *[(m, path, b"", {}, 405, "") for m, path in [
            ("GET", "/api/v1/keys/power"), ("GET", "/api/v1/search"), ("POST", "/api/v1/state"),
            ("DELETE", "/api/v1/keys"), ("OPTIONS", "/api/v1/keys/power")]],
        *[("GET", path, b"", {}, 404, "") for path in ("/", "/api/v1/", "/api/v2/state", "/api/v1/x")],
        *[("POST", "/api/v1/text", body, {}, 400, "") for body in (
            b"{text", b"", b'{"text":5}', b'{"txt":"G45g"}', b'{"text":""}', b'{"text":"G\\u00e9g"}',
            b'["G45g"]')],
        *[("POST", "/api/v1/port", body, {}, 400, "") for body in (b'{"open":"yes"}', b"{}")],
        *[("GET", "/api/v1/state", b"", {"Origin": o}, 403, "") for o in (
            "http://example.com", "null", f"https://{here}", f"http://{here}.example.com")],
        ("OPTIONS", "/api/v1/keys/power", b"", {
            "Origin": "http://example.com", "Access-Control-Request-Method": "POST"}, 403, ""),
        ("POST", "/api/v1/keys/power", b"", {"Origin": "http://example.com"}, 403, ""),
        *[("GET", "/api/v1/state", b"", {"Host": h}, 403, "") for h in (
            "evil.example", f"evil.example:{port}", f"127.0.0.1.evil.example:{port}")],
        *[("GET", "/api/v1/state", b"", h, 200, {"open": True}) for h in (
            {"Origin": f"http://{here}"}, {"Host": f"localhost:{port}"}, {"Host": f"[::1]:{port}"},
            {"X-Pad": "x" * 7 * 1024})],
        ("GET", "/api/v1/state", b"", {"X-Pad": "x" * 9 * 1024}, 431, ""),
        ("POST", "/api/v1/text", b'{"text":"G45g","x":"' + b"x" * 5120 + b'"}', {}, 413, ""),
    ]
    before = len(frames())
    for method, path, body, headers, status, says in table:
        what = f"{method} {path} {str(headers)[:60]} {body[:30]!r}"
        got, answer = call(port, method, path, body, headers)
        expect(got, status, what)
        if isinstance(says, dict):
            expect({k: answer.get(k, missing) for k in says}, says, what)
        else:
            check(status == 200 or says in answer.get("error", ""), f"{what}: {answer}")
    expect(frames()[before:], [], "the device got frames from refused requests")

    # Those over the bound of connections are turned away, and the server goes on.
    socks, outcomes = [socket.create_connection(("127.0.0.1", port), timeout=3) for _ in range(40)], []
    for s in socks:
        try:
            request(s, "GET", "/api/v1/state", {"Host": here})
            r = http.client.HTTPResponse(s)
            r.begin()
            r.read()
            outcomes.append(r.status)
        except socket.timeout:
            outcomes.append("no answer")
        except (OSError, http.client.HTTPException):
            outcomes.append("closed")
    for s in socks:
        s.close()
    check(outcomes.count(200) <= 32 and set(outcomes) <= {200, 503, "closed"} and
          (503 in outcomes or "closed" in outcomes), f"40 connections: {outcomes}")
    wait_for("no answer after 40 connections", lambda: call(port, "GET", "/api/v1/state")[0] == 200)


def check_events(port):
    expect(WebSocket(port, {"Origin": "http://example.com"}).status, 403, "a web page's WebSocket")
    ws = WebSocket(port, {"Origin": f"http://127.0.0.1:{port}"})
    expect(ws.status, 101, "the WebSocket handshake")
    first = ws.message()
    expect((first["event"], first["port"], first["open"]), ("state", "COM6", True), "first message")
    call(port, "POST", "/api/v1/keys/power")
    expect(ws.message(), {"event": "answer", "answer": "KEY_POWER_ON/OFF"}, "answer event")
    expect(ws.log_line(), "KEY_POWER_ON/OFF", "log event")
    for on in (False, True):
        call(port, "POST", "/api/v1/port", {"open": on})
        got = ws.message()
        expect({k: got.get(k) for k in ("event", "open", "port")},
               {"event": "port", "open": on, "port": "COM6"}, f"port event, open {on}")
        check(on or got.get("reason") == "switch", f"the reason for a switch-off: {got}")
    ws.close()


def check_lines(ports):
    client, watcher = Lines(ports["tcp"]), Lines(ports["tcp"])
    for line, reply in [("power", "KEY_POWER_ON/OFF"), ("#13", "_IR_KEY_1CH_Show"),
                        ("OUTSIZE 720P/1080P", "KEY_CHANGE_OUTSIZE"), ("power\r", "KEY_POWER_ON/OFF"),
                        ("text G45g", "KEY_POWER_ON/OFF"), ("state", "ON COM6"),
                        ("Reserved", "ERR the reserved key sends nothing"),
                        ("text ZZZZ", "ERR no answer in 300 ms"), ("4ch", "_IR_KEY_4CH_Show")]:
        expect(client.ask(line), reply, f"TCP line {line!r}")
    expect(watcher.ask("watch"), "OK", "watch")
    call(ports["http"], "POST", "/api/v1/keys/2ch")
    expect(watcher.event(), "EVENT answer _IR_KEY_2CH_Show", "the event of another client's key")
    expect(client.ask("off"), "OFF COM6", "off")
    check(watcher.event().startswith("EVENT port off COM6"), "no event for off")
    expect(client.ask("on"), "ON COM6", "on")
    expect(watcher.event(), "EVENT port on COM6", "the event for on")

    # A browser's request, an unknown key, a control byte, an endless line: one ERR, then closed.
    for data, says in [(b"POST / HTTP/1.1\r\nHost: x\r\n\r\npower\n", "ERR "),
                       (b"powr\npower\n", "ERR "), (b"pow\x01er\npower\n", "ERR "),
                       (b"p" * 1100 + b"\npower\n", "ERR line too long")]:
        before, refused = len(frames()), Lines(ports["tcp"])
        refused.send(data)
        reply = refused.read()
        check(reply.startswith(says) and refused.closed(), f"{data[:40]!r}: {reply!r}")
        expect(frames()[before:], [], f"{data[:40]!r}: the device got")
    out = subprocess.run(f"printf 'power\\n' | nc -q1 127.0.0.1 {ports['tcp']}", shell=True,
                         capture_output=True, text=True, timeout=10).stdout
    expect(out, "KEY_POWER_ON/OFF\n", "nc")


def check_two_clients(ports, keys):
    pressable, got, lock = [k for k in keys if k["command"]], [], threading.Lock()

    def press(way, mine):
        lines = Lines(ports["tcp"]) if way == "tcp" else None
        for i in range(20):
            key = mine[i % len(mine)]
            if lines:
                answer = lines.ask(f"#{key['number']}")
            else:
                answer = call(ports["http"], "POST", f"/api/v1/keys/%23{key['number']}?wait=2000")[1]
                answer = answer.get("answer", answer)
            with lock:
                got.append((way, key["answer"], answer))
    threads = [threading.Thread(target=press, args=a)
               for a in (("http", pressable[:10]), ("tcp", pressable[10:]))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    expect(len(got), 40, "presses done by two clients at once")
    expect([g for g in got if g[1] != g[2]], [], "replies without their own key's answer")


def check_token():
    token, path = "t0k3n-" + os.urandom(8).hex(), f"{WORK}/token"
    with open(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(token + "\n")
    ports = serve("token", [SERVE, "--port", "COM6", "--http", "0.0.0.0:0", "--tcp", "0.0.0.0:0",
                            "--token-file", path])
    wait_for("not opened with a token", lambda: "opened COM6" in log("token"))
    url = f"http://127.0.0.1:{ports['http']}/api/v1"
    for auth, status in [(None, 401), ("Bearer wrong", 401), (f"Bearer {token[:-1]}", 401),
                         (f"Basic {token}", 401), (f"Bearer {token}", 200)]:
        headers = {"Authorization": auth} if auth else {}
        expect(call(ports["http"], "GET", "/api/v1/state", b"", headers)[0], status, f"auth {auth}")
    expect(curl(f"{url}/keys/power", "-X", "POST")[0], 401, "a key without the token")
    expect(WebSocket(ports["http"]).status, 401, "a WebSocket without the token")
    status, body = curl(f"{url}/keys/power", "-X", "POST", "-H", f"Authorization: Bearer {token}")
    expect((status, body.get("answer")), (200, "KEY_POWER_ON/OFF"), "a key with the token")
    before = len(frames())
    for first in ("auth wrong", "power"):
        c = Lines(ports["tcp"])
        reply = c.ask(first)
        check(reply.startswith("ERR ") and c.closed(), f"TCP {first!r} first: {reply!r}")
    expect(frames()[before:], [], "frames sent without the token")
    c = Lines(ports["tcp"])
    expect([c.ask(f"auth {token}"), c.ask("power")], ["OK", "KEY_POWER_ON/OFF"], "TCP with token")
    stop("token")


def check_command_lines():
    loose = f"{WORK}/loose-token"
    with open(loose, "w") as f:
        f.write("secret\n")
    beyond = "listening beyond this computer needs --token-file"
    # program, mode of the token file, options, a part of the one line it says
    for program, mode, options, says in [
            (SERVE, 0o644, ["--http", "127.0.0.1:0", "--token-file", loose], loose),
            (WINDOW, 0o640, ["--tcp", "127.0.0.1:0", "--token-file", loose], loose),
            (SERVE, 0o600, ["--http", "0.0.0.0:0"], f"kolvane-serve: --http 0.0.0.0:0: {beyond}"),
            (SERVE, 0o600, ["--tcp", "[::]:0"], f"kolvane-serve: --tcp [::]:0: {beyond}"),
            (WINDOW, 0o600, ["--http", "0.0.0.0:0"], f"kolvane: --http 0.0.0.0:0: {beyond}")]:
        os.chmod(loose, mode)
        r = subprocess.run([program, "--port", "COM6", *options], capture_output=True, text=True,
                           timeout=10, env=ENV)
        what = f"{os.path.basename(program)} {' '.join(options)}, the token file {mode:o}"
        expect((r.returncode, r.stdout, len(r.stderr.splitlines())), (2, "", 1), what)
        check(says in r.stderr, f"{what}: said {r.stderr!r}")


def check_window():
    ports = serve("window", [WINDOW, "--port", "COM6", "--on", "--http", "127.0.0.1:0",
                             "--tcp", "[::1]:0"])
    web = ports["http"]
    wait_for("the window did not open COM6", lambda: call(web, "GET", "/api/v1/state")[1]["open"])
    expect(call(web, "GET", "/api/v1/state")[1]["program"], f"kolvane {VERSION}", "the window")
    status, body = call(web, "POST", "/api/v1/keys/power")
    expect((status, body.get("answer")), (200, "KEY_POWER_ON/OFF"), "a key through the window")
    lines = Lines(ports["tcp"], "::1")
    expect(lines.ask("#13"), "_IR_KEY_1CH_Show", "a TCP line to the window over IPv6")
    ws = WebSocket(web)
    expect(ws.message()["event"], "state", "the window's first event")
    stop("sim")  # the device goes away
    got = ws.message()
    expect((got["event"], got["open"], got.get("reason")), ("port", False, "gone"), "device gone")
    status, body = call(web, "POST", "/api/v1/port", {"open": True})
    check(status == 409 and body["error"].startswith("cannot open COM6") and
          "No such file or directory" in body["error"], f"a port that is not there: {body}")
    check(lines.ask("on").startswith("ERR cannot open COM6"), "TCP on without a device")
    expect(call(web, "POST", "/api/v1/search"), (404, {"error": "no device found on COM1 to COM20"}),
           "a search that finds nothing")
    ws.close()
    stop("window")


def check_opening():
    """While a network port's open waits on a server that never answers, the switch and the
    search are answered at once, not left waiting for an open that is not theirs."""
    silent = socket.create_server(("127.0.0.1", 0))  # the system accepts; nobody answers
    port = f"rfc2217://127.0.0.1:{silent.getsockname()[1]}"
    try:
        web = serve("opening", [SERVE, "--port", port, "--http", "127.0.0.1:0"])["http"]
        for path, body in (("/api/v1/search", b""), ("/api/v1/port", {"open": True})):
            end, got = time.monotonic() + 10, None
            while got != (409, {"error": "the port is opening"}) and time.monotonic() < end:
                got = call(web, "POST", path, body)
            expect(got, (409, {"error": "the port is opening"}), f"POST {path} while opening")
        stop("opening")
    finally:
        silent.close()


def main():
    os.makedirs(f"{WORK}/config/kolvane/ports")
    os.mkdir(f"{WORK}/runtime", 0o700)
    for n in range(1, 21):  # no COM name may lead to a real port of the machine
        os.symlink(f"{WORK}/nothing{n}", f"{WORK}/config/kolvane/ports/com{n}")
    start("sim", [SIM, "--as", "COM6"])
    wait_for("the simulator did not start", lambda: re.search(" as COM6$", log("sim"), re.M))
    listed = subprocess.run([SEND, "--list-keys", "--json"], capture_output=True, text=True,
                            check=True).stdout
    keys = [json.loads(line) for line in listed.splitlines()]
    expect(len(keys), 21, "keys")
    ports = serve("serve", [SERVE, "--port", "COM6", "--http", "127.0.0.1:0", "--tcp", "127.0.0.1:0"])
    wait_for("COM6 was not opened", lambda: "opened COM6" in log("serve"))
    check_endpoints(ports, keys)
    check_refusals(ports["http"])
    check_events(ports["http"])
    check_lines(ports)
    check_two_clients(ports, keys)
    stop("serve")
    check_token()
    check_command_lines()
    check_window()
    check_opening()


if __name__ == "__main__":
    run(main)
