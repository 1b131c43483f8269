"""The instance channel with the real program: second starts hand their
message to the running instance, a sender written only from
docs/ipc-protocol.md is understood, and bad input is logged and dropped."""

import base64
import fcntl
import os
import signal
import socket
import subprocess
import sys
import time

import pytest

from waits import wait_until

SENDER = os.path.join(os.path.dirname(__file__), "..", "ipc_sender.py")
PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages", "ipc")
RECEIVED = r"IPC message received: id=(-?\d+)"
APPENDED = r"IPC upload request: (\d+) file\(s\) appended"
LOCK_NAME = "vesk-pelicard-InstanceMutex-desktop.kestrow.example.lock"


def socket_dir(program):
    return os.path.join(program.runtime_dir, "vesk_ipc_window")


def start_first(program):
    # The page registers a handler for every instance message and logs its calls.
    first = program.start("--vesk-package-dir=" + PAGES)
    program.wait_for_window(first.pid)
    program.wait_for_log(r"\[CONSOLE:app_init.html\(\d+\)\] page ready")
    assert os.path.exists(os.path.join(socket_dir(program), str(first.pid)))
    return first


def second_start(program, *args):
    """Runs a second start to its end; returns its exit code and duration."""
    begin = time.monotonic()
    code, _ = program.run(*args, timeout=60)
    return code, time.monotonic() - begin


def received_ids(program):
    import re
    return [int(m.group(1)) for m in re.finditer(RECEIVED, program.log())]


def upload_value(path):
    return base64.b64encode(str(path).encode()).decode()


@pytest.mark.parametrize("args, expected_id", [((), 0), (("--vesk-startup=exit-process",), 2)])
def test_second_start_hands_its_message_to_the_running_instance(program, args, expected_id):
    first = start_first(program)
    code, seconds = second_start(program, *args)
    assert code == 0
    assert seconds < 20, "the second start waited for something it should not"
    program.wait_for_log("IPC message handled: id=%d" % expected_id)
    assert received_ids(program) == [expected_id]
    handler = {0: "foreground", 2: "exit"}[expected_id]
    assert len(program.wait_for_log(r"\] handler " + handler + "$")) == 1
    assert first.poll() is None


def test_other_startup_value_sends_nothing(program):
    start_first(program)
    code, _ = second_start(program, "--vesk-startup=tray")
    assert code == 0
    program.wait_for_log("Second instance: nothing to hand over.")
    # The second start has ended, so anything it sent was answered, hence
    # received. A marker message sent now is received after all of it.
    sent = run_sender(program, "--id", "0")
    assert sent.returncode == 0, sent.stderr
    program.wait_for_log("IPC message handled: id=0")
    assert received_ids(program) == [0]


def test_upload_request_appends_the_paths_before_the_page_hears_of_it(program, tmp_path):
    start_first(program)
    request = tmp_path / "request.json"
    request.write_text('{"command":"upload","data":["/tmp/a.txt",null,"/tmp/c d.txt",7]}')
    code, _ = second_start(program, "--upload-extension=" + upload_value(request))
    assert code == 0
    assert program.wait_for_log(APPENDED)[0].group(1) == "3"
    assert received_ids(program) == [1]
    program.wait_for_log(r"\] handler upload$")
    log = program.log()
    assert log.index("file(s) appended") < log.index("] handler upload")
    assert request.exists()


@pytest.mark.parametrize("kind", ["not-base64", "missing", "empty", "not-array", "not-json"])
def test_bad_upload_requests_append_nothing_and_still_reach_the_page(program, tmp_path, kind):
    start_first(program)
    request = tmp_path / "request.json"
    contents = {"empty": "", "not-array": '{"data":"/tmp/a.txt"}', "not-json": "{data"}.get(kind)
    if contents is not None:
        request.write_text(contents)
    value = "!!not base64!!" if kind == "not-base64" else upload_value(request)
    code, _ = second_start(program, "--upload-extension=" + value)
    assert code == 0
    assert program.wait_for_log(APPENDED)[0].group(1) == "0"
    program.wait_for_log(r"\] handler upload$")


def test_no_running_instance_logs_and_ends(program):
    os.makedirs(socket_dir(program), mode=0o700)
    # A receiver whose process died: bound once, nobody listens any more.
    stale = os.path.join(socket_dir(program), "4000000")
    dead = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    dead.bind(stale)
    dead.close()
    # Someone holds the instance lock but serves no receiver (an instance
    # still starting, say).
    with open(os.path.join(program.runtime_dir, LOCK_NAME), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        code, seconds = second_start(program)
    assert code == 0
    assert seconds < 20
    assert "IPC EnumWindows Failed" in program.log()
    assert not os.path.exists(stale), "the stale socket is removed"
    assert os.listdir(socket_dir(program)) == [], "the second start removed its own socket"


def run_sender(program, *args):
    return subprocess.run([sys.executable, SENDER, *args], env=program.env, capture_output=True,
                          text=True, timeout=60)


def test_foreign_sender_following_the_documented_protocol(program):
    first = start_first(program)
    sent = run_sender(program, "--id", "0")
    assert sent.returncode == 0 and sent.stdout.strip() == "answer 0", sent.stderr
    assert received_ids(program) == [0]
    sent = run_sender(program, "--pid", str(first.pid), "--id", "2", "--data", "exit-process")
    assert sent.returncode == 0, sent.stderr
    assert received_ids(program) == [0, 2]
    # Malformed messages are answered (the sender is released), logged and dropped.
    for text, log in [("not json", "IPCData Parse Failed: not json"),
                      ('{"data":"","id":"1"}', 'IPCData Json Data Parse Failed: {"data":"","id":"1"}'),
                      ('{"data":"","id":1.5}', 'IPCData Json Data Parse Failed: {"data":"","id":1.5}')]:
        sent = run_sender(program, "--text", text)
        assert sent.returncode == 0, sent.stderr
        program.wait_for_log(log.replace("(", r"\(").replace("{", r"\{").replace(".", r"\."), timeout=10)
    # A whole-valued real is a valid id.
    assert run_sender(program, "--text", '{"data":"","id":1.0}\n').returncode == 0
    assert received_ids(program) == [0, 2, 1]
    assert first.poll() is None


def test_socket_is_removed_when_the_instance_ends(program):
    first = start_first(program)
    first.send_signal(signal.SIGTERM)
    assert first.wait(timeout=20) == 0
    assert not os.path.exists(os.path.join(socket_dir(program), str(first.pid)))
    assert (os.stat(socket_dir(program)).st_mode & 0o777) == 0o700


def click(program, x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=program.env, check=True)


def test_uploaded_files_reach_the_next_file_input_without_a_dialog(program, tmp_path):
    first = start_first(program)
    files = [tmp_path / "report one.txt", tmp_path / "b.pdf"]
    for path in files:
        path.write_text("x")
    request = tmp_path / "request.json"
    request.write_text('{"command":"upload","data":["%s","%s"]}' % tuple(str(p) for p in files))
    code, _ = second_start(program, "--upload-extension=" + upload_value(request))
    assert code == 0
    program.wait_for_log(r"\] handler upload$")
    click(program, 50, 50)
    assert program.wait_for_log(r"\] files chosen: (.*)$")[0].group(1) == "report one.txt|b.pdf"
    # Nothing pending any more: the next click opens the open-file dialog.
    windows = set(program.visible_windows(first.pid))
    click(program, 50, 50)
    dialogs = wait_until(lambda: set(program.visible_windows(first.pid)) - windows, what="the open-file dialog")
    subprocess.run(["xdotool", "key", "--window", str(dialogs.pop()), "Escape"], env=program.env)
