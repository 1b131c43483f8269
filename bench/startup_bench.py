#!/usr/bin/python3
"""Start-up benchmark, interleaved in one run:
  - pelicard: process start to the main window's first page load finished
    (the "Load finished: vesk://..." log line's tick);
  - minimal_webkit: the same for a minimal WebKitGTK program that serves the
    same page (the sample package's files) from a custom scheme;
  - a second start of pelicard while one runs: start to exit.
Run under a display and a session bus, e.g.
  dbus-run-session -- xvfb-run -a bench/startup_bench.py build [rounds]
Prints medians and the ratio."""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 15
# The sample package's own files: both programs load the same page.
SITE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packages", "vesk")
FINISHED = re.compile(r"^\[\d+:\d+:[^:]+:(\d+):INFO:[^\]]*\] Load finished: vesk://", re.M)


def now_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1000.0


def since(start_ms, tick):
    return (tick - int(start_ms)) % (1 << 32)


def run_pelicard(workdir, env):
    log = os.path.join(workdir, "program", "pelicard.log")
    if os.path.exists(log):
        os.remove(log)
    start = now_ms()
    proc = subprocess.Popen([os.path.join(workdir, "program", "pelicard")], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    loaded = None
    while time.monotonic() < deadline and loaded is None:
        try:
            with open(log) as f:
                match = FINISHED.search(f.read())
            if match:
                loaded = since(start, int(match.group(1)))
        except FileNotFoundError:
            pass
        time.sleep(0.002)
    second_start = now_ms()
    second = subprocess.run([os.path.join(workdir, "program", "pelicard")], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    second_ms = now_ms() - second_start
    proc.send_signal(signal.SIGTERM)
    proc.wait(timeout=30)
    return loaded, second_ms if second.returncode == 0 else None


def run_minimal(page, env):
    start = now_ms()
    out = subprocess.run([os.path.join(BUILD, "bench", "minimal_webkit"), page], env=env,
                         capture_output=True, text=True, timeout=60).stdout
    match = re.search(r"LOADED (\d+)", out)
    return int(match.group(1)) - start if match else None


def main():
    workdir = tempfile.mkdtemp(prefix="vesk-bench-")
    shutil.copytree(os.path.join(BUILD, "program"), os.path.join(workdir, "program"),
                    ignore=shutil.ignore_patterns("*.log"))
    runtime = os.path.join(workdir, "run")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, GDK_BACKEND="x11", NO_AT_BRIDGE="1")
    page = SITE
    pelicard, minimal, second = [], [], []
    run_minimal(page, env)  # warm the file cache for both
    run_pelicard(workdir, env)
    for _ in range(ROUNDS):
        loaded, second_ms = run_pelicard(workdir, env)
        if loaded is not None:
            pelicard.append(loaded)
        if second_ms is not None:
            second.append(second_ms)
        floor = run_minimal(page, env)
        if floor is not None:
            minimal.append(floor)
    shutil.rmtree(workdir, ignore_errors=True)
    if not pelicard or not minimal:
        print("no measurements (pelicard %d, minimal %d)" % (len(pelicard), len(minimal)))
        return 1
    p, m = statistics.median(pelicard), statistics.median(minimal)
    print("rounds: %d" % ROUNDS)
    print("start to first page loaded, pelicard:       median %.1f ms" % p)
    print("start to first page loaded, minimal WebKit: median %.1f ms" % m)
    print("ratio pelicard / minimal: %.3f (goal <= 1.10)" % (p / m))
    if second:
        print("second start, exec to exit: median %.1f ms" % statistics.median(second))
    return 0


if __name__ == "__main__":
    sys.exit(main())
