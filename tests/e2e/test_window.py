"""The window layer with the real program, observed from outside as a user
would: what the X server and its tools (xdotool, xprop, xwininfo, import)
report about the main window, its shadow, menus and the inspector.

Every case runs the page in pages/ui_window; --vesk-startup=<case> selects
what the page does at start, and each left mouse press on the page runs the
case's next action. The page reports every step as a console line, which
reaches the log."""

import os
import re
import socket
import subprocess
import time

import pytest

from shadow_art import shadow_margins, shadow_rect
from waits import poll_screenshot, wait_until

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "ui_window")
CONSOLE = r"\[CONSOLE:app_init\.html\(\d+\)\] "


def start(program, case, *args):
    proc = program.start("--vesk-package-dir=" + PAGES, "--vesk-startup=" + case, *args)
    program.wait_for_log(CONSOLE + re.escape("start %s ok" % case.split(":")[0]) + "$")
    return proc


def run_action(program, index, window, expected=""):
    """Presses the left button inside |window| and waits for the page's report."""
    x, y, width, height = program.window_geometry(window)
    click(program, x + width // 2, y + height // 2)
    line = program.wait_for_log(CONSOLE + "action %d (ok|threw)(.*)$" % index)[0]
    assert line.group(1) == "ok", line.group(0)
    assert line.group(2).strip() == expected
    return line


def click(program, x, y, button=1):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", str(button)],
                   env=program.env, check=True, timeout=10)


def xprop(program, window, *names):
    return subprocess.run(["xprop", "-id", str(window), *names], env=program.env, capture_output=True,
                          text=True, timeout=10).stdout


def windows_with_geometry(program, pid):
    return {w: program.window_geometry(w) for w in program.visible_windows(pid)}


def wait_for(condition, timeout=30, what="condition", state=None):
    return wait_until(condition, timeout, what, state)


def wait_for_window_count(program, pid, count, timeout=30):
    def matching():
        windows = windows_with_geometry(program, pid)
        return [windows] if len(windows) == count else None  # a list, so no windows counts as found
    return wait_for(matching, timeout, "%d visible windows" % count,
                    lambda: windows_with_geometry(program, pid))[0]


def is_override_redirect(program, window):
    info = subprocess.run(["xwininfo", "-id", str(window)], env=program.env, capture_output=True, text=True)
    return "Override Redirect State: yes" in info.stdout


def host_and_shadow(program, pid):
    """The two windows of a shown main window: (host, shadow). The shadow is
    the one no window manager manages."""
    windows = wait_for_window_count(program, pid, 2)
    shadows = [w for w in windows if is_override_redirect(program, w)]
    assert len(shadows) == 1, windows
    host = (set(windows) - set(shadows)).pop()
    return host, shadows[0]


def screen_work_area(program):
    """(width, height) of the work area: _NET_WORKAREA when a desktop sets it, else the screen."""
    out = subprocess.run(["xprop", "-root", "_NET_WORKAREA"], env=program.env, capture_output=True,
                         text=True).stdout
    numbers = re.findall(r"\d+", out.split("=", 1)[1]) if "=" in out else []
    if len(numbers) >= 4:
        return int(numbers[2]), int(numbers[3])
    out = subprocess.run(["xdotool", "getdisplaygeometry"], env=program.env, capture_output=True,
                         text=True, check=True).stdout.split()
    return int(out[0]), int(out[1])


def size_hints(program, window):
    text = xprop(program, window, "WM_NORMAL_HINTS")
    minimum = re.search(r"minimum size: (\d+) by (\d+)", text)
    maximum = re.search(r"maximum size: (\d+) by (\d+)", text)
    return (tuple(map(int, minimum.groups())) if minimum else None,
            tuple(map(int, maximum.groups())) if maximum else None)


def mark(program, window):
    """A positive marker for checks of absence: middle-clicks |window| (the
    page's main window), whose page then moves it one pixel to the right, and
    waits until the X server shows the move. Whatever the host was asked
    before (a window, a menu) has reached the X server by then."""
    x, y, width, height = program.window_geometry(window)
    marks = len(re.findall(CONSOLE + "mark ", program.log()))
    click(program, x + width // 2, y + height // 2, button=2)
    line = program.wait_for_log(CONSOLE + "mark %d (ok|threw)(.*)$" % marks)[0]
    assert line.group(1) == "ok", line.group(0)
    wait_for(lambda: program.window_geometry(window)[0] == x + 1, what="the marker move",
             state=lambda: program.window_geometry(window))


def assert_window_count_after_mark(program, pid, host, count):
    mark(program, host)
    assert len(program.visible_windows(pid)) == count, windows_with_geometry(program, pid)


def compositing_manager_running(program):
    """True when some client owns the compositing-manager selection of
    screen 0 (what GDK asks before it blends ARGB windows)."""
    import ctypes
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XGetSelectionOwner.restype = ctypes.c_ulong
    xlib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(program.env["DISPLAY"].encode())
    assert display, "cannot open the test display"
    try:
        return xlib.XGetSelectionOwner(display, xlib.XInternAtom(display, b"_NET_WM_CM_S0", 0)) != 0
    finally:
        xlib.XCloseDisplay(display)


@pytest.fixture
def compositor(program):
    """A compositing manager for the run of one test, as on a desktop: without
    one the translucent shadow is never blended with what lies below."""
    assert not compositing_manager_running(program), "another compositor on this display"
    proc = subprocess.Popen(["xcompmgr"], env=program.env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    wait_for(lambda: compositing_manager_running(program) or proc.poll() is not None,
             what="xcompmgr to take the compositing selection")
    assert proc.poll() is None, "xcompmgr could not start"
    yield proc
    proc.terminate()
    proc.wait(timeout=10)
    wait_for(lambda: not compositing_manager_running(program), what="xcompmgr to let go of the selection")


# --- showing and decoration -------------------------------------------------

def test_window_is_undecorated_and_hidden_until_the_page_shows_it(program):
    proc = start(program, "late-show")
    assert program.visible_windows(proc.pid) == [], "no window before the page shows it"
    program.wait_for_log(CONSOLE + "show ok$")
    host, shadow = host_and_shadow(program, proc.pid)
    assert program.window_geometry(host) == (100, 100, 400, 300), "the page's rectangle, no frame added"
    # Motif hints with the decorations flag (2) set and no decorations.
    hints = re.search(r"_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (.*)", xprop(program, host, "_MOTIF_WM_HINTS"))
    assert hints, "the window tells the window manager to draw no frame"
    flags, _functions, decorations = [int(v, 16) for v in hints.group(1).split(", ")[:3]]
    assert flags & 2 and decorations == 0
    info = subprocess.run(["xwininfo", "-id", str(host)], env=program.env, capture_output=True, text=True).stdout
    assert "Border width: 0" in info


def test_force_show_window_shows_a_window_the_page_never_shows(program):
    proc = start(program, "never", "--force-show-window")
    host, _ = host_and_shadow(program, proc.pid)
    assert program.window_geometry(host) == (100, 100, 400, 300)


# --- shadow -------------------------------------------------------------------

def stacking_order(program):
    """The root's children, topmost first (as xwininfo lists them)."""
    out = subprocess.run(["xwininfo", "-root", "-children"], env=program.env, capture_output=True,
                         text=True, check=True).stdout
    return [int(m.group(1), 16) for m in re.finditer(r"^\s+(0x[0-9a-f]+)", out, re.M)]


def test_shadow_lies_around_the_host_follows_it_and_hides_with_it(program):
    proc = start(program, "shadow")
    host, shadow = host_and_shadow(program, proc.pid)
    assert program.window_geometry(host) == (100, 100, 800, 600)
    assert program.window_geometry(shadow) == shadow_rect(100, 100, 800, 600)
    order = stacking_order(program)
    assert order.index(shadow) == order.index(host) + 1, "the shadow lies directly below the host"

    run_action(program, 0, host)  # moved and resized
    wait_for(lambda: program.window_geometry(shadow) == shadow_rect(300, 200, 500, 400),
             what="the shadow to follow", state=lambda: program.window_geometry(shadow))
    # 10 x 10 asked for by the page: the size limits bound only the user's
    # sizing, and the shadow is the margins around the small window.
    run_action(program, 1, host)
    wait_for(lambda: program.window_geometry(shadow) == shadow_rect(300, 200, 10, 10),
             what="the shadow to follow", state=lambda: program.window_geometry(shadow))
    assert program.window_geometry(host) == (300, 200, 10, 10)

    run_action(program, 2, host)  # showWindow("hide"), and shown again later
    wait_for_window_count(program, proc.pid, 0)
    program.wait_for_log(CONSOLE + "show again ok$")
    host_again, shadow_again = host_and_shadow(program, proc.pid)
    assert (host_again, shadow_again) == (host, shadow)
    wait_for(lambda: program.window_geometry(shadow) == shadow_rect(300, 200, 500, 400),
             what="the shadow around the host", state=lambda: program.window_geometry(shadow))


def test_erase_shadow_frame_leaves_the_host_alone(program):
    proc = start(program, "shadow", "--erase-shadow-frame")
    windows = wait_for_window_count(program, proc.pid, 1)
    assert list(windows.values()) == [(100, 100, 800, 600)]
    assert_window_count_after_mark(program, proc.pid, list(windows)[0], 1)


def pixel(image, x, y):
    out = subprocess.run(["convert", str(image), "-crop", "1x1+%d+%d" % (x, y), "-format",
                          "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]", "info:"],
                         capture_output=True, text=True, check=True).stdout
    return tuple(int(v) for v in out.strip().split(","))


def test_shadow_darkens_only_its_margin_on_a_compositing_desktop(program, compositor):
    proc = start(program, "shadow")
    host, _ = host_and_shadow(program, proc.pid)
    program.wait_for_log(r"Load finished: vesk://vesk/res/app_init\.html")

    def shadow_in_its_margins(shot):
        """The failures in |shot|; none once the compositor painted the frame."""
        background = pixel(shot, 40, 40)
        # Just outside the shadow on each side: untouched desktop.
        left, top, right, bottom = shadow_margins()
        outside = [(99 - left, 400), (900 + right, 400), (500, 99 - top), (500, 700 + bottom)]
        failures = [("outside", (x, y)) for x, y in outside if pixel(shot, x, y) != background]
        # A few pixels out from the host (800 x 600 at 100, 100), in the
        # margins and the corners: darker than the desktop.
        failures += [("not shaded", (x, y), pixel(shot, x, y))
                     for x, y in [(97, 400), (902, 400), (500, 98), (500, 701),
                                  (97, 98), (902, 98), (97, 701), (902, 701)]
                     if sum(pixel(shot, x, y)) >= sum(background) - 6]
        # The page itself (#3a6ea5) fills the host.
        if pixel(shot, 500, 400) != (0x3a, 0x6e, 0xa5):
            failures.append(("page", pixel(shot, 500, 400)))
        return not failures or None

    poll_screenshot(program, shadow_in_its_margins)


# --- pop-ups, context menu, developer tools ---------------------------------

def test_window_open_of_a_web_address_returns_null_and_opens_nothing(program):
    proc = start(program, "open")
    host, _ = host_and_shadow(program, proc.pid)
    run_action(program, 0, host, "null,null,null")
    assert_window_count_after_mark(program, proc.pid, host, 2)


def test_right_click_shows_no_menu(program):
    proc = start(program, "contextmenu")
    host, _ = host_and_shadow(program, proc.pid)
    click(program, 200, 200, button=3)
    # The press reached the page, and the engine showed nothing for it.
    program.wait_for_log(CONSOLE + "contextmenu event$")
    assert_window_count_after_mark(program, proc.pid, host, 2)


def press_f12(program, window):
    """Focuses |window| and types F12 as a user would (to the focused window)."""
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], env=program.env, check=True, timeout=10)
    subprocess.run(["xdotool", "key", "F12"], env=program.env, check=True, timeout=10)


def test_f12_toggles_the_inspector_with_enable_dev_tools(program):
    proc = start(program, "keys", "--enable-dev-tools")
    host, shadow = host_and_shadow(program, proc.pid)
    press_f12(program, host)
    windows = wait_for_window_count(program, proc.pid, 3)
    inspector = (set(windows) - {host, shadow}).pop()
    assert windows[inspector][2] > 300 and windows[inspector][3] > 200, "a real inspector window"
    press_f12(program, host)
    wait_for_window_count(program, proc.pid, 2)
    assert "key F12" not in program.log(), "the toggle consumes the key"


def test_f12_reaches_the_page_without_the_switch(program):
    proc = start(program, "keys")
    host, _ = host_and_shadow(program, proc.pid)
    press_f12(program, host)
    program.wait_for_log(CONSOLE + "key F12$")
    assert_window_count_after_mark(program, proc.pid, host, 2)


def menu_window(program, pid, known):
    """The menu that appeared: the new visible window of some size on screen."""
    def find():
        windows = windows_with_geometry(program, pid)
        menus = [w for w, (x, y, width, height) in windows.items()
                 if w not in known and x >= 0 and y >= 0 and width > 20 and height > 20]
        return menus[0] if len(menus) == 1 else None
    return wait_for(find, what="a menu window")


def test_popup_menu_shows_the_menu_items_and_reports_the_choice(program):
    proc = start(program, "menu")
    host, shadow = host_and_shadow(program, proc.pid)
    # The page pops the menu up from a click, at the pointer.
    run_action(program, 0, host)
    menu = menu_window(program, proc.pid, {host, shadow})
    x, y, width, height = program.window_geometry(menu)
    pointer_x = 100 + 400 // 2
    pointer_y = 100 + 300 // 2
    assert abs(x - pointer_x) <= 2 and abs(y - pointer_y) <= 2, "placed at the pointer"
    click(program, x + width // 2, y + 12)  # the first entry, "Open"
    program.wait_for_log(CONSOLE + r"menu click 3$")
    wait_for(lambda: menu not in program.visible_windows(proc.pid), what="the menu to close")
    # The item without "menu": true does not appear: the same menu with it
    # marked as a menu item is taller by one entry.
    run_action(program, 1, host)
    with_x = menu_window(program, proc.pid, {host, shadow})
    assert program.window_geometry(with_x)[3] > height + 15, (height, program.window_geometry(with_x))
    subprocess.run(["xdotool", "key", "Escape"], env=program.env, check=True)
    assert len(program.wait_for_log(CONSOLE + r"menu click")) == 1


@pytest.mark.parametrize("held", [False, True], ids=["released-at-once", "held"])
def test_a_menu_popped_up_on_the_press_stays_up_after_the_release(program, held):
    proc = start(program, "menu-press")
    host, shadow = host_and_shadow(program, proc.pid)
    x, y, width, height = program.window_geometry(host)
    xdotool(program, "mousemove", x + width // 2, y + height // 2, "mousedown", 1)
    program.wait_for_log(CONSOLE + "action 0 ok$")
    menu_window(program, proc.pid, {host, shadow})
    if held:
        # No event to wait for: the release must come more than half a second
        # (of X server time) after the press, past the span in which the menu
        # ignores a release by itself. A slower machine only holds it longer.
        time.sleep(1.0)
    xdotool(program, "mouseup", 1)
    # Keys after the release, in order: a menu still up takes them and runs
    # its first entry; a menu the release closed lets them reach the page.
    xdotool(program, "key", "Down", "Return")
    answer = program.wait_for_log(CONSOLE + r"(menu click \d+|key \w+)$")[0]
    assert answer.group(1) == "menu click 3", program.log()[-3000:]


def xdotool(program, *args):
    subprocess.run(["xdotool", *map(str, args)], env=program.env, check=True, timeout=10)


# --- log lines ----------------------------------------------------------------

def test_console_output_of_a_script_file_names_file_and_line(program):
    start(program, "console")
    # The line's own source is the engine-handler code that writes it.
    program.wait_for_log(r":INFO:handler_base\.cc\(\d+\)\] \[CONSOLE:main\.js\(17\)\] hello$")


def free_local_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_failed_load_goes_to_the_error_page_with_the_query(program):
    port = free_local_port()
    start(program, "error-page:%d" % port)
    failed = "http://127.0.0.1:%d/missing?q=1" % port
    line = program.wait_for_log(r"Load error page: (.*)$")[0].group(1)
    prefix = "vesk://vesk/res/error.html?url=" + failed + "&error_text="
    assert line.startswith(prefix) and line.endswith("&a=1"), line
    error_text = line[len(prefix):-len("&a=1")]
    assert error_text, "the engine's error text"
    # The error page itself was loaded with that URL.
    shown = program.wait_for_log(r"\[CONSOLE:error\.html\(\d+\)\] error page (.*)$")[0].group(1)
    assert shown.startswith("vesk://vesk/res/error.html?url=" + failed + "&error_text=")
    assert shown.endswith("&a=1")
    assert len(re.findall("Load error page", program.log())) == 1


def test_failed_frame_load_goes_to_the_error_page_in_the_main_frame(program):
    port = free_local_port()
    start(program, "frame-error:%d" % port)
    failed = "http://127.0.0.1:%d/frame?q=1" % port
    line = program.wait_for_log(r"Load error page: (.*)$")[0].group(1)
    prefix = "vesk://vesk/res/error.html?url=" + failed + "&error_text="
    assert line.startswith(prefix) and line.endswith("&a=1"), line
    program.wait_for_log(r"\[CONSOLE:error\.html\(\d+\)\] error page in the main frame$")
    assert len(re.findall("Load error page", program.log())) == 1


# --- the application's life -------------------------------------------------

def test_closing_the_main_window_leaves_the_application_running(program):
    """A login window launches the application's window and closes itself:
    the application goes on, and ends when its last window is closed."""
    proc = start(program, "login")
    program.wait_for_log(CONSOLE + "start launched ok$")
    program.wait_for_log(CONSOLE + "closing login ok$")
    program.wait_for_log(r"Main window destroyed$")
    windows = wait_for_window_count(program, proc.pid, 2)  # the launched window and its shadow
    launched = [w for w in windows if not is_override_redirect(program, w)]
    assert [program.window_geometry(w) for w in launched] == [(600, 100, 300, 200)]
    assert proc.poll() is None, "the application still runs"
    run_action(program, 0, launched[0])  # the launched window closes itself
    assert proc.wait(timeout=30) == 0
    assert "Last window destroyed; exiting." in program.log()


# --- with a window manager --------------------------------------------------

def net_wm_state(program, window):
    return xprop(program, window, "_NET_WM_STATE", "WM_STATE")


def all_windows(program, pid):
    out = subprocess.run(["xdotool", "search", "--pid", str(pid)], env=program.env, capture_output=True,
                         text=True).stdout
    return [int(w) for w in out.split()]


def test_restore_and_maximize_show_a_hidden_window(program, window_manager):
    for command, states in [("restore", set()), ("maximize", {"_NET_WM_STATE_MAXIMIZED_VERT",
                                                               "_NET_WM_STATE_MAXIMIZED_HORZ"})]:
        proc = start(program, "hidden-state:" + command)
        host = program.main_window(proc.pid)
        wait_for(lambda: all(state in net_wm_state(program, host) for state in states),
                 what="the window shown in state %s" % command, state=lambda: net_wm_state(program, host))
        if command == "restore":
            assert program.window_geometry(host) == (100, 100, 400, 300)
        else:
            width, height = screen_work_area(program)
            assert program.window_geometry(host)[2:] == (width, height)
        program.stop_all()


def test_minimize_shows_a_hidden_window_minimized(program, window_manager):
    proc = start(program, "hidden-state:minimize")

    def iconic_window():
        return [w for w in all_windows(program, proc.pid)
                if re.search(r"window state: Iconic", net_wm_state(program, w))]
    window = wait_for(iconic_window, what="a minimised window")[0]
    assert "_NET_WM_STATE_HIDDEN" in net_wm_state(program, window)


def test_drag_window_moves_the_window_with_the_mouse(program, window_manager):
    proc = start(program, "drag")
    host = program.main_window(proc.pid)
    wait_for(lambda: program.window_geometry(host) == (100, 100, 400, 300), what="the page's place",
             state=lambda: program.window_geometry(host))
    xdotool = ["xdotool"]
    subprocess.run(xdotool + ["mousemove", "300", "250", "mousedown", "1"], env=program.env, check=True)
    program.wait_for_log(CONSOLE + "action 0 ok$")  # the page asked for the drag from its mouse press
    step = [0]

    def dragged():
        # The window manager takes the drag over once it has the page's
        # request; every pointer motion after that moves the window.
        step[0] += 1
        subprocess.run(xdotool + ["mousemove", str(380 + step[0] % 2), "310"], env=program.env, check=True)
        x, y = program.window_geometry(host)[:2]
        return abs(x - 180) <= 2 and abs(y - 160) <= 2
    wait_for(dragged, what="the window to follow the pointer", state=lambda: program.window_geometry(host))
    subprocess.run(xdotool + ["mouseup", "1"], env=program.env, check=True)


def test_full_screen_test_sees_windows_inside_the_frames_of_a_window_manager(program, window_manager):
    """The window manager frames every client window, and the frame carries
    no owner of its own: the owner is the client's inside it."""
    proc = start(program, "fullscreen")
    host = program.main_window(proc.pid)
    width, height = screen_work_area(program)
    wait_for(lambda: program.window_geometry(host) == (0, 0, width, height), what="the window on the whole screen",
             state=lambda: program.window_geometry(host))
    run_action(program, 0, host, "true")


def test_size_limits_bound_the_user_but_not_the_page(program, window_manager):
    proc = start(program, "limits-wm")
    host = program.main_window(proc.pid)
    wait_for(lambda: size_hints(program, host) == ((300, 200), (500, 400)), what="the limits",
             state=lambda: size_hints(program, host))
    run_action(program, 0, host)  # 800 x 600: larger than the maximum
    wait_for(lambda: program.window_geometry(host) == (100, 100, 800, 600), what="the page's size",
             state=lambda: program.window_geometry(host))
    assert size_hints(program, host)[1] is None, "no maximum while the window is larger"
    run_action(program, 1, host)  # 450 x 350: inside the limits, which hold again
    wait_for(lambda: program.window_geometry(host) == (100, 100, 450, 350), what="the page's size",
             state=lambda: program.window_geometry(host))
    wait_for(lambda: size_hints(program, host) == ((300, 200), (500, 400)), what="the limits again",
             state=lambda: size_hints(program, host))


# --- size limits, opacity, topmost ------------------------------------------

def test_size_limits_as_the_window_system_sees_them(program):
    proc = start(program, "limits")
    host, _ = host_and_shadow(program, proc.pid)
    work_area = screen_work_area(program)
    assert size_hints(program, host) == ((32, 32), work_area), "the defaults"
    run_action(program, 0, host)  # min 20 x 20, max 100000 x 100000
    assert size_hints(program, host) == ((32, 32), work_area)
    run_action(program, 1, host)  # min 300 x 200, max 900 x 700
    wait_for(lambda: size_hints(program, host) == ((300, 200), (900, 700)), what="the new limits")


def opacity_of(program, window):
    match = re.search(r"_NET_WM_WINDOW_OPACITY\(CARDINAL\) = (\d+)", xprop(program, window, "_NET_WM_WINDOW_OPACITY"))
    return int(match.group(1)) if match else None


def test_opacity_sets_and_removes_the_window_opacity(program, compositor):
    proc = start(program, "opacity")
    host, _ = host_and_shadow(program, proc.pid)
    program.wait_for_log(r"Load finished: vesk://vesk/res/app_init\.html")

    def desktop(shot):
        """The page's colour and how much the left shadow margin darkens the
        desktop, or None while the shadow is not its finished image (lighter
        away from the host): the compositor may paint the shadow window
        before its image."""
        if sum(pixel(shot, 98, 250)) >= sum(pixel(shot, 94, 250)):
            return None
        return pixel(shot, 300, 250), sum(pixel(shot, 40, 40)) - sum(pixel(shot, 97, 250))

    def screen_shows(condition):
        """Screenshots until |condition(page, shade)| holds; returns (page, shade)."""
        def check(shot):
            seen = desktop(shot)
            return seen if seen and condition(*seen) else None
        check.__name__ = condition.__name__
        return poll_screenshot(program, check)

    assert opacity_of(program, host) is None

    def opaque_page_with_its_shadow(page, shade):
        return page == (0x3a, 0x6e, 0xa5) and shade > 30
    page, shade = screen_shows(opaque_page_with_its_shadow)
    run_action(program, 0, host, "0.5")
    # 0.5 × 255 truncated = 127 of 255, scaled to the 32-bit cardinal.
    value = wait_for(lambda: opacity_of(program, host), what="the opacity property")
    assert abs(value / 0xFFFFFFFF - 127 / 255) < 1e-6, hex(value)

    def desktop_through_page_and_faded_shadow(half_page, half_shade):
        return half_page != page and 0.3 * shade < half_shade < 0.7 * shade
    screen_shows(desktop_through_page_and_faded_shadow)
    # 1 makes the window opaque again; the stored value stays the last one applied.
    run_action(program, 1, host, "0.5")
    wait_for(lambda: opacity_of(program, host) is None, what="the opacity property to go")

    def as_before(again_page, again_shade):
        return (again_page, again_shade) == (page, shade)
    screen_shows(as_before)


def test_topmost_is_set_for_the_window_system_and_reported(program):
    proc = start(program, "topmost")
    assert program.wait_for_log(CONSOLE + "topmost (.*)$")[0].group(1) == "true"
    host, _ = host_and_shadow(program, proc.pid)
    assert "_NET_WM_STATE_ABOVE" in xprop(program, host, "_NET_WM_STATE")
    run_action(program, 0, host, "false")
