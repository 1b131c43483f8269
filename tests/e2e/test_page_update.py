"""window.app's update members in the real program: the flag files they
leave in the update directory."""

import os

from page_suite import start_suite


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

