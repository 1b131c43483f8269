"""Which frames get the native objects, and what a frame of another origin
can reach: the application's page embeds a page served over http by the
test (pages/foreign/probe.html), which reports what it sees."""

import contextlib
import functools
import http.server
import json
import os
import shutil
import threading

import pytest

from page_suite import run_suite, start_suite

FOREIGN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "foreign")
BUILD_DIR = os.environ.get("VESK_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
LAUNCHER = os.path.join(BUILD_DIR, "tests", "e2e", "pelicard_origin_list_launcher")
OBJECTS = ["app", "browser", "os", "security", "winhelper"]
STORED = ["onUploadFile", "onExitMessage", "onForegroundPreInstance", "onClose"]


@contextlib.contextmanager
def serve(host):
    """An http server of pages/foreign on |host| and a free port; yields its origin."""
    handler = functools.partial(QuietHandler, directory=FOREIGN)
    server = http.server.ThreadingHTTPServer((host, 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://%s:%d" % (host, server.server_address[1])
    finally:
        server.shutdown()
        server.server_close()


@pytest.fixture
def foreign_site():
    """A site of another origin (127.0.0.1) for the frame."""
    with serve("127.0.0.1") as origin:
        yield origin


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def run_probe(program, origin):
    return run_suite(program, "plugin_origins",
                     files={"probe.json": json.dumps({"frame": origin + "/probe.html"})}, timeout=150)


def second_start(program, *args):
    code, _ = program.run(*args, timeout=60)
    assert code == 0


def test_a_frame_of_another_origin_gets_no_objects_by_default(program, foreign_site):
    result = run_probe(program, foreign_site)
    probe = result.reports["probe"]
    assert probe["origin"] == foreign_site
    assert probe["objects"] == []
    line = program.wait_for_log(r"Plugin origin whitelist \(the application's own\): (.*)$")[0].group(1)
    assert line.split(", ") == ["vesk://pelicard", "vesk://vesk", "http://assistant.mail.kestrow.example",
                                "http://desktop.mail.kestrow.example"]
    # The main page, one of the application's own, has its objects and handlers.
    second_start(program)
    program.wait_for_log(r"\] main handler foreground$")


@pytest.mark.skipif(not os.path.exists(LAUNCHER), reason="the origin-list launcher was not built")
def test_every_origin_gives_a_frame_its_own_objects_and_nothing_of_the_main_page(program, foreign_site):
    shutil.copyfile(LAUNCHER, program.exe)
    program.env["VESK_TEST_PLUGIN_ORIGINS"] = "*"
    result = run_probe(program, foreign_site)
    assert "Plugin origin whitelist: *" in result.log
    probe = result.reports["probe"]
    assert probe["objects"] == OBJECTS
    # The main page's handlers are not handed to the frame at all ...
    assert probe["stored"] == {name: {"type": "undefined", "realm": None} for name in STORED}
    # ... and the error handler it gets is its own, made in its own realm:
    # its Function is the frame's, not the main page's.
    assert probe["errorHandlerRealm"] == foreign_site
    assert probe["errorHandlerMemberRealm"] == foreign_site
    assert probe["errorHandlerSame"] is True
    assert probe["afterWrite"] == "undefined"
    # Its writes took nothing over: every instance message reaches the main
    # page's handler.
    second_start(program)
    program.wait_for_log(r"\] main handler foreground$")
    second_start(program, "--vesk-startup=exit-process")
    program.wait_for_log(r"\] main handler exit$")
    second_start(program, "--upload-extension=" + "bm8gZmlsZQ==")
    program.wait_for_log(r"\] main handler upload$")
    assert "HIJACKED" not in program.log()


@pytest.mark.skipif(not os.path.exists(LAUNCHER), reason="the origin-list launcher was not built")

def test_the_cross_origin_list_follows_the_main_frame_to_another_origin(program):
    # The target on 127.0.0.1, the page navigated to on 127.0.0.2: two hosts.
    with serve("127.0.0.1") as target, serve("127.0.0.2") as other:
        shutil.copyfile(LAUNCHER, program.exe)
        program.env["VESK_TEST_CROSS_ORIGIN_TARGETS"] = target
        run_suite(program, "cross_origin_follow", timeout=150,
                  files={"follow.json": json.dumps({"data": target + "/data.json",
                                                    "other": other + "/other_page.html"})})
        line = program.wait_for_log(r"\] other page (was refused the target|kept reading the target)$",
                                    timeout=90)[0].group(0)
        assert "was refused" in line, line


@pytest.mark.skipif(not os.path.exists(LAUNCHER), reason="the origin-list launcher was not built")
def test_a_close_handler_of_another_origin_never_gets_the_main_pages_global(program, foreign_site):
    shutil.copyfile(LAUNCHER, program.exe)
    program.env["VESK_TEST_PLUGIN_ORIGINS"] = "*"
    run_suite(program, "close_foreign_frame", timeout=150,
              files={"probe.json": json.dumps({"frame": foreign_site + "/close_probe.html"})})


def test_a_close_handler_goes_when_the_main_frame_leaves_its_origin(program, foreign_site):
    session = start_suite(program, "close_then_leave", timeout=150,
                         files={"leave.json": json.dumps({"other": foreign_site + "/closes_window.html"})})
    program.wait_for_log(r"\] foreign page closes its window$", timeout=90)
    assert session.process.wait(timeout=60) == 0
    assert "left page's close handler ran" not in program.log()
