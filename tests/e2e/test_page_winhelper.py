"""window.winhelper against the real host window: position, validation,
launchWindow, show commands, window info, opacity, size limits and the
close protocol."""

import re
import subprocess

from page_suite import run_suite, start_suite
from waits import wait_until


def window_properties(program, window):
    return subprocess.run(["xprop", "-id", str(window), "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE"],
                          env=program.env, capture_output=True, text=True).stdout


def test_winhelper_suite(program):
    session = start_suite(program, "winhelper")
    pid = session.process.pid
    assert session.wait_for_report("child_hidden") is True
    # The launched window was never shown: no visible window of the program
    # has the launch rectangle.
    visible = program.visible_windows(pid)
    assert visible, "the main window is visible"
    assert (0, 0, 400, 300) not in [program.window_geometry(w) for w in visible]
    session.signal("looked-at-hidden-child")

    # Shown, it is a tool window: no taskbar button.
    session.wait_for_report("child_shown")
    child = wait_until(lambda: [w for w in program.visible_windows(pid)
                                if program.window_geometry(w) == (0, 0, 400, 300)], what="the shown child")
    assert len(child) == 1, "exactly one new visible window"
    properties = window_properties(program, child[0])
    assert "_NET_WM_WINDOW_TYPE_UTILITY" in properties, properties
    assert "_NET_WM_STATE_SKIP_TASKBAR" in properties, properties
    session.signal("looked-at-shown-child")

    result = session.finish()
    # The first launch, the one with window.open replaced and the one whose
    # window goes away; failed checks and failed launches created nothing.
    assert re.findall(r"Launch window: (.*)$", result.log, re.M) == ["vesk://vesk/res/app_init.html?child"] * 2 + [
        "vesk://vesk/res/app_init.html?child#gone"]


def test_close_handler_decides(program):
    result = run_suite(program, "winhelper_close")
    # The first close was refused by the handler; the second one ends the
    # program, because the main window is gone.
    assert result.process.wait(timeout=30) == 0
    log = program.log()
    asked = [m.group(1) for m in re.finditer(r"\] close asked (\d)", log)]
    assert asked == ["1", "2"], log[-3000:]


CLOSE_FRAME = """<!doctype html><meta charset="utf-8"><script>
winhelper.onClose = function () {
  top.closeThis = this;
  top.closeCalls = (top.closeCalls || 0) + 1;
  return true;
};
</script>"""


def test_close_handler_runs_in_the_main_frames_current_context(program):
    result = run_suite(program, "winhelper_close_frames", files={"res/close_frame.html": CLOSE_FRAME}, runs=2)
    # The second page closed its window: the handler the first page stored
    # ran with the second page's global as this and let it close.
    assert result.process.wait(timeout=30) == 0
    assert "] earlier page's close handler ran with this at ?after" in program.log()
