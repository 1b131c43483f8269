"""Handlers the host calls may replace themselves while they run: the call
holds its own references, the web process survives, and a close handler's
true still keeps the window."""

import re

from page_suite import start_suite


def test_every_host_called_handler_may_replace_itself(program):
    session = start_suite(program, "self_replacing_handlers", timeout=240)
    program.wait_for_log(r"\] handlers installed$")
    for args, what in [((), "foreground"), (("--vesk-startup=exit-process",), "exit"),
                       (("--upload-extension=bm8gZmlsZQ==",), "upload")]:
        code, _ = program.run(*args, timeout=60)
        assert code == 0
        program.wait_for_log(r"\] replaced itself: %s$" % what)
    session.finish()
    # The window outlived the first close: the replacement was asked next,
    # and its false ended the program.
    program.wait_for_log(r"\] second close handler$")
    assert session.process.wait(timeout=60) == 0
    log = program.log()
    assert re.findall(r"\] replaced itself: (\w+)$", log, re.M) == ["foreground", "exit", "upload", "close"]
    assert "Web process of" not in log, log[-3000:]
