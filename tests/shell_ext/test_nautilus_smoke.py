"""Nautilus itself loads the module: registered per machine for real (into
Nautilus's own extension directory, the only place it loads from), started
under Xvfb, its memory map must show the module and its output must not
mention it. Skipped where Nautilus is missing or its extension directory is
not writable (not root), and where a registration exists already, which the
test would otherwise replace and remove."""

import os
import shutil
import subprocess
import time

import pytest

PROGRAM_DIR = os.environ["VESK_PROGRAM_DIR"]
EXTENSION_DIR = os.environ["VESK_NAUTILUS_EXTENSION_DIR"]
OUR_LINK = os.path.join(EXTENSION_DIR, "pelicard_shell_ext.so")
REGISTER = os.path.join(PROGRAM_DIR, "pelicard_shell_ext_register")


def wait_for(condition, what, timeout=60):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("never happened: " + what)
        time.sleep(0.1)


def maps_of(pid):
    try:
        with open("/proc/%d/maps" % pid) as maps:
            return maps.read()
    except OSError:
        return ""


def visible_windows(pid):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], capture_output=True,
                         text=True)
    return out.stdout.split()


@pytest.mark.skipif(shutil.which("nautilus") is None, reason="Nautilus is not installed")
@pytest.mark.skipif(not os.access(EXTENSION_DIR, os.W_OK), reason="Nautilus's extension directory is not writable")
@pytest.mark.skipif(os.path.lexists(OUR_LINK), reason="the upload entry is registered on this machine already")
def test_nautilus_loads_the_module_without_a_word_about_it(tmp_path):
    before = sorted(os.listdir(EXTENSION_DIR))
    assert subprocess.run([REGISTER, "--install"], capture_output=True, timeout=60).returncode == 0
    nautilus = None
    try:
        home, runtime = tmp_path / "home", tmp_path / "run"
        home.mkdir()
        runtime.mkdir(mode=0o700)
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env.update({"HOME": str(home), "XDG_RUNTIME_DIR": str(runtime), "GDK_BACKEND": "x11",
                    "GSK_RENDERER": "cairo", "NO_AT_BRIDGE": "1"})
        output_path = tmp_path / "nautilus.txt"
        with open(output_path, "wb") as output:
            nautilus = subprocess.Popen(["nautilus", "--new-window", str(tmp_path)], env=env, stdout=output,
                                        stderr=subprocess.STDOUT)
        wait_for(lambda: "pelicard_shell_ext.so" in maps_of(nautilus.pid), "Nautilus maps the module")
        wait_for(lambda: visible_windows(nautilus.pid), "Nautilus shows its window")
        assert nautilus.poll() is None
        text = output_path.read_text(errors="replace")
        assert "pelicard" not in text.lower(), text
        assert "PelicardUploadMenuProvider" not in text
    finally:
        if nautilus:
            nautilus.terminate()
            nautilus.wait(timeout=30)
        subprocess.run([REGISTER, "--uninstall"], capture_output=True, timeout=60)
    assert sorted(os.listdir(EXTENSION_DIR)) == before
