"""Nautilus itself with the module: registered per machine for real (into
Nautilus's own extension directory, the only place it loads modules from),
started under Xvfb on a selected file. Nautilus must map the module without
a word about it in its output, show our item in the file's context menu,
and choosing the item must start the launcher with the request.

The registered program directory is a copy whose pelicard is the stand-in
launcher. Skipped where Nautilus is missing, where its extension directory
is not writable (not root), and where a registration exists already, which
the test would otherwise replace and remove."""

import base64
import os
import shutil
import subprocess
import time

import pytest

PROGRAM_DIR = os.environ["VESK_PROGRAM_DIR"]
STAND_IN = os.environ["VESK_STAND_IN_LAUNCHER"]
EXTENSION_DIR = os.environ["VESK_NAUTILUS_EXTENSION_DIR"]
OUR_LINK = os.path.join(EXTENSION_DIR, "pelicard_shell_ext.so")
OUR_FILES = ["pelicard_shell_ext.so", "pelicard-upload", "pelicard_shell_ext_register",
             "icons/pelicard-upload.svg"]


def wait_for(condition, what, timeout=60):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
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
    return set(out.stdout.split())


@pytest.fixture
def registered_program(tmp_path):
    program = tmp_path / "program"
    (program / "icons").mkdir(parents=True)
    for name in OUR_FILES:
        shutil.copy2(os.path.join(PROGRAM_DIR, name), program / name)
    os.symlink(STAND_IN, program / "pelicard")
    register = str(program / "pelicard_shell_ext_register")
    before = sorted(os.listdir(EXTENSION_DIR))
    assert subprocess.run([register, "--install"], capture_output=True, timeout=60).returncode == 0
    yield str(program)
    subprocess.run([register, "--uninstall"], capture_output=True, timeout=60)
    assert sorted(os.listdir(EXTENSION_DIR)) == before


@pytest.mark.skipif(shutil.which("nautilus") is None, reason="Nautilus is not installed")
@pytest.mark.skipif(not os.access(EXTENSION_DIR, os.W_OK), reason="Nautilus's extension directory is not writable")
@pytest.mark.skipif(os.path.lexists(OUR_LINK), reason="the upload entry is registered on this machine already")
def test_nautilus_loads_the_module_and_its_item_starts_the_launcher(tmp_path, registered_program):
    home, runtime, temporary, folder = (tmp_path / n for n in ("home", "run", "tmp", "folder"))
    for directory in (home, temporary, folder):
        directory.mkdir()
    runtime.mkdir(mode=0o700)
    selected = folder / "a b.txt"
    selected.write_text("x")
    argv_file = tmp_path / "argv"
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env.update({"HOME": str(home), "XDG_RUNTIME_DIR": str(runtime), "TMPDIR": str(temporary),
                "VESK_TEST_ARGV_FILE": str(argv_file), "GDK_BACKEND": "x11", "GSK_RENDERER": "cairo",
                "NO_AT_BRIDGE": "1"})
    output_path = tmp_path / "nautilus.txt"
    with open(output_path, "wb") as output:
        nautilus = subprocess.Popen(["nautilus", "--select", str(selected)], env=env, stdout=output,
                                    stderr=subprocess.STDOUT)
    try:
        wait_for(lambda: "pelicard_shell_ext.so" in maps_of(nautilus.pid), "Nautilus maps the module")
        windows = wait_for(lambda: visible_windows(nautilus.pid), "Nautilus shows its window")
        text = output_path.read_text(errors="replace")
        assert "pelicard" not in text.lower(), text

        # The selection's context menu (a popup window of its own); our item
        # sits just above "Properties", the last one.
        # Nautilus ignores the key until its view has loaded the folder, and
        # nothing outside tells when that is: the key is repeated until the
        # menu is there.
        def open_menu():
            subprocess.run(["xdotool", "key", "shift+F10"], check=True)
            deadline = time.monotonic() + 3
            while time.monotonic() < deadline:
                if visible_windows(nautilus.pid) - windows:
                    return True
                time.sleep(0.1)
            return False
        wait_for(open_menu, "the context menu opens")
        subprocess.run(["xdotool", "key", "Up", "Up", "Return"], check=True)

        wait_for(argv_file.exists, "the launcher starts")
        argv = argv_file.read_bytes().split(b"\0")[:-1]
        assert argv[0].decode() == os.path.join(registered_program, "pelicard")
        assert len(argv) == 2 and argv[1].startswith(b"--upload-extension=")
        request = base64.b64decode(argv[1].split(b"=", 1)[1]).decode()
        assert os.path.dirname(request) == str(temporary)
        with open(request, "rb") as f:
            assert f.read() == ('{"command":"","data":["%s"]}\n\0' % selected).encode()
        assert "pelicard" not in output_path.read_text(errors="replace").lower()
    finally:
        nautilus.terminate()
        nautilus.wait(timeout=30)
