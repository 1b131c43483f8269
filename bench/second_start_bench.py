#!/usr/bin/python3
"""Second-start benchmark, interleaved in one run. With one pelicard running:
  - second start, exec to exit: a plain second start's process from just
    before exec until it has ended (it hands id 0 over and waits for the
    answer);
  - second start, exec to handled: from just before exec until the running
    instance logged "IPC message handled: id=0" (the line's tick is
    CLOCK_MONOTONIC ms truncated to 32 bits);
  - floor: webkit_main_floor, a program linked against WebKitGTK that only
    reaches main(): exec to main() and exec to exit.
Run under a display and a session bus, e.g.
  dbus-run-session -- xvfb-run -a bench/second_start_bench.py build [rounds]
Prints medians and the ratio to the floor (goal: exec to exit <= 1.0 x the
floor's exec to main)."""

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
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 30
HANDLED = re.compile(r"^\[(\d+):\d+:[^:]+:(\d+):INFO:[^\]]*\] IPC message handled: id=0$", re.M)


def now_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1000.0


def since(start_ms, tick):
    return ((tick - int(start_ms)) % (1 << 32)) - (start_ms - int(start_ms))


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_for(predicate, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.002)
    return None


def second_start(exe, env, log, first_pid):
    handled_before = len([m for m in HANDLED.finditer(read(log)) if int(m.group(1)) == first_pid])
    start = now_ms()
    code = subprocess.run([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    exit_ms = now_ms() - start
    matches = wait_for(lambda: [m for m in HANDLED.finditer(read(log)) if int(m.group(1)) == first_pid][
        handled_before:], timeout=30)
    handled_ms = since(start, int(matches[0].group(2))) if matches else None
    return (exit_ms if code == 0 else None), handled_ms


def floor(env):
    start = now_ms()
    out = subprocess.run([os.path.join(BUILD, "bench", "webkit_main_floor")], env=env, capture_output=True,
                         text=True).stdout
    exit_ms = now_ms() - start
    match = re.search(r"MAIN (\d+)", out)
    return (int(match.group(1)) - start if match else None), exit_ms


def main():
    workdir = tempfile.mkdtemp(prefix="vesk-bench-")
    program = os.path.join(workdir, "program")
    shutil.copytree(os.path.join(BUILD, "program"), program, ignore=shutil.ignore_patterns("*.log"))
    runtime = os.path.join(workdir, "run")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, GDK_BACKEND="x11", NO_AT_BRIDGE="1")
    exe, log = os.path.join(program, "pelicard"), os.path.join(program, "pelicard.log")
    first = subprocess.Popen([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    results = {"exit": [], "handled": [], "floor_main": [], "floor_exit": []}
    try:
        if not wait_for(lambda: "Load finished: vesk://" in read(log) or "Load URL" in read(log)):
            print("the first instance did not start")
            return 1
        second_start(exe, env, log, first.pid)  # warm the caches for both
        floor(env)
        for _ in range(ROUNDS):
            exit_ms, handled_ms = second_start(exe, env, log, first.pid)
            main_ms, floor_exit_ms = floor(env)
            for key, value in (("exit", exit_ms), ("handled", handled_ms), ("floor_main", main_ms),
                               ("floor_exit", floor_exit_ms)):
                if value is not None:
                    results[key].append(value)
    finally:
        first.send_signal(signal.SIGTERM)
        first.wait(timeout=30)
        shutil.rmtree(workdir, ignore_errors=True)
    if not all(results.values()):
        print("missing measurements: %s" % {k: len(v) for k, v in results.items()})
        return 1
    med = {k: statistics.median(v) for k, v in results.items()}
    print("rounds: %d" % ROUNDS)
    print("second start, exec to exit:            median %6.1f ms" % med["exit"])
    print("second start, exec to message handled: median %6.1f ms" % med["handled"])
    print("floor (WebKitGTK linked), exec to main: median %6.1f ms" % med["floor_main"])
    print("floor (WebKitGTK linked), exec to exit: median %6.1f ms" % med["floor_exit"])
    print("ratio second start exit / floor main: %.3f (goal <= 1.0)" % (med["exit"] / med["floor_main"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
