#!/usr/bin/env python3
"""Start-up to the first shown main window, and peak memory, of the tool
against a bare Qt Widgets window of the same size, measured side by side
(interleaved) in one run. Prints medians, p90 and the ratios; beside the
time to the window, the processor time of the whole run (user + system),
which a busy machine disturbs far less. Both probes run stripped, as the
packages install the program (with debug information, the tool's probe is
18 MB against the floor's 0.6 MB, and loading costs it 0.6 ms more).

usage: bench/startup/run_startup.py [build-dir] [runs]
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 30
probes = {
    "tool": os.path.join(build, "bench", "startup_probe_tool"),
    "floor": os.path.join(build, "bench", "startup_probe_floor"),
}
for path in probes.values():
    if not os.access(path, os.X_OK):
        sys.exit(f"missing {path}: build the project first")

env = dict(os.environ)
env.setdefault("QT_QPA_PLATFORM", "offscreen")
scratch = tempfile.mkdtemp(prefix="rq905-startup-")
env["PROBE_SETTINGS"] = os.path.join(scratch, "W_rq905.ini")
strip = shutil.which("strip")
if strip:
    for name, path in probes.items():
        probes[name] = os.path.join(scratch, os.path.basename(path))
        subprocess.run([strip, "-o", probes[name], path], check=True)


def run_once(path):
    read_end, write_end = os.pipe()
    env["PROBE_T0"] = str(time.monotonic_ns())
    pid = os.fork()
    if pid == 0:
        os.dup2(write_end, 1)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 2)
        os.execve(path, [path], env)
    os.close(write_end)
    with os.fdopen(read_end) as out:
        text = out.read().strip()
    _, status, usage = os.wait4(pid, 0)
    if status != 0 or not text:
        sys.exit(f"{path} failed with status {status}")
    cpu = (usage.ru_utime + usage.ru_stime) * 1000.0
    return int(text) / 1e6, usage.ru_maxrss / 1024.0, cpu  # ms to first shown window, peak MiB, cpu ms


results = {name: {"ms": [], "mib": [], "cpu": []} for name in probes}
for name, path in probes.items():  # warm the page cache
    run_once(path)
for _ in range(runs):
    for name, path in probes.items():
        ms, mib, cpu = run_once(path)
        results[name]["ms"].append(ms)
        results[name]["mib"].append(mib)
        results[name]["cpu"].append(cpu)


def p90(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(0.9 * len(ordered)))]


print(f"runs: {runs} each, interleaved, platform {env['QT_QPA_PLATFORM']}, {'stripped' if strip else 'not stripped'}")
print(f"{'':8}{'median ms':>12}{'p90 ms':>10}{'peak MiB':>10}{'cpu ms':>10}")
for name in probes:
    r = results[name]
    print(f"{name:8}{statistics.median(r['ms']):12.1f}{p90(r['ms']):10.1f}{statistics.median(r['mib']):10.1f}"
          f"{statistics.median(r['cpu']):10.1f}")
tool, floor = results["tool"], results["floor"]
time_ratio = statistics.median(tool["ms"]) / statistics.median(floor["ms"])
mem_ratio = statistics.median(tool["mib"]) / statistics.median(floor["mib"])
cpu_ratio = statistics.median(tool["cpu"]) / statistics.median(floor["cpu"])
print(f"ratio time {time_ratio:.2f}x  memory {mem_ratio:.2f}x  cpu {cpu_ratio:.2f}x  (goal: within 1.30x)")
