"""The installed program: what `cmake --install` lays out, the validators of
its desktop entry and AppStream file, and the program run from a directory
its user cannot write (state in per-user places that survive a restart), by
two users side by side."""

import os
import subprocess
import time

import pytest

from installed import (APP, NOBODY, InstalledProgram, Place, cmake_install, require_build_dir)
from page_suite import start_suite

PROGRAM_FILES = [APP, "libframework.so", "libvesk_core.so", "libvesk_ui.so", "webext/libvesk_webext.so",
                 "package/vesk.qbun", "package/pelicard.qbun", "version.dat", "pelicard_shell_ext.so",
                 "pelicard-upload", "pelicard_shell_ext_register", "icons/pelicard-upload.svg"]
APP_ID = "example.kestrow." + APP


@pytest.fixture(scope="module")
def place():
    require_build_dir()
    where = Place()
    cmake_install(os.path.join(where.root, "prefix"))
    where.files = installed_files(os.path.join(where.root, "prefix"))
    yield where
    where.close()


def prefix_of(place):
    return os.path.join(place.root, "prefix")


def installed_files(prefix):
    found = []
    for directory, _, files in os.walk(prefix):
        found += [os.path.relpath(os.path.join(directory, name), prefix) for name in files]
    return sorted(found)


def wait_for_bytes_below(directory, needle, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        for folder, _, files in os.walk(directory):
            for name in files:
                try:
                    with open(os.path.join(folder, name), "rb") as f:
                        if needle in f.read():
                            return
                except OSError:
                    pass
        assert time.monotonic() < deadline, "%r never reached the disk below %s" % (needle, directory)
        time.sleep(0.1)


def test_layout_link_and_validators(place):
    prefix = prefix_of(place)
    for name in PROGRAM_FILES:
        assert os.path.isfile(os.path.join(prefix, "lib", APP, name)), name
    link = os.path.join(prefix, "bin", APP)
    assert os.readlink(link) == "../lib/%s/%s" % (APP, APP)
    assert os.access(link, os.X_OK)
    # The upload entry: its command on the path, the module where Nautilus
    # looks (relative to the prefix) with the record naming this program
    # directory.
    assert os.path.realpath(os.path.join(prefix, "bin", "pelicard-upload")) == os.path.join(
        prefix, "lib", APP, "pelicard-upload")
    extensions = os.path.join(prefix, "lib/x86_64-linux-gnu/nautilus/extensions-4")
    assert os.path.realpath(os.path.join(extensions, "pelicard_shell_ext.so")) == os.path.join(
        prefix, "lib", APP, "pelicard_shell_ext.so")
    with open(os.path.join(extensions, "pelicard_shell_ext.ini")) as f:
        assert "[Program]\nDirectory=%s\n" % os.path.join(prefix, "lib", APP) in f.read()
    assert os.path.isfile(os.path.join(prefix, "share/icons/hicolor/scalable/apps/pelicard-upload.svg"))
    desktop = os.path.join(prefix, "share", "applications", APP_ID + ".desktop")
    metainfo = os.path.join(prefix, "share", "metainfo", APP_ID + ".metainfo.xml")
    for size in ("48x48", "128x128", "256x256"):
        assert os.path.isfile(os.path.join(prefix, "share/icons/hicolor", size, "apps", APP + ".png"))
    assert os.path.isfile(os.path.join(prefix, "share/icons/hicolor/scalable/apps", APP + ".svg"))
    with open(desktop) as f:
        entry = f.read()
    assert "\nExec=%s\n" % APP in entry and "\nIcon=%s\n" % APP in entry
    checked = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
    assert checked.returncode == 0 and checked.stdout.strip() == "", checked.stdout + checked.stderr
    checked = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo],
                             capture_output=True, text=True)
    assert checked.returncode == 0, checked.stdout + checked.stderr


def test_destdir_stages_the_same_files_below_it(place):
    staged = os.path.join(place.root, "staged")
    cmake_install("/opt/vesk-test", destdir=staged)
    assert installed_files(os.path.join(staged, "opt/vesk-test")) == place.files
    assert not os.path.exists("/opt/vesk-test")


def test_installed_program_keeps_state_per_user(place, display):
    prefix = prefix_of(place)
    user = InstalledProgram(place, "state", display, prefix, uid=NOBODY)
    logs = []
    try:
        first = start_suite(user, "installed_state", files={"version.dat": "7.1.0\n"}).finish()
        assert first.reports["stored"] is None
        # The engine commits local storage to its file a moment after the
        # page's write, and an exit right after the write can lose it (an
        # open fault of the engine's shutdown); this test is about where the
        # committed storage lives and that a restart finds it.
        wait_for_bytes_below(os.path.join(user.home, ".local/share", APP, "localstorage"), b"installed-state")
        user.end()
        # Each run's suite lines in a log of its own.
        logs.append(user.log())
        os.unlink(user.log_path)
        second = start_suite(user, "installed_state", files={"version.dat": "7.1.0\n"}).finish()
        assert second.reports["stored"] == "kept"
    finally:
        user.stop_all()
    logs.append(user.log())
    # Told once per start, in the log where the documents say it is.
    for log in logs:
        said = [line for line in log.splitlines() if "is not writable: local storage" in line]
        assert len(said) == 1, log[-3000:]
    data = os.path.join(user.home, ".local/share", APP)
    assert "%s is not writable" % os.path.join(prefix, "lib", APP) in said[0]
    assert "the log to %s;" % os.path.join(user.home, ".local/state", APP) in said[0]
    assert os.listdir(data), "the engine keeps its data in the user's data directory"
    assert os.path.isdir(os.path.join(user.home, ".cache", APP))
    # Nothing was written into the program directory.
    assert installed_files(prefix) == place.files


def test_two_users_read_package_versions_side_by_side(place, display):
    prefix = prefix_of(place)
    root = InstalledProgram(place, "root", display, prefix)
    other = InstalledProgram(place, "other", display, prefix, uid=NOBODY)
    try:
        sessions = [start_suite(user, "installed_state", files={"version.dat": "7.1.0\n"})
                    for user in (root, other)]
        for session in sessions:
            result = session.finish()
            assert result.reports["versions"] == {"vesk": "7.1.0", "pelicard": "1.0.0"}
            assert session.process.poll() is None
        # Each user's files in their own private directory.
        for uid in (0, NOBODY):
            private = os.path.join(place.tmp, "vesk-%d" % uid)
            info = os.lstat(private)
            assert (info.st_uid, info.st_mode & 0o777) == (uid, 0o700)
            assert os.path.isfile(os.path.join(private, "version.dat.qbun.extracted"))
    finally:
        root.stop_all()
        other.stop_all()
        # The root run wrote its state into the (root-writable) program directory.
        for name in os.listdir(os.path.join(prefix, "lib", APP)):
            if name not in ("package", "webext", "icons") and name not in PROGRAM_FILES:
                subprocess.run(["rm", "-rf", os.path.join(prefix, "lib", APP, name)], check=False)
