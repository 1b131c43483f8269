"""A web process that ends under the program (killed here with SIGKILL) is
logged, its page is loaded again in a new one, and an instance message that
was waiting for the old page's answer fails (logged) instead of waiting for
ever."""

import os
import signal
import time

import pytest

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "ipc")
READY = r"\[CONSOLE:app_init.html\(\d+\)\] page ready"


def web_processes(pid):
    """The program's web processes (children running WebKitWebProcess)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                command = f.read().split(b"\0")[0]
        except (OSError, ValueError, IndexError):
            continue
        if parent == pid and command.endswith(b"WebKitWebProcess"):
            found.append(int(entry))
    return found


def the_web_process(pid, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = web_processes(pid)
        if len(found) == 1:
            return found[0]
        time.sleep(0.1)
    raise AssertionError("no single web process of %d: %r" % (pid, web_processes(pid)))


def test_a_killed_web_process_is_logged_and_its_page_reloaded(program):
    first = program.start("--vesk-package-dir=" + PAGES)
    program.wait_for_log(READY)
    victim = the_web_process(first.pid)
    # Stopped, the page cannot answer: a second start's message waits for it.
    os.kill(victim, signal.SIGSTOP)
    waiting = program.start()
    program.wait_for_log(r"IPC message received: id=0")
    os.kill(victim, signal.SIGKILL)
    program.wait_for_log(r"Web process of vesk://vesk/res/app_init.html crashed")
    # The engine cancels the waiting reply itself, or the watch fails it.
    program.wait_for_log(r"IPC message 0 (not answered by the page|failed: the web process)")
    assert waiting.wait(timeout=60) == 0, "the waiting sender was released"
    program.wait_for_log(r"Reloading after the web process ended: vesk://vesk/res/app_init.html")
    program.wait_for_log(READY, count=2, timeout=60)
    assert the_web_process(first.pid) != victim
    # The new page answers the next message.
    code, _ = program.run(timeout=60)
    assert code == 0
    program.wait_for_log(r"\] handler foreground$")
    assert first.poll() is None
