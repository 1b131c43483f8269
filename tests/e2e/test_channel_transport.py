"""The page channel's socket as another local process of the same user meets
it: idle connections that never present the token, requests over the size
limit, and the socket file after the program ended."""

import os
import socket
import struct

from page_suite import start_suite
from waits import wait_until

LOAD_URL = r"Load URL: (\S+)"


def channel_dir(program):
    return os.path.join(program.runtime_dir, "vesk_channel")


def _connected(s, path):
    try:
        s.connect(path)
        return True
    except BlockingIOError:
        return False


def test_idle_connections_neither_block_the_page_nor_stay(program):
    session = start_suite(program, "channel_transport")
    session.wait_for_report("ready")
    path = os.path.join(channel_dir(program), str(session.process.pid))
    idle = []
    for _ in range(80):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(60)
        # A full listen backlog refuses at once (EAGAIN) instead of blocking:
        # try again until the host has accepted the earlier ones.
        wait_until(lambda: _connected(s, path), what="a connection to the page channel")
        idle.append(s)
    session.signal("flooded")
    session.finish()
    # Each one is closed by the host at its handshake deadline (or pushed out
    # by a newer one): the end of the stream arrives without a byte.
    for s in idle:
        try:
            assert s.recv(1) == b""
        except ConnectionResetError:
            pass
        s.close()
    assert "no handshake within" in program.log() or "connection closed" in program.log()


def test_an_oversized_frame_is_answered_as_too_large(program):
    proc = program.start()
    program.wait_for_log(LOAD_URL)
    path = os.path.join(channel_dir(program), str(proc.pid))
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(60)
    s.connect(path)
    s.sendall(struct.pack("<I", 2 * 1024 * 1024) + b"{")
    header = s.recv(4, socket.MSG_WAITALL)
    (length,) = struct.unpack("<I", header)
    answer = s.recv(length, socket.MSG_WAITALL)
    assert b'"error":5' in answer, answer
    s.close()
    proc.terminate()
    assert proc.wait(timeout=30) == 0


def test_a_start_that_ends_before_the_main_loop_leaves_no_socket(program):
    code, _ = program.run("--vesk-startup=exit-process", timeout=30)
    assert code == 0
    assert "Load URL" not in program.log()
    leftovers = os.listdir(channel_dir(program)) if os.path.isdir(channel_dir(program)) else []
    assert leftovers == []


def test_without_a_runtime_directory_host_calls_still_work(program):
    program.env["XDG_RUNTIME_DIR"] = os.path.join(program.root, "no-such-dir")
    session = start_suite(program, "channel_transport")
    session.wait_for_report("ready")
    session.signal("flooded")
    session.finish()
    assert "no channel to the host" not in program.log()
