#!/usr/bin/python3
"""rq905-gateway with real peers against the simulator over UDP.

    run_gateway_peers.py BINDIR CASE

CASE is modbus (mbpoll and pymodbus), prometheus (a Prometheus server
scrapes the gateway; promtool checks the text) or service (SIGHUP keeps
clients, SIGTERM ends within a second). Exit 77 when a peer is missing.
Debian's python3 (the pymodbus package lives there)."""
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

BIN = sys.argv[1]
CASE = sys.argv[2]
failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failures.append(name)


class Child:
    """A program whose output lines are read as they come."""

    def __init__(self, args, stdin=None):
        self.proc = subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True, bufsize=1)
        self.lines = queue.Queue()
        self.all = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.all.append(line.rstrip("\n"))
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, pattern, limit=10.0):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=max(0.01, end - time.monotonic()))
            except queue.Empty:
                break
            m = re.search(pattern, line, re.I)
            if m:
                return m
        return None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Sim(Child):
    def __init__(self, tmp, address=1, name="state", extra=()):
        super().__init__([os.path.join(BIN, "rq905-sim"), "--fresh", "--state", os.path.join(tmp, name),
                          "--udp", "0", "--modules", "2", "--address", str(address)] + list(extra),
                         stdin=subprocess.PIPE)
        m = self.wait_for(r"^udp [\d.]+:(\d+)")
        self.port = int(m.group(1)) if m else 0
        self.wait_for("^ready")

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.wait_for(r"^(ok|error)", 5)


class Gateway(Child):
    def __init__(self, sim_port, *extra, config=None):
        args = [os.path.join(BIN, "rq905-gateway"), "--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                str(sim_port), "--modbus", "127.0.0.1:0", "--metrics", "127.0.0.1:0", "--poll-ms", "50"]
        if config:
            args += ["--config", config]
        super().__init__(args + list(extra))
        m = self.wait_for(r"modbus listening on [\d.]+:(\d+)")
        self.modbus = int(m.group(1)) if m else 0
        m = self.wait_for(r"metrics listening on [\d.]+:(\d+)")
        self.metrics = int(m.group(1)) if m else 0
        self.wait_for("ready")

    def scrape(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % self.metrics, timeout=5) as r:
            return r.read().decode()


def mbpoll(port, unit, kind, ref, *values, count=None):
    args = ["mbpoll", "-m", "tcp", "-p", str(port), "-a", str(unit), "-t", kind, "-r", str(ref), "-0", "-1",
            "-o", "2"]
    if count:
        args += ["-c", str(count)]
    args += ["127.0.0.1"] + [str(v) for v in values]
    r = subprocess.run(args, capture_output=True, text=True, timeout=20)
    return [int(v, 0) for v in re.findall(r"^\[\d+\]:\s+(-?\w+)", r.stdout, re.M)], r.stdout + r.stderr


def eventually(fn, limit=3.0):
    end = time.monotonic() + limit
    while True:
        value = fn()
        if value or time.monotonic() > end:
            return value
        time.sleep(0.05)


def case_modbus(tmp):
    from pymodbus.client import ModbusTcpClient
    sim = Sim(tmp)
    ro = Gateway(sim.port, "--address", "1,2,9")
    rw = Gateway(sim.port, "--address", "1,2", "--allow-write")
    try:
        check("sim inputs", sim.command("inputs 1 0xA5") is not None)
        values, out = eventually(lambda: (lambda v: v if v[0] == [1, 0, 1, 0, 0, 1, 0, 1] else None)(
            mbpoll(ro.modbus, 1, "1", 0, count=8))) or mbpoll(ro.modbus, 1, "1", 0, count=8)
        check("mbpoll reads the inputs the simulator set", values == [1, 0, 1, 0, 0, 1, 0, 1], out)
        values, out = mbpoll(ro.modbus, 1, "3", 0, count=2)
        check("mbpoll reads the status register", values == [0x30, 0], out)
        values, out = mbpoll(ro.modbus, 9, "1", 0, count=8)
        check("silent module: exception 11", "Target device failed to respond" in out, out)
        values, out = mbpoll(ro.modbus, 1, "0", 0, 1, 0, 1, 1, 0, 0, 0, 0)
        check("write without --allow-write: exception 1", "Illegal function" in out, out)
        values, out = mbpoll(ro.modbus, 1, "0", 0, count=8)
        check("coils before the first write: exception 4", "Slave device or server failure" in out, out)

        values, out = mbpoll(rw.modbus, 1, "0", 0, 1, 0, 1, 1, 0, 0, 0, 1)
        check("mbpoll writes coils", sim.wait_for(r"module 1: outputs 0x8d", 5) is not None, out)
        values, out = mbpoll(rw.modbus, 1, "4", 0, 1000)
        check("mbpoll writes the PWM value", sim.wait_for(r"module 1: pwm 1000", 5) is not None, out)

        client = ModbusTcpClient("127.0.0.1", port=rw.modbus)
        check("pymodbus connects", client.connect())
        sim.command("inputs 2 0x3C")
        r = eventually(lambda: (lambda x: x if not x.isError() and x.bits[:8] == [False, False, True, True, True,
                                                                                   True, False, False] else None)(
            client.read_discrete_inputs(0, 8, slave=2)))
        check("pymodbus reads the inputs the simulator set", r is not None)
        r = client.write_coil(4, True, slave=2)
        check("pymodbus writes one coil over the initial state",
              not r.isError() and sim.wait_for(r"module 2: outputs 0x10", 5) is not None, r)
        r = client.write_coils(0, [True, True, False, False, False, False, False, False], slave=2)
        check("pymodbus writes coils", not r.isError() and sim.wait_for(r"module 2: outputs 0x03\b", 5) is not None,
              r)
        r = client.read_coils(0, 8, slave=2)
        check("coils read back as last written", not r.isError() and r.bits[:8] == [True, True] + [False] * 6, r)
        r = client.write_register(0, 4660, slave=2)
        check("pymodbus writes the PWM value",
              not r.isError() and sim.wait_for(r"module 2: pwm 4660", 5) is not None, r)
        r = client.read_holding_registers(0, 1, slave=2)
        check("PWM reads back as last written", not r.isError() and r.registers == [4660], r)
        r = client.read_holding_registers(32, 6, slave=2)
        check("configuration registers", not r.isError() and len(r.registers) == 6, r)
        r = client.write_register(33, 1, slave=2)
        check("configuration read only without --allow-config",
              r.isError() and getattr(r, "exception_code", 0) == 1, r)
        r = client.read_holding_registers(38, 1, slave=2)
        check("register outside the map: exception 2", r.isError() and getattr(r, "exception_code", 0) == 2, r)
        r = client.read_input_registers(0, 2, slave=7)
        check("unit without a module: exception 10", r.isError() and getattr(r, "exception_code", 0) == 10, r)
        sim.command("silent on")
        r = eventually(lambda: (lambda x: x if x.isError() else None)(client.read_discrete_inputs(0, 8, slave=1)))
        check("silent simulator: exception 11", r is not None and getattr(r, "exception_code", 0) == 11, r)
        r = client.write_coil(0, True, slave=1)
        check("write to a silent module: exception 11", r.isError() and getattr(r, "exception_code", 0) == 11, r)
        sim.command("silent off")
        r = eventually(lambda: (lambda x: x if not x.isError() else None)(client.read_discrete_inputs(0, 8, slave=1)))
        check("a module that answers again is served again", r is not None, r)
        client.close()
    finally:
        for p in (ro, rw, sim):
            p.stop()


def case_prometheus(tmp):
    for tool in ("prometheus", "promtool"):
        if shutil.which(tool) is None:
            print("no " + tool + " (scripts/deps.sh installs the package prometheus)")
            sys.exit(77)
    sim = Sim(tmp)
    gw = Gateway(sim.port, "--address", "1,3")
    prom = None
    try:
        text = eventually(lambda: (lambda t: t if re.search(r'address="1",outcome="ok"\} [1-9]', t) else None)(
            gw.scrape())) or gw.scrape()
        r = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
        check("promtool check metrics", r.returncode == 0, r.stdout + r.stderr)
        print("--- one scrape ---\n" + text + "--- end ---")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        config = os.path.join(tmp, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: rq905\n"
                    "    static_configs:\n      - targets: ['127.0.0.1:%d']\n" % gw.metrics)
        prom = Child(["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(tmp, "data"),
                      "--web.listen-address=127.0.0.1:%d" % port])

        def query(q):
            url = "http://127.0.0.1:%d/api/v1/query?query=%s" % (port, urllib.parse.quote(q))
            try:
                with urllib.request.urlopen(url, timeout=2) as r:
                    import json
                    result = json.load(r)["data"]["result"]
                    return result or None
            except OSError:
                return None

        up = eventually(lambda: query('rq905_module_up{address="1"}'), 30)
        check("Prometheus: up of module 1 is 1", up is not None and up[0]["value"][1] == "1", up)
        down = query('rq905_module_up{address="3"}')
        check("Prometheus: up of the silent module 3 is 0", down is not None and down[0]["value"][1] == "0", down)
        ok = query('rq905_module_transactions_total{address="1",outcome="ok"}')
        check("Prometheus: a counter of answered transactions", ok is not None and float(ok[0]["value"][1]) > 0, ok)
        timeouts = query('rq905_module_transactions_total{address="3",outcome="timeout"}')
        check("Prometheus: the silent module's timeouts", timeouts is not None and
              float(timeouts[0]["value"][1]) > 0, timeouts)
    finally:
        for p in (prom, gw, sim):
            if p:
                p.stop()


def case_service(tmp):
    sim = Sim(tmp)
    config = os.path.join(tmp, "gateway.conf")
    with open(config, "w") as f:
        f.write("address 1\n")
    gw = Gateway(sim.port, config=config)
    try:
        s = socket.create_connection(("127.0.0.1", gw.modbus))
        frame = bytes.fromhex("0001000000060202000000 08".replace(" ", ""))

        def ask(unit):
            s.sendall(frame[:6] + bytes([unit]) + frame[7:])
            return s.recv(64)
        check("journald priority prefixes", all(re.match(r"^<\d>", l) for l in gw.all if l), gw.all)
        reply = eventually(lambda: (lambda r: r if r[7] == 2 else None)(ask(1)))
        check("module 1 served", reply is not None)
        check("module 2 not yet configured: exception 10", ask(2)[7:9] == bytes([0x82, 10]))
        with open(config, "w") as f:
            f.write("address 1,2\n")
        gw.proc.send_signal(signal.SIGHUP)
        check("SIGHUP reloads", gw.wait_for("reloading", 5) is not None)
        reply = eventually(lambda: (lambda r: r if r[7] == 2 else None)(ask(2)))
        check("after SIGHUP the same connection reaches module 2", reply is not None)
        check("and still module 1", ask(1)[7] == 2)
        with open(config, "w") as f:
            f.write("address 1,2\nallow-from 10.0.0.0/8\n")
        gw.proc.send_signal(signal.SIGHUP)
        gw.wait_for("reloading", 5)
        with socket.create_connection(("127.0.0.1", gw.modbus)) as other:
            other.settimeout(5)
            # Closed with the request unread, the connection may end in a reset.
            try:
                other.sendall(frame)
                answer = other.recv(64)
            except ConnectionResetError:
                answer = b""
            check("--allow-from turns away a client from elsewhere", answer == b"", answer)
        check("a client connected before keeps its connection", ask(1)[7] == 2)
        start = time.monotonic()
        gw.proc.send_signal(signal.SIGTERM)
        code = gw.proc.wait(5)
        took = time.monotonic() - start
        check("SIGTERM ends cleanly within a second", code == 0 and took < 1.0, (code, took))
        s.close()
    finally:
        gw.stop()
        sim.stop()


def case_lines(tmp):
    """Two converters from a --targets file: one poll thread, one driver,
    each line opened in its turn."""
    from pymodbus.client import ModbusTcpClient
    a, b = Sim(tmp, 1, "a"), Sim(tmp, 5, "b")
    targets = os.path.join(tmp, "targets")
    with open(targets, "w") as f:
        f.write("# two converters\nlan:127.0.0.1:%d 1,2\nlan:127.0.0.1:%d 5\n" % (a.port, b.port))
    gw = Gateway(a.port, "--targets", targets, "--allow-write")
    try:
        a.command("inputs 0x11")
        b.command("inputs 0x22")
        client = ModbusTcpClient("127.0.0.1", port=gw.modbus)
        client.connect()

        def inputs(unit):
            r = client.read_discrete_inputs(0, 8, slave=unit)
            return None if r.isError() else sum(1 << i for i, v in enumerate(r.bits[:8]) if v)
        check("first line's module", eventually(lambda: inputs(2) == 0x11), inputs(2))
        check("second line's module", eventually(lambda: inputs(5) == 0x22), inputs(5))
        r = client.write_coils(0, [True] * 8, slave=5)
        check("a write on the second line", not r.isError() and b.wait_for(r"module 5: outputs 0xff", 5), r)
        a.command("inputs 0x44")
        check("polls go on on the first line after it", eventually(lambda: inputs(1) == 0x44), inputs(1))
        client.close()
    finally:
        for p in (gw, a, b):
            p.stop()


def case_writewait(tmp):
    """A write waits for the module on a slow line (1200 Bd, 225 ms a
    transaction); meanwhile another client's reads are answered from the
    cache, so the read returns while the write is still outstanding."""
    from pymodbus.client import ModbusTcpClient
    sim = Sim(tmp, extra=["--speed", "1200", "--line-time"])
    gw = Gateway(sim.port, "--address", "1", "--speed", "1200", "--udp-timeout", "1000", "--allow-write")
    try:
        writer = ModbusTcpClient("127.0.0.1", port=gw.modbus)
        reader = ModbusTcpClient("127.0.0.1", port=gw.modbus)
        writer.connect()
        reader.connect()
        check("module polled", eventually(lambda: not reader.read_discrete_inputs(0, 8, slave=1).isError(), 5))
        result = {}
        write = threading.Thread(target=lambda: result.update(r=writer.write_coils(0, [True] * 8, slave=1)))
        write.start()
        time.sleep(0.02)
        r = reader.read_discrete_inputs(0, 8, slave=1)
        check("a read is answered while another client's write waits for the module",
              not r.isError() and write.is_alive(), r)
        write.join(10)
        check("and the write then succeeds", "r" in result and not result["r"].isError(), result)
        writer.close()
        reader.close()
    finally:
        gw.stop()
        sim.stop()


def main():
    if CASE in ("modbus", "lines", "writewait"):
        missing = [t for t in ("mbpoll",) if shutil.which(t) is None]
        try:
            import pymodbus.client  # noqa: F401
        except ImportError:
            missing.append("python3-pymodbus")
        if missing:
            print("missing " + ", ".join(missing) + " (scripts/deps.sh installs them)")
            sys.exit(77)
    with tempfile.TemporaryDirectory(prefix="rq905-gw-") as tmp:
        cases = {"modbus": case_modbus, "prometheus": case_prometheus, "service": case_service, "lines": case_lines,
                 "writewait": case_writewait}
        cases[CASE](tmp)
    sys.exit(1 if failures else 0)


main()
