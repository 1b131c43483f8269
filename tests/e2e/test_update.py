"""The restart-time update as the real program carries it out at its start:
a program directory prepared here (packages, downloads, flag files), the
program started under Xvfb, the directory looked at afterwards. Also a kill
at every file operation of a package update, each followed by a normal
start that must come up with exactly the old or exactly the new set."""

import os
import re
import shutil
import subprocess
import time

import pytest

PROGRAM_DIR = os.environ.get("VESK_PROGRAM_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "program")
BUILD_DIR = os.path.dirname(os.path.abspath(PROGRAM_DIR))
QBUN = os.path.join(BUILD_DIR, "bin", "qbun")
PRIVATE_KEY = os.path.join(BUILD_DIR, "package_keys", "development_private.pem")
KILLER = os.path.join(BUILD_DIR, "tests", "e2e", "update_step_killer")
SAMPLE_VESK = os.path.join(os.path.dirname(__file__), "..", "..", "packages", "vesk")
START_LOADED = r"Load finished: vesk://vesk/res/app_init\.html"

needs_key = pytest.mark.skipif(not os.path.exists(PRIVATE_KEY),
                               reason="this build has no development private key")


def signed_package(tmp_path, name, version, base=None):
    """A signed package whose version.dat holds |version| (the sample start
    pages too when |base| is the sample's source)."""
    site = tmp_path / ("site-" + name + "-" + version)
    if base:
        shutil.copytree(base, site)
    else:
        site.mkdir()
    (site / "version.dat").write_text(version)
    out = tmp_path / (name + "-" + version + ".qbun")
    subprocess.run([QBUN, "pack", str(site), "-o", str(out), "--key", PRIVATE_KEY], check=True,
                   capture_output=True)
    return out.read_bytes()


def contents(directory):
    """{name: bytes} of the files directly inside |directory|; None when absent."""
    if not os.path.isdir(directory):
        return None
    result = {}
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        result[name] = open(path, "rb").read() if os.path.isfile(path) else "<dir>"
    return result


def write_files(directory, files):
    os.makedirs(directory, exist_ok=True)
    for name, data in files.items():
        path = os.path.join(directory, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)


def start_and_wait_loaded(program):
    """A normal start that comes up with its start page; then it is ended."""
    earlier = len(re.findall(START_LOADED, program.log()))
    proc = program.start()
    program.wait_for_log(START_LOADED, timeout=60, count=earlier + 1)
    program.stop_all()
    return proc


class Dirs:
    def __init__(self, program):
        self.package = os.path.join(program.dir, "package")
        self.staging = os.path.join(program.dir, "package_new")
        self.update = os.path.join(program.dir, "update")


@needs_key
def test_named_packages_replace_their_old_copies_and_the_rest_stays(program, tmp_path):
    dirs = Dirs(program)
    old_b, new_b = signed_package(tmp_path, "b", "1"), signed_package(tmp_path, "b", "2")
    new_c = signed_package(tmp_path, "c", "1")
    write_files(dirs.package, {"a.qbun": "old a", "b.qbun": old_b})
    before = contents(dirs.package)
    write_files(dirs.update, {"b.qbun": new_b, "c.qbun": new_c, "vesk_update_qbun_flag": "b.qbun|c.qbun"})
    start_and_wait_loaded(program)
    assert contents(dirs.package) == dict(before, **{"b.qbun": new_b, "c.qbun": new_c})
    assert not os.path.exists(dirs.staging)
    assert not os.path.exists(dirs.update), "downloads and flag gone, empty update removed"


@needs_key
def test_a_missing_second_file_or_a_bad_signature_installs_nothing(program, tmp_path):
    dirs = Dirs(program)
    new_b = signed_package(tmp_path, "b", "2")
    before = contents(dirs.package)
    write_files(dirs.update, {"b.qbun": new_b, "vesk_update_qbun_flag": "b.qbun|c.qbun"})
    start_and_wait_loaded(program)
    assert contents(dirs.package) == before
    assert contents(dirs.update) == {"b.qbun": new_b}, "the flag goes, the first download stays"
    assert ("update_package_path(%s) doesn't exist" % os.path.join(dirs.update, "c.qbun")) in program.log()

    bad = bytearray(signed_package(tmp_path, "c", "1"))
    bad[-5] ^= 0x01
    write_files(dirs.update, {"c.qbun": bytes(bad), "vesk_update_qbun_flag": "b.qbun|c.qbun"})
    start_and_wait_loaded(program)
    assert contents(dirs.package) == before
    assert contents(dirs.update) == {"b.qbun": new_b, "c.qbun": bytes(bad)}


@needs_key
def test_a_staging_left_without_package_is_promoted_before_the_packages_are_checked(program):
    dirs = Dirs(program)
    before = contents(dirs.package)
    os.rename(dirs.package, dirs.staging)
    start_and_wait_loaded(program)
    assert contents(dirs.package) == before
    assert not os.path.exists(dirs.staging)
    assert "Message box" not in program.log()


INSTALLER = """#!/bin/sh
printf '%%s\\n' "$@" > '%s.tmp'
mv '%s.tmp' '%s'
"""


def write_installer(program, tmp_path, name="setup.run"):
    record = str(tmp_path / "installer-args.txt")
    write_files(os.path.join(program.dir, "update"), {name: INSTALLER % (record, record, record)})
    return record


@pytest.mark.parametrize("content,log", [
    ("a.run|b.run", "should report only one path, but actually it report 2 paths, they are"),
    ("missing.run", ") report empty"),
    ("/bin/true", ") report empty"),
])
def test_installer_flags_that_start_nothing(program, tmp_path, content, log):
    dirs = Dirs(program)
    record = write_installer(program, tmp_path, "a.run")
    write_installer(program, tmp_path, "b.run")
    write_files(dirs.update, {"vesk_update_flag": content})
    start_and_wait_loaded(program)
    assert log in program.log()
    assert sorted(contents(dirs.update)) == ["a.run", "b.run"], "the flag is deleted"
    assert not os.path.exists(record)


def test_the_installer_starts_the_program_ends_and_the_next_start_cleans_up(program, tmp_path):
    dirs = Dirs(program)
    record = write_installer(program, tmp_path)
    write_files(dirs.update, {"vesk_update_flag": "\t setup.run \n", "vesk_update_qbun_flag": "x.qbun"})
    code, _ = program.run(timeout=60)
    assert code == 0
    program.wait_for_log(r"Update: the installer runs; ending without a window\.")
    assert "Load URL" not in program.log() and "Load finished" not in program.log(), "no window"
    # The installer runs detached: wait for its record.
    end = time.monotonic() + 30
    while not os.path.exists(record) and time.monotonic() < end:
        time.sleep(0.05)
    assert open(record).read() == "/S\n/D=%s\n" % program.dir
    assert os.stat(os.path.join(dirs.update, "setup.run")).st_mode & 0o100
    assert contents(dirs.update) == {"setup.run": contents(dirs.update)["setup.run"],
                                     "vesk_complete_flag": b"\t setup.run \n"}

    start_and_wait_loaded(program)
    assert not os.path.exists(dirs.update)


@needs_key
def test_a_kill_at_every_step_of_a_package_update_leaves_a_whole_set_that_starts(program, tmp_path):
    dirs = Dirs(program)
    old_set = contents(dirs.package)
    new_vesk = signed_package(tmp_path, "vesk", "9.9", base=SAMPLE_VESK)
    new_c = signed_package(tmp_path, "c", "1")
    new_set = dict(old_set, **{"vesk.qbun": new_vesk, "c.qbun": new_c})
    pristine = tmp_path / "pristine"
    shutil.copytree(dirs.package, pristine)

    def prepare():
        for directory in (dirs.package, dirs.staging, dirs.package + "_old", dirs.update):
            shutil.rmtree(directory, ignore_errors=True)
        shutil.copytree(pristine, dirs.package)
        write_files(dirs.update, {"vesk.qbun": new_vesk, "c.qbun": new_c, "vesk_update_qbun_flag": "vesk.qbun|c.qbun"})

    prepare()
    steps = int(subprocess.run([KILLER, program.dir, "0"], check=True, capture_output=True,
                               text=True).stdout)
    assert contents(dirs.package) == new_set
    assert steps > 10
    outcomes = {"old": 0, "new": 0}
    for kill_at in range(1, steps + 1):
        prepare()
        killed = subprocess.run([KILLER, program.dir, str(kill_at)], capture_output=True)
        assert killed.returncode == -9, kill_at
        start_and_wait_loaded(program)
        package = contents(dirs.package)
        assert package in (old_set, new_set), "kill point %d left a mixed set" % kill_at
        outcomes["old" if package == old_set else "new"] += 1
        assert not os.path.exists(dirs.staging) and not os.path.exists(dirs.package + "_old")
    print("kill points tried: %d (old set kept: %d, new set: %d)" % (steps, outcomes["old"], outcomes["new"]))
    assert outcomes["old"] and outcomes["new"]
