"""window.os in the real program: the forced aero style, system facts
against the display, calls that must not throw, and external targets
reaching the desktop's default handler."""

import json
import os
import subprocess

import pytest

from page_suite import run_suite
from waits import wait_until


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


TEST_SCHEME = "x-pelicard-test"


def register_default_handler(program, tmp_path):
    """A handler of our own, the default for the test scheme and for plain
    text files in the program's private XDG_DATA_HOME (a desktop entry and
    mimeapps.list): a script that appends each argument it is started with
    to handled.txt, then holds until the file "release" exists and notes its
    end in finished.txt. Returns the directory of those files."""
    handler = tmp_path / "record-handler"
    handler.write_text(
        '#!/bin/sh\n'
        'cd "%s"\n'
        'for target in "$@"; do printf "%%s\\n" "$target" >> handled.txt; done\n'
        'env > "environment-$$.txt"\n'
        '# Polls for the test to let it go (a minute at most).\n'
        'n=0; while [ ! -e release ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done\n'
        'echo finished >> finished.txt\n' % tmp_path)
    handler.chmod(0o755)
    applications = os.path.join(program.env["XDG_DATA_HOME"], "applications")
    os.makedirs(applications)
    with open(os.path.join(applications, "pelicard-test-handler.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Test handler\nExec=%s %%u\nNoDisplay=true\n"
                "MimeType=x-scheme-handler/%s;text/plain;\n" % (handler, TEST_SCHEME))
    with open(os.path.join(applications, "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\nx-scheme-handler/%s=pelicard-test-handler.desktop\n"
                "text/plain=pelicard-test-handler.desktop\n" % TEST_SCHEME)
    return tmp_path


def lines_of(path):
    return path.read_text().splitlines() if path.exists() else []


def test_navigate_external_opens_targets_with_the_default_handler(program, tmp_path):
    handler_dir = register_default_handler(program, tmp_path)
    # A module directory of the user's own: the handler gets it back, and
    # none of the variables the program sets for the engine's network process.
    program.env["GIO_EXTRA_MODULES"] = "/users/own/gio-modules"
    note = tmp_path / "a note.txt"
    note.write_text("plain text\n")
    url = TEST_SCHEME + "://target/path?q=1&r=a%20b"
    # The handlers hold until released below, after the suite ended: so the
    # suite ending proves that navigateExternal returned without waiting for
    # the program it opened.
    run_suite(program, "os_external", files={"res/targets.js": "const TARGETS = %s;\n" % json.dumps([url, str(note)])})
    # Each target is opened on a thread of its own: in either order. The
    # launcher hands a local file to an "%u" handler as its path.
    handled = handler_dir / "handled.txt"
    expected = sorted([url, str(note)])
    wait_until(lambda: sorted(lines_of(handled)) == expected, what="the handler to record both targets",
               state=lambda: lines_of(handled))
    assert lines_of(handler_dir / "finished.txt") == [], "the handlers were held while the page went on"
    (handler_dir / "release").write_text("go\n")
    wait_until(lambda: len(lines_of(handler_dir / "finished.txt")) == 2, what="both handlers to end")
    assert "Cannot open" not in program.log()
    environments = sorted(handler_dir.glob("environment-*.txt"))
    assert len(environments) == 2
    for environment in environments:
        variables = dict(line.split("=", 1) for line in environment.read_text().splitlines() if "=" in line)
        assert variables.get("GIO_EXTRA_MODULES") == "/users/own/gio-modules", environment.read_text()
        ours = [name for name in variables if name.startswith("VESK_") or name == "GIO_USE_PROXY_RESOLVER"]
        assert ours == [], environment.read_text()
