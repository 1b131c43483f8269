"""The tray icon end to end: the real program on a private session bus of the
test's own, with a StatusNotifierWatcher and host speaking the real protocol
(sni_watcher.py), the real dunst for balloons, and the page suites
tray_icon, tray_balloon and tray_icon_checks."""

import os

import gi
import pytest

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib  # noqa: E402

from page_suite import start_suite
from tray_bus import Dunst, NotifyMonitor, PrivateBus, Watcher, wait_until

LONG = 90


@pytest.fixture
def bus(program, tmp_path):
    private = PrivateBus(str(tmp_path))
    program.env.update(private.env)
    yield private
    program.stop_all()
    private.stop()


def make_icon(path):
    """A 4 x 3 PNG with distinct, partly transparent pixels; returns its
    pixels as the item's network-order ARGB."""
    width, height = 4, 3
    rgba = b"".join(bytes((x * 60, y * 100, 7 * x + y, 255 - 40 * (x + y)))
                    for y in range(height) for x in range(width))
    pixbuf = GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(rgba), GdkPixbuf.Colorspace.RGB, True, 8,
                                             width, height, width * 4)
    pixbuf.savev(path, "png", [], [])
    argb = b"".join(bytes((rgba[i + 3], rgba[i], rgba[i + 1], rgba[i + 2])) for i in range(0, len(rgba), 4))
    with open(path, "rb") as f:
        return f.read(), [[width, height, argb.hex()]]


def is_event(kind, **fields):
    return lambda e: e["event"] == kind and all(e.get(k) == v for k, v in fields.items())


def test_item_on_the_bus_clicks_and_panel_restart(program, bus, tmp_path):
    root = str(tmp_path)
    png, pixmaps = make_icon(os.path.join(root, "tray.png"))
    watcher = Watcher(bus, root, "watcher1")
    session = start_suite(program, "tray_icon", files={"res/tray.png": png}, timeout=300)
    try:
        # Registered on install, with what was written before it.
        registered = watcher.wait_for(is_event("registered"), "the item's registration", LONG)
        assert registered["service"] == "org.kde.StatusNotifierItem-%d-1" % session.process.pid
        props = registered["props"]
        assert props["ToolTip"][2] == "tip written first"
        assert props["IconPixmap"] == pixmaps
        assert props["Status"] == "Active"
        assert props["Id"] and props["Category"] == "ApplicationStatus"
        assert "Menu" not in props  # hosts then send ContextMenu
        session.signal("registered")

        # One left and one right click.
        session.wait_for_report("clicks_ready")
        watcher.command("activate")
        watcher.command("contextmenu")

        # A right click with no handler (as SecondaryActivate, which some
        # hosts send for it), then a left click the page waits for.
        session.wait_for_report("no_right_handler")
        mark = len(watcher.events())
        watcher.command("secondary")
        watcher.wait_for(is_event("called", method="SecondaryActivate"), "the right click", LONG, after=mark)
        watcher.command("activate")

        # The tool tip refreshed while installed, cut to 127 characters.
        changed = watcher.wait_for(is_event("signal", signal="NewToolTip"), "NewToolTip", LONG)
        assert changed["props"]["ToolTip"][2] == "邮" * 127
        session.signal("tip_changed")

        # Uninstall: the watcher sees the item go.
        watcher.wait_for(is_event("unregistered"), "the item to go", LONG)
        session.signal("unregistered")

        # Installed again; then the panel restarts with a new watcher.
        session.wait_for_report("installed_again")
        wait_until(lambda: sum(e["event"] == "registered" for e in watcher.events()) >= 2,
                   "the second registration", LONG)
        watcher.quit()
        watcher = Watcher(bus, root, "watcher2")
        session.wait_for_report("restart_seen")
        again = watcher.wait_for(is_event("registered"), "the item at the new watcher", LONG)
        assert again["props"]["ToolTip"][2] == "邮" * 127
        session.signal("new_watcher_has_item")
        result = session.finish()
    finally:
        watcher.quit()

    assert session.process.poll() is None, "the program ended"
    assert "Check failed" not in result.log
    assert "UpdateIcon Failed" not in result.log
    # The right click without a handler failed inside the page only.
    assert result.log.count("Tray icon created") == 1


def test_balloons_reach_the_notification_server(program, bus, tmp_path, display):
    root = str(tmp_path)
    png, _ = make_icon(os.path.join(root, "tray.png"))
    dunst = Dunst(bus, root, display)
    monitor = NotifyMonitor(bus, root)
    try:
        session = start_suite(program, "tray_balloon", files={"res/tray.png": png}, timeout=300)
        first = wait_until(lambda: (dunst.records() or [None])[0], "the first balloon", LONG)
        assert first["DUNST_SUMMARY"] == "New mail"
        assert first["DUNST_BODY"] == "One new message"
        assert first["DUNST_TIMEOUT"] == "4000"
        with open(first["DUNST_ICON_PATH"], "rb") as image:
            assert image.read() == png
        session.signal("first_seen")

        records = wait_until(lambda: len(dunst.records()) >= 2 and dunst.records(), "the second balloon", LONG)
        second = records[1]
        assert second["DUNST_ID"] == first["DUNST_ID"], "the second balloon replaces the first"
        assert second["DUNST_SUMMARY"] == "T" * 63
        assert second["DUNST_BODY"] == "x" * 255
        assert second["DUNST_TIMEOUT"] == str(Dunst.DEFAULT_TIMEOUT_MS), "no delay: the server's default"
        session.signal("second_seen")
        result = session.finish()
        calls = wait_until(lambda: len(monitor.calls()) >= 2 and monitor.calls(), "both Notify calls", LONG)
    finally:
        monitor.stop()
        dunst.stop()
    assert "PopBallon Failed" not in result.log
    # The hints dunst does not show: no sound unless asked for, the image as
    # a file URI.
    assert '"suppress-sound"' in calls[0] and '"suppress-sound"' not in calls[1]
    assert '"image-path"' in calls[0] and 'string "file:///' in calls[0]


def test_checks_state_across_reload_and_refusals(program, bus, tmp_path):
    png, _ = make_icon(os.path.join(str(tmp_path), "tray.png"))
    session = start_suite(program, "tray_icon_checks", runs=2, timeout=300,
                          files={"res/tray.png": png, "res/blank.html": "<!doctype html><title>blank</title>\n"})
    session.wait_for_report("threw")
    # Positive marker: the throw happened; the icon must not exist yet.
    assert "Tray icon created" not in program.log()
    session.signal("nothing_created")
    # No watcher: install is refused (said in the log, and a debug check in
    # debug builds) while wasInstall stays true; a refresh after the refusal
    # logs its failure.
    program.wait_for_log(r"The tray icon was not added: .*StatusNotifierWatcher", timeout=LONG)
    session.signal("refused")
    result = session.finish()
    program.wait_for_log(r"UpdateIcon Failed: .*StatusNotifierWatcher", timeout=LONG)
    # One icon for both pages, both frames and the reload.
    assert result.log.count("Tray icon created") == 1
    # No notification server: logged, the page not told (its case passed).
    program.wait_for_log(r"PopBallon Failed: ", timeout=LONG)
