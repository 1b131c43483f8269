"""Waiting for events instead of time, for every end-to-end test
(docs/testing.md). Nothing here sleeps for a result: each helper polls for a
condition and fails, naming what it waited for, only after a generous
deadline."""

import os
import subprocess
import time


def wait_until(condition, timeout=30, what="the condition", state=None, interval=0.05):
    """Polls |condition| until it returns a true value, which it returns; fails
    after |timeout| seconds naming |what| (and |state()|, when given)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            now = "; now: %r" % (state(),) if state else ""
            raise AssertionError("timed out after %ss waiting for %s%s" % (timeout, what, now))
        time.sleep(interval)


def display_answers(name):
    return subprocess.run(["xdpyinfo", "-display", name], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def wait_for_display(name, timeout=30):
    """Waits until the X server |name| accepts clients (it may still be
    starting, or resetting when it runs without -noreset)."""
    wait_until(lambda: display_answers(name), timeout, "display %s to accept clients" % name,
               interval=0.2)


def poll_screenshot(program, check, timeout=30, window="root"):
    """Takes screenshots of |window| (an X window id, or "root") until
    |check(path)| returns a true value, which it returns. A compositor paints
    some frames after a change, so one shot taken at a fixed moment may show
    the frame before it; the last shot stays at <root>/screenshot.png."""
    path = os.path.join(program.root, "screenshot.png")
    last = []

    def shot_matches():
        subprocess.run(["import", "-window", str(window), path], env=program.env, check=True, timeout=60)
        result = check(path)
        last[:] = [result]
        return result
    return wait_until(shot_matches, timeout, "a screenshot that passes %s" % check.__name__,
                      state=lambda: last, interval=0.2)
