"""The sample application's start page from the signed package, used as a
user would: it centres and shows its own frameless window, its caption
buttons work, and a second start brings a hidden window forward."""

import os
import subprocess
import sys

from shadow_art import shadow_rect
from test_window import click, host_and_shadow, screen_work_area, wait_for

SENDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ipc_sender.py")

WIDTH, HEIGHT = 880, 560


def test_start_page_centres_and_shows_itself(program):
    proc = program.start()
    host, shadow = host_and_shadow(program, proc.pid)
    area_width, area_height = screen_work_area(program)
    # The page's rule: its preferred size, kept 24 pixels inside the work area.
    width, height = max(320, min(WIDTH, area_width - 48)), max(240, min(HEIGHT, area_height - 48))
    expected = ((area_width - width) // 2, (area_height - height) // 2, width, height)
    wait_for(lambda: program.window_geometry(host) == expected, what="the centred window")
    # The shadow follows the window's own move and resize a moment later.
    wait_for(lambda: program.window_geometry(shadow) == shadow_rect(*expected), what="the shadow around it",
             state=lambda: program.window_geometry(shadow))
    assert "failed:" not in program.log(), "no call of the page failed"


def test_close_button_ends_the_application(program):
    proc = program.start()
    host, _ = host_and_shadow(program, proc.pid)
    program.wait_for_log(r"Load finished: vesk://vesk/res/app_init\.html$")
    x, y, width, _ = program.window_geometry(host)
    click(program, x + width - 23, y + 18)  # the right-most caption button
    assert proc.wait(timeout=20) == 0


def test_second_start_brings_the_hidden_window_forward(program):
    # Started into the tray, the page keeps its window hidden ...
    first = program.start("--vesk-startup=tray")
    program.wait_for_log(r"Load finished: vesk://vesk/res/app_init\.html\?vesk-startup=tray$")
    # The page decides while it loads. A message of no meaning, handled on
    # the main loop after the load, marks the moment the window would be up.
    sent = subprocess.run([sys.executable, SENDER, "--pid", str(first.pid), "--id", "9"], env=program.env,
                          capture_output=True, text=True, timeout=60)
    assert sent.returncode == 0, sent.stderr
    program.wait_for_log(r"IPC message handled: id=9$")
    assert program.visible_windows(first.pid) == []
    # ... until another start asks the running instance to come forward.
    code, _ = program.run(timeout=30)
    assert code == 0
    host, _ = host_and_shadow(program, first.pid)
    assert program.window_geometry(host)[2:] == (WIDTH, HEIGHT)
    focused = subprocess.run(["xdotool", "getwindowfocus"], env=program.env, capture_output=True,
                             text=True).stdout.strip()
    assert focused == str(host), "the window came forward with the keyboard focus"
    assert first.poll() is None
