"""The whole upload hand-over with the real program: a second start hands a
request file over, the page's handler calls browser.clickFileInput on its
file input, and the input receives exactly the requested files without a
dialog. With nothing pending the same call opens the open-file dialog."""

import base64
import os
import subprocess
import time

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "upload")
CHOSEN = r"\] files chosen: (.*)$"


def request_value(tmp_path, name, paths):
    request = tmp_path / name
    request.write_text('{"command":"upload","data":[%s]}' % ",".join('"%s"' % p for p in paths))
    return base64.b64encode(str(request).encode()).decode()


def test_clicking_the_file_input_takes_the_handed_over_files(program, tmp_path):
    first = program.start("--vesk-package-dir=" + PAGES)
    program.wait_for_window(first.pid)
    program.wait_for_log(r"\] page ready")
    files = [tmp_path / "report one.txt", tmp_path / "b.pdf"]
    for path in files:
        path.write_text("x")

    code, _ = program.run("--upload-extension=" + request_value(tmp_path, "one.json", files), timeout=60)
    assert code == 0
    assert program.wait_for_log(CHOSEN)[0].group(1) == "report one.txt|b.pdf"
    windows = set(program.visible_windows(first.pid))

    # Nothing pending: the click opens the dialog, which is cancelled here.
    code, _ = program.run("--upload-extension=" + request_value(tmp_path, "none.json", []), timeout=60)
    assert code == 0
    program.wait_for_log(r"\] clicked$", count=2)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and not set(program.visible_windows(first.pid)) - windows:
        time.sleep(0.1)
    dialogs = set(program.visible_windows(first.pid)) - windows
    assert dialogs, "the click with nothing pending shows the open-file dialog"
    # Focused and pressed through the X server, as a user would.
    subprocess.run(["xdotool", "windowfocus", "--sync", str(dialogs.pop()), "key", "Escape"], env=program.env,
                   check=True)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and set(program.visible_windows(first.pid)) - windows:
        time.sleep(0.1)
    assert not set(program.visible_windows(first.pid)) - windows, "the dialog went away"
    assert len(program.wait_for_log(CHOSEN)) == 1, "cancelling chose nothing"
    assert first.poll() is None
