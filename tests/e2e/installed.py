"""An installed program (`cmake --install`) and users to run it as: root and
`nobody`, each with their own home, runtime directory and session bus, on one
shared temporary directory. For the tests of the install rules and the
Debian package."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

from conftest import Program

BUILD_DIR = os.environ.get("VESK_BUILD_DIR", "")
APP = os.environ.get("VESK_APP_NAME", "pelicard")
NOBODY = 65534


def require_build_dir():
    import pytest
    if not BUILD_DIR or not os.path.isfile(os.path.join(BUILD_DIR, "CMakeCache.txt")):
        pytest.skip("needs VESK_BUILD_DIR, the build tree to install from")
    if os.geteuid() != 0:
        pytest.skip("running as a second user needs root")


def cmake_install(prefix, destdir=None):
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = destdir
    subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], env=env, check=True,
                   capture_output=True)


class Place:
    """A directory every user can reach, with a shared sticky temporary
    directory inside; removed by close()."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vesk-installed-")
        os.chmod(self.root, 0o755)
        self.tmp = os.path.join(self.root, "tmp")
        os.mkdir(self.tmp)
        os.chmod(self.tmp, 0o1777)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def chown_tree(path, uid):
    for directory, dirs, files in os.walk(path):
        os.lchown(directory, uid, uid)
        for name in files + dirs:
            os.lchown(os.path.join(directory, name), uid, uid)


class InstalledProgram(Program):
    """The installed program started through <prefix>/bin/<app>, as root or
    as nobody. Its log is where the program puts it: the program directory
    when that user can write it, else $XDG_STATE_HOME/<app>/."""

    def __init__(self, place, name, display_name, prefix, uid=0):
        self.root = os.path.join(place.root, name)
        os.makedirs(self.root)
        self.uid = uid
        self.dir = os.path.join(prefix, "lib", APP)
        self.exe = os.path.join(prefix, "bin", APP)
        self.runtime_dir = os.path.join(self.root, "run")
        os.makedirs(self.runtime_dir, mode=0o700)
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        self.home = home
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": display_name, "XDG_RUNTIME_DIR": self.runtime_dir, "HOME": home,
            "TMPDIR": place.tmp, "GDK_BACKEND": "x11", "NO_AT_BRIDGE": "1",
            "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
        })
        for variable in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_DIRS"):
            self.env.pop(variable, None)
        self.log_path = (os.path.join(self.dir, APP + ".log") if uid == 0
                         else os.path.join(home, ".local", "state", APP, APP + ".log"))
        self.processes = []

    def start(self, *args, cwd=None):
        if self.uid == 0:
            return super().start(*args, cwd=cwd)
        # Everything below this user's root is theirs (a page suite's site
        # is written there just before the start).
        chown_tree(self.root, self.uid)
        exe = self.exe
        self.exe = "/usr/bin/setpriv"
        try:
            # Their own session bus: a bus refuses other users.
            return super().start("--reuid=%d" % self.uid, "--regid=%d" % self.uid, "--clear-groups",
                                 "dbus-run-session", "--", exe, *args, cwd=cwd or self.root)
        finally:
            self.exe = exe

    def program_pids(self, proc):
        """The program's own processes in |proc|'s process group (not the
        engine's helpers, nor the session bus's runner)."""
        pids = []
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/stat" % entry) as f:
                    stat = f.read()
            except OSError:
                continue
            name = stat[stat.index("(") + 1:stat.rindex(")")]
            if name == APP[:15] and int(stat[stat.rindex(")") + 2:].split()[2]) == proc.pid:
                pids.append(int(entry))
        return pids

    def end(self):
        """Ends the program as a user's session would: a termination request
        to the program alone, which closes its window and lets the engine's
        processes finish their work; then waits for all of them."""
        for proc in self.processes:
            for pid in self.program_pids(proc):
                os.kill(pid, signal.SIGTERM)
        self.wait_for_groups()

    def stop_all(self):
        """Ends every started program and waits for the whole process group:
        for another user the started process is the session bus's runner,
        which ends before the program does."""
        super().stop_all()
        self.wait_for_groups()

    def wait_for_groups(self):
        for proc in self.processes:
            deadline = time.monotonic() + 30
            while True:
                proc.poll()  # reaps the started process once it ended
                try:
                    os.killpg(proc.pid, 0)
                except ProcessLookupError:
                    break
                if time.monotonic() > deadline:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
                    raise AssertionError("process group %d did not end" % proc.pid)
                time.sleep(0.05)
