"""window.app's update members in the real program: the flag files they
leave in the update directory."""

import os

from page_suite import run_suite, start_suite


def read_flag(program, name):
    with open(os.path.join(program.dir, "update", name), "rb") as f:
        return f.read()


def test_update_flags_suite(program):
    session = start_suite(program, "update")
    program.wait_for_log(r"Update: Create Update File Success, .*vesk_update_flag")
    assert read_flag(program, "vesk_update_flag") == b" setup.run\t"
    session.signal("installer-flag-read")
    program.wait_for_log(r"Update: Create Update File Success, .*vesk_update_qbun_flag")
    assert read_flag(program, "vesk_update_qbun_flag") == b"main.qbun|extra.QBUN"
    session.signal("package-flag-read")
    session.finish()
    assert read_flag(program, "vesk_update_flag") == b"a\0b"
    assert read_flag(program, "vesk_update_qbun_flag") == b"single.qbun"


ENGINE_DATA = ("storage/", "mediakeys/")


def snapshot(top, skip):
    """{relative path: (kind, contents)} below |top|, leaving out |skip|."""
    found = {}
    for root, dirs, files in os.walk(top, followlinks=False):
        dirs[:] = [d for d in dirs if os.path.join(root, d) != skip]
        for name in files + [d for d in dirs if os.path.islink(os.path.join(root, d))]:
            path = os.path.join(root, name)
            if os.path.islink(path):
                found[os.path.relpath(path, top)] = ("link", os.readlink(path))
            elif not path.endswith(".log"):
                with open(path, "rb") as f:
                    found[os.path.relpath(path, top)] = ("file", f.read())
    return found


def prepare_update_directory(program):
    """Links in the update directory that lead out, one that stays inside,
    and a directory outside with a file the suite must never touch."""
    update = os.path.join(program.dir, "update")
    os.makedirs(os.path.join(update, "sub", "deeper"))
    outside = os.path.join(program.dir, "outside")
    os.makedirs(outside)
    with open(os.path.join(outside, "file"), "w") as f:
        f.write("keep")
    for name, target in [("link_out", os.path.join(outside, "file")), ("link_dir_out", "../outside"),
                         ("dangling", "../outside/new_through_link.bin"), ("sub/link_up", "../.."),
                         ("link_loop", "link_loop"), ("link_root", "/"), ("link_in", "sub/deeper")]:
        os.symlink(target, os.path.join(update, name))
    return update


def test_update_package_suite(program):
    update = prepare_update_directory(program)
    before = snapshot(program.dir, update)
    session = start_suite(program, "update_package", "--show-update-package-detail")
    big = session.wait_for_report("big_path")
    with open(big, "r+b") as f:
        f.truncate(3 << 30)  # sparse: no disk space taken
    session.signal("big-file-ready")
    result = session.finish()
    reports = result.reports
    assert reports["has_path"] is True
    assert set(reports["keys"]) == {"reset", "append", "delete", "size", "path"}
    assert reports["hostile_count"] >= 50
    assert reports["units_path"] == os.path.join(update, "units.bin")
    with open(reports["units_path"], "rb") as f:
        assert f.read() == b"\x41\xff\xff"
    with open(reports["wide_path"], "rb") as f:
        assert f.read() == b"\x41\x00"
    with open(reports["order_path"], "rb") as f:
        assert f.read() == b"abcde\xe9\x80"
    with open(reports["binary_path"], "rb") as f:
        assert f.read() == bytes([2, 0xfe, 0xff, 0x80, 0, 1, 2, 0xfe, 0xff, 0x80, 7, 8, 2, 1, 0xfe, 0xff, 0x61, 0x62])
    assert "OpenFile failed(2):" + os.path.join(update, "deleted.bin") in result.log
    assert "Is Too Large: 3221225472" in result.log
    # Nothing outside the update directory was created, written or removed
    # (the engine keeps its own data below the program directory).
    after = snapshot(program.dir, update)
    assert {key: after.get(key) for key in before} == before
    assert [key for key in after if key not in before and not key.startswith(ENGINE_DATA)] == []
    assert not os.path.exists(os.path.join(program.dir, "outside", "new_through_link.bin"))
    with open(os.path.join(update, "link_in", "deep.bin"), "rb") as f:
        assert f.read() == b"ok"


def test_update_package_without_the_switch_has_no_path(program):
    prepare_update_directory(program)
    result = run_suite(program, "update_package")
    assert result.reports["has_path"] is False
    assert set(result.reports["keys"]) == {"reset", "append", "delete", "size"}
