"""Fixtures for end-to-end tests: the real pelicard binary, started as a user
would start it, in a fresh copy of the program directory with a private
runtime directory, home and configuration. The display is an Xvfb server
started here when none is given; the session bus comes from the runner
(dbus-run-session).

Tests wait for events, never for time (docs/testing.md): see waits.py, and
`Program.wait_for_log` for log lines, `Program.wait_for_window` and
`Program.main_window` for windows."""

import os
import re
import shutil
import signal
import subprocess
import time

import pytest

from waits import poll_screenshot, wait_for_display, wait_until  # noqa: F401 (for the tests)

PROGRAM_DIR = os.environ.get("VESK_PROGRAM_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "program")


@pytest.fixture(scope="session")
def display():
    """A display for the whole run: $DISPLAY if set, else a private Xvfb."""
    if os.environ.get("VESK_E2E_USE_DISPLAY") and os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    read_fd, write_fd = os.pipe()
    # -noreset: without it the server resets whenever its last client goes,
    # and a program started during the reset cannot open the display.
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    with os.fdopen(read_fd, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    name = ":" + number.decode().strip()
    wait_for_display(name)
    yield name
    xvfb.terminate()
    xvfb.wait(timeout=10)


class Program:
    """One private copy of the program directory and the environment to run it."""

    def __init__(self, root, display_name):
        self.root = root
        self.dir = os.path.join(root, "program")
        # Logs of earlier manual runs in the build tree are not part of the program.
        shutil.copytree(PROGRAM_DIR, self.dir, symlinks=True,
                        ignore=shutil.ignore_patterns("*.log"))
        self.exe = os.path.join(self.dir, "pelicard")
        self.log_path = os.path.join(self.dir, "pelicard.log")
        self.runtime_dir = os.path.join(root, "run")
        os.makedirs(self.runtime_dir, mode=0o700)
        home = os.path.join(root, "home")
        os.makedirs(home)
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": display_name,
            "XDG_RUNTIME_DIR": self.runtime_dir,
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CONFIG_DIRS": os.path.join(root, "etc-xdg"),
            "GDK_BACKEND": "x11",
            "NO_AT_BRIDGE": "1",
            "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
        })
        self.processes = []

    def start(self, *args, cwd=None):
        # Output goes to a file, never to a pipe nobody drains: a full pipe
        # would stop the program in the middle of writing a log line.
        self.output_count = getattr(self, "output_count", 0) + 1
        output_path = os.path.join(self.root, "output-%d.txt" % self.output_count)
        with open(output_path, "wb") as output:
            proc = subprocess.Popen([self.exe, *args], env=self.env, cwd=cwd or self.root,
                                    stdout=output, stderr=subprocess.STDOUT, start_new_session=True)
        proc.output_path = output_path
        self.processes.append(proc)
        return proc

    def run(self, *args, timeout=30, cwd=None):
        """Runs to the end; returns (exit code, output)."""
        proc = self.start(*args, cwd=cwd)
        proc.wait(timeout=timeout)
        with open(proc.output_path, "rb") as output:
            return proc.returncode, output.read().decode(errors="replace")

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode(errors="replace")
        except FileNotFoundError:
            return ""

    def wait_for_log(self, pattern, timeout=30, count=1):
        """Waits until |pattern| (a regex) matched |count| log lines; returns the matches."""
        regex = re.compile(pattern)

        def matches():
            found = [m for m in (regex.search(line) for line in self.log().splitlines()) if m]
            return found if len(found) >= count else None
        return wait_until(matches, timeout, "log line %r" % pattern, state=lambda: self.log()[-4000:])

    def visible_windows(self, pid):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                             env=self.env, capture_output=True, text=True)
        return [int(w) for w in out.stdout.split()]

    def window_geometry(self, window):
        """(x, y, width, height) of a window as the X server reports it."""
        out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)], env=self.env,
                             capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return tuple(int(values.get(key, 0)) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def is_override_redirect(self, window):
        out = subprocess.run(["xwininfo", "-id", str(window)], env=self.env, capture_output=True,
                             text=True, errors="replace").stdout
        return "Override Redirect State: yes" in out

    def main_window(self, pid, timeout=30):
        """The process's largest visible managed window: the host, not its
        shadow (an override-redirect popup) or a menu."""
        def managed():
            return [w for w in self.visible_windows(pid) if not self.is_override_redirect(w)]
        windows = wait_until(managed, timeout, "a visible managed window of process %d" % pid, interval=0.1)
        return max(windows, key=lambda w: self.window_geometry(w)[2] * self.window_geometry(w)[3])

    def wait_for_window(self, pid, timeout=30):
        """The process's visible windows, once there is at least one."""
        return wait_until(lambda: self.visible_windows(pid), timeout,
                          "a visible window of process %d" % pid, interval=0.1)

    def stop_all(self):
        for proc in self.processes:
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()


@pytest.fixture
def program(tmp_path, display):
    # A server that stopped answering fails here, by name, rather than as a
    # program that "cannot open the display" in the middle of a test.
    wait_for_display(display)
    prog = Program(str(tmp_path), display)
    yield prog
    prog.stop_all()


def _supporting_wm_check(env):
    out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env, capture_output=True,
                         text=True).stdout
    match = re.search(r"window id # (0x[0-9a-f]+)", out)
    return match.group(1) if match else None


def _window_exists(env, window):
    return subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True).returncode == 0


@pytest.fixture
def window_manager(program):
    """A real, light window manager (openbox) on the display for one test:
    maximising, minimising, activation and moving or sizing with the mouse
    are its work, and a bare X server does none of them. Request it before
    the program starts (list it after `program`)."""
    # The display never resets, so the check property of an earlier test's
    # manager stays on the root window after that manager ended, and a new
    # manager may even get the same window id. Only a live check window means
    # another manager is there.
    before = _supporting_wm_check(program.env)
    if before and not _window_exists(program.env, before):
        before = None
    config = os.path.join(program.root, "openbox-rc.xml")
    shutil.copyfile("/etc/xdg/openbox/rc.xml", config)
    command = ["openbox", "--sm-disable", "--config-file", config]
    proc = subprocess.Popen(command, env=program.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Ready once it has announced itself with a check window of its own.
    deadline = time.monotonic() + 30
    while True:
        check = _supporting_wm_check(program.env)
        if check and check != before and _window_exists(program.env, check):
            break
        if time.monotonic() > deadline:
            raise AssertionError("openbox never took the display (another window manager on it?)")
        if proc.poll() is not None:
            # The manager of an earlier test may not have let go of the
            # display yet; openbox gives up at once then, so try again.
            proc = subprocess.Popen(command, env=program.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        time.sleep(0.05)
    yield proc
    proc.terminate()
    proc.wait(timeout=10)
