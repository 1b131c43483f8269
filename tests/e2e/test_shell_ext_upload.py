"""pelicard-upload with the real program: files chosen in a file manager
reach the page, whether the program already runs or is started for them.
The page's file input is clicked for real (xdotool), which is what takes
the pending files."""

import os
import signal
import subprocess
import time

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "ipc")
CHOSEN = r"\] files chosen: (.*)$"


def selected_files(tmp_path):
    folder = tmp_path / "folder"
    folder.mkdir()
    for name in ("a", "b", "c"):
        (folder / name).write_text(name)
    return folder


def upload(program, folder, *names):
    """Runs pelicard-upload from the program directory in |folder|, as a
    file manager's entry does; request files go to a private TMPDIR."""
    env = dict(program.env, TMPDIR=program.root)
    done = subprocess.run([os.path.join(program.dir, "pelicard-upload"), *names], cwd=folder, env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr


def click(program, x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=program.env, check=True)


def test_upload_reaches_the_running_program(program, tmp_path):
    first = program.start("--vesk-package-dir=" + PAGES)
    program.wait_for_window(first.pid)
    program.wait_for_log(r"\] page ready")
    upload(program, selected_files(tmp_path), "a", "b", "c")
    assert program.wait_for_log(r"IPC upload request: (\d+) file\(s\) appended")[0].group(1) == "3"
    program.wait_for_log(r"\] handler upload$")
    click(program, 50, 50)
    assert program.wait_for_log(CHOSEN)[0].group(1) == "a|b|c"
    assert first.poll() is None


def instance_pid(program):
    sockets = os.path.join(program.runtime_dir, "vesk_ipc_window")
    names = os.listdir(sockets) if os.path.isdir(sockets) else []
    return int(names[0]) if len(names) == 1 else None


def running(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            return "\nState:\tZ" not in status.read()
    except FileNotFoundError:
        return False


def test_upload_starts_the_program_when_none_runs(program, tmp_path):
    # The extra command-line text of the entry brings the test page along.
    registry = os.path.join(program.env["XDG_CONFIG_HOME"], "pelicard", "registry.ini")
    os.makedirs(os.path.dirname(registry))
    with open(registry, "w") as f:
        f.write("[Software\\Kestrow\\NewPelicard\\ContextMenuParam]\n@=sz:--vesk-package-dir=%s\n" % PAGES)
    upload(program, selected_files(tmp_path), "a", "b", "c")
    pid = None
    try:
        load = program.wait_for_log(r"Load URL: (\S+)")[0].group(1)
        assert load == "vesk://vesk/res/app_init.html?upload_ext=true"
        program.wait_for_log(r"\] page ready")
        pid = instance_pid(program)
        assert pid and running(pid)
        program.wait_for_window(pid)
        click(program, 50, 50)
        assert program.wait_for_log(CHOSEN)[0].group(1) == "a|b|c"
    finally:
        # The program was started detached, not by the fixture: end it here.
        pid = pid or instance_pid(program)
        if pid:
            os.kill(pid, signal.SIGTERM)
            deadline = time.monotonic() + 20
            while running(pid) and time.monotonic() < deadline:
                time.sleep(0.1)
            if running(pid):
                os.kill(pid, signal.SIGKILL)
