"""The sample application's start page from the signed package, used as a
user would: it centres and shows its own frameless window, its caption
buttons work, and a second start brings a hidden window forward."""

import subprocess
import time

from test_window import click, host_and_shadow, screen_work_area, wait_for

WIDTH, HEIGHT = 880, 560


def test_start_page_centres_and_shows_itself(program):
    proc = program.start()
    host, shadow = host_and_shadow(program, proc.pid)
    area_width, area_height = screen_work_area(program)
    # The page's rule: its preferred size, kept 24 pixels inside the work area.
    width, height = max(320, min(WIDTH, area_width - 48)), max(240, min(HEIGHT, area_height - 48))
    expected = ((area_width - width) // 2, (area_height - height) // 2, width, height)
    wait_for(lambda: program.window_geometry(host) == expected, what="the centred window")
    x, y, _, _ = expected
    # The shadow follows the window's own move and resize a moment later.
    shadow_expected = (x - 9, y - 5, width + 18, height + 14)
    wait_for(lambda: program.window_geometry(shadow) == shadow_expected, what="the shadow around it")
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
    time.sleep(0.5)
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
