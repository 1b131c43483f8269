"""docs/app-development.md, followed literally: every `sh` block of the guide
runs in order in a fresh copy of the checkout (the commands that start an
application are started, watched until their first page loaded, and ended).
Then the two applications it built, the sample and the to-do example (own
name, keys and start URL through the cache variables), run side by side: each
is its own single instance, each one's autostart entry starts its own
executable, and each refuses a package signed with the other one's key.

The first run builds everything from nothing and takes long on a small
machine; compiler caching (ccache) makes later runs quick. The step times are
printed (pytest -s) and written to <work>/guide-times.txt."""

import os
import re
import shutil
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from conftest import display  # noqa: E402,F401  (the Xvfb fixture)
from test_packages import close_message_box  # noqa: E402

GUIDE = os.path.join(ROOT, "docs", "app-development.md")
RUNS_UNTIL_CLOSED = "# runs until you close the window"
WORK = os.environ.get("VESK_GUIDE_WORK") or os.path.join(ROOT, "build", "guide")


def guide_blocks():
    with open(GUIDE, encoding="utf-8") as f:
        return [block.strip() for block in re.findall(r"^```sh\n(.*?)^```", f.read(), re.S | re.M)]


def copy_checkout(dest):
    """The tree as a fresh checkout has it (tracked files and new ones not
    ignored), without build directories."""
    names = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT, check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in filter(None, names):
        source = os.path.join(ROOT, name)
        if not os.path.lexists(source):
            continue  # deleted in the working tree
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target, follow_symlinks=False)


class Session:
    """A private desktop session (runtime, config and home directories) in
    which both applications run, as one user would run them."""

    def __init__(self, root, display_name):
        self.root = root
        home = os.path.join(root, "home")
        os.makedirs(os.path.join(root, "run"), mode=0o700, exist_ok=True)
        os.makedirs(home, exist_ok=True)
        self.env = dict(os.environ, DISPLAY=display_name, XDG_RUNTIME_DIR=os.path.join(root, "run"), HOME=home,
                        XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_CACHE_HOME=os.path.join(home, ".cache"),
                        XDG_DATA_HOME=os.path.join(home, ".local", "share"), GDK_BACKEND="x11", NO_AT_BRIDGE="1",
                        WEBKIT_DISABLE_COMPOSITING_MODE="1")
        self.processes = []

    def start(self, args, cwd):
        output = open(os.path.join(self.root, "output-%d.txt" % len(self.processes)), "wb")
        proc = subprocess.Popen(args, cwd=cwd, env=self.env, stdout=output, stderr=subprocess.STDOUT,
                                start_new_session=True)
        output.close()
        self.processes.append(proc)
        return proc

    def stop(self, proc):
        if proc.poll() is None:
            os.killpg(proc.pid, 15)
            proc.wait(timeout=30)

    def stop_all(self):
        for proc in self.processes:
            try:
                self.stop(proc)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                os.killpg(proc.pid, 9)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode(errors="replace")
    except FileNotFoundError:
        return ""


def wait_for(path, pattern, count=1, timeout=120, proc=None):
    regex = re.compile(pattern)
    deadline = time.monotonic() + timeout
    while True:
        matches = [m for m in map(regex.search, read(path).splitlines()) if m]
        if len(matches) >= count:
            return matches
        if time.monotonic() > deadline or (proc is not None and proc.poll() is not None):
            raise AssertionError("%s never matched %r:\n%s" % (path, pattern, read(path)[-3000:]))
        time.sleep(0.1)


def log_of(executable):
    return executable + ".log"


@pytest.fixture(scope="module")
def guide(display):
    """Runs the guide in <work>/checkout; yields (checkout, step times)."""
    checkout = os.path.join(WORK, "checkout")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(checkout)
    copy_checkout(checkout)
    session = Session(os.path.join(WORK, "session"), display)
    env = dict(os.environ)
    # Only compiler caching is added to what a developer has.
    env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    times = []
    try:
        for block in guide_blocks():
            started = time.monotonic()
            if RUNS_UNTIL_CLOSED in block:
                command = block.replace(RUNS_UNTIL_CLOSED, "").strip()
                executable = os.path.join(checkout, command.split()[0])
                loads = read(log_of(executable)).count("Load finished: vesk://")
                proc = session.start(["bash", "-c", "exec " + command], checkout)
                wait_for(log_of(executable), r"Load finished: vesk://", count=loads + 1, proc=proc)
                times.append((command, time.monotonic() - started, "until the first page loaded"))
                session.stop(proc)
                continue
            result = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=checkout, env=env,
                                    capture_output=True, text=True)
            assert result.returncode == 0, "guide step failed:\n%s\n%s%s" % (block, result.stdout[-3000:],
                                                                             result.stderr[-3000:])
            times.append((block, time.monotonic() - started, ""))
    finally:
        session.stop_all()
    with open(os.path.join(WORK, "guide-times.txt"), "w") as f:
        for command, seconds, note in times:
            f.write("%7.1f s  %s%s\n" % (seconds, command.replace("\n", "\n           "),
                                         "  (" + note + ")" if note else ""))
    print(open(os.path.join(WORK, "guide-times.txt")).read())
    yield checkout, times


def test_every_guide_command_runs_and_both_applications_start(guide):
    _, times = guide
    started = [command for command, _, note in times if note]
    assert any(c.startswith("build/program/pelicard") for c in started)
    assert any(c.startswith("build-todo/program/todo") for c in started)


AUTORUN_PAGE = """<!doctype html><html><head><meta charset="utf-8"></head><body><script>
app.setAutoRun("%s", "tray");
console.log("AUTORUN " + app.getAutoRunState("%s"));
</script></body></html>"""


def start_with_autorun_page(session, program_dir, name, host, page_path, tmp):
    """Starts the application on a page that writes its autostart entry."""
    site = os.path.join(tmp, name + "-site")
    os.makedirs(os.path.join(site, os.path.dirname(page_path)), exist_ok=True)
    with open(os.path.join(site, page_path), "w") as f:
        f.write(AUTORUN_PAGE % (name + "-entry", name + "-entry"))
    executable = os.path.join(program_dir, name)
    proc = session.start([executable, "--%s-package-dir=%s" % (host, site)], program_dir)
    wait_for(log_of(executable), r"AUTORUN true", proc=proc)
    return proc


def copy_program(source, dest):
    shutil.copytree(source, dest, symlinks=True, ignore=shutil.ignore_patterns("*.log"))
    return dest


def test_two_applications_run_side_by_side_as_separate_single_instances(guide, display, tmp_path):
    checkout, _ = guide
    sample = copy_program(os.path.join(checkout, "build", "program"), str(tmp_path / "sample"))
    todo = copy_program(os.path.join(checkout, "build-todo", "program"), str(tmp_path / "todo"))
    session = Session(str(tmp_path / "session"), display)
    try:
        first_sample = start_with_autorun_page(session, sample, "pelicard", "vesk", "res/app_init.html", tmp_path)
        first_todo = start_with_autorun_page(session, todo, "todo", "todo", "index.html", tmp_path)

        # Each autostart entry starts its own executable.
        autostart = os.path.join(session.env["XDG_CONFIG_HOME"], "autostart")
        for name, program_dir in (("pelicard", sample), ("todo", todo)):
            entry = read(os.path.join(autostart, name + "-entry.desktop"))
            exec_line = re.search(r"^Exec=(.*)$", entry, re.M).group(1)
            assert exec_line.split()[0].strip("'\"") == os.path.join(program_dir, name), entry

        # A second start of each reaches its own first instance and ends.
        for program_dir, name, first in ((sample, "pelicard", first_sample), (todo, "todo", first_todo)):
            second = session.start([os.path.join(program_dir, name)], program_dir)
            assert second.wait(timeout=60) == 0
            line = wait_for(log_of(os.path.join(program_dir, name)),
                            r"Second instance: message 0 handed to process (\d+)")[0]
            assert int(line.group(1)) == first.pid, name
        assert first_sample.poll() is None and first_todo.poll() is None
    finally:
        session.stop_all()


def fingerprint(public_pem):
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", public_pem, "-outform", "DER"], capture_output=True,
                         check=True).stdout
    return subprocess.run(["sha256sum"], input=der, capture_output=True, check=True).stdout.split()[0].decode()


class Box:
    """What close_message_box needs of a program: the session's env."""

    def __init__(self, env):
        self.env = env

    def wait_for_window(self, pid, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=self.env,
                                 capture_output=True, text=True).stdout.split()
            if out:
                return [int(w) for w in out]
            time.sleep(0.1)
        raise AssertionError("no window of process %d" % pid)


@pytest.mark.parametrize("victim", ["todo", "pelicard"])
def test_a_package_signed_with_the_other_applications_key_is_refused(guide, display, tmp_path, victim):
    checkout, _ = guide
    keys = {"pelicard": (os.path.join(checkout, "build", "package_keys", "development_private.pem"),
                         os.path.join(checkout, "build", "package_keys", "development_public.pem")),
            "todo": (os.path.join(checkout, "keys", "todo", "package_private.pem"),
                     os.path.join(checkout, "keys", "todo", "package_public.pem"))}
    other = "todo" if victim == "pelicard" else "pelicard"
    build = "build" if victim == "pelicard" else "build-todo"
    host = "vesk" if victim == "pelicard" else "todo"
    program_dir = copy_program(os.path.join(checkout, build, "program"), str(tmp_path / victim))
    site = tmp_path / "site"
    os.makedirs(site / "res")
    (site / "index.html").write_text("<p>other</p>")
    (site / "res" / "app_init.html").write_text("<p>other</p>")
    package = os.path.join(program_dir, "package", host + ".qbun")
    qbun = os.path.join(checkout, build, "bin", "qbun")
    subprocess.run([qbun, "pack", str(site), "-o", package, "--key", keys[other][0]], check=True, capture_output=True)

    session = Session(str(tmp_path / "session"), display)
    try:
        proc = session.start([os.path.join(program_dir, victim)], program_dir)
        close_message_box(Box(session.env), proc)
        assert proc.wait(timeout=30) == 0
        line = wait_for(log_of(os.path.join(program_dir, victim)), r"Package check failed: (.*)")[0].group(1)
        assert line == "%s: its signature does not match key %s (it was signed with another key, id %s)" % (
            package, fingerprint(keys[victim][1]), fingerprint(keys[other][1])[:8])
    finally:
        session.stop_all()
