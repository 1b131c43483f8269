"""window.os in the real program: the forced aero style, system facts
against the display, and calls that must not throw."""

import subprocess

import pytest

from page_suite import run_suite


def expected_work_area(program):
    """The desktop's announced work area, else the whole screen (no window
    manager on the test display reserves space)."""
    announced = subprocess.run(["xprop", "-root", "_NET_WORKAREA"], env=program.env, capture_output=True,
                               text=True).stdout
    if "=" in announced:
        x, y, width, height = (int(v) for v in announced.split("=", 1)[1].split(",")[:4])
    else:
        out = subprocess.run(["xdotool", "getdisplaygeometry"], env=program.env, capture_output=True, text=True)
        x, y, (width, height) = 0, 0, (int(v) for v in out.stdout.split())
    return {"x": x, "y": y, "width": width, "height": height}


@pytest.mark.parametrize("value, expected", [("on", True), ("off", False)])
def test_os_suite(program, value, expected):
    result = run_suite(program, "os", "--force-aero-style=" + value)
    assert result.reports["aero"] is expected
    assert result.reports["work_area"] == expected_work_area(program)
    assert result.process.poll() is None, "navigateExternal of bad targets did not end the program"
