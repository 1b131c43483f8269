#!/usr/bin/python3
"""Speaks the instance channel from outside the program, written from
docs/ipc-protocol.md alone: finds the running instance's socket, puts a
message into a fresh POSIX shared-memory section, sends the 12-byte request
and waits for the 4-byte answer.

  ipc_sender.py [--pid PID] [--id N] [--data TEXT] [--text RAW] [--timeout S]

Exit code 0 when the receiver answered, 1 when it closed without an answer,
2 when no receiver was found."""

import argparse
import json
import mmap
import os
import socket
import struct
import sys
import tempfile
import time

import _posixshmem

REQUEST = 0x8001


def socket_dir():
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime and os.path.isabs(runtime) and os.path.isdir(runtime):
        info = os.stat(runtime)
        if info.st_uid == os.geteuid() and info.st_mode & 0o022 == 0:
            return os.path.join(runtime, "vesk_ipc_window")
    return os.path.join(tempfile.gettempdir(), "vesk-%d" % os.geteuid(), "vesk_ipc_window")


def receivers():
    """Pids of the receiver sockets in the directory, lowest first."""
    try:
        names = os.listdir(socket_dir())
    except FileNotFoundError:
        return []
    pids = [int(n) for n in names if n.isdigit() and str(int(n)) == n and int(n) != os.getpid()]
    return sorted(pids)


def message_text(message_id, data):
    """The section text: compact JSON with sorted keys and a line feed."""
    return (json.dumps({"data": data, "id": message_id}, separators=(",", ":"), sort_keys=True) + "\n").encode()


def send_text(pid, text, timeout=30.0, tick=None):
    """Sends raw section text to the receiver of |pid|; returns the answer's
    bytes, or None when the receiver closed the connection without one."""
    if tick is None:
        tick = int(time.monotonic() * 1000) & 0xFFFFFFFF
    name = "/vesk_ipc_%d_%d" % (pid, tick)
    fd = _posixshmem.shm_open(name, os.O_CREAT | os.O_EXCL | os.O_RDWR, 0o600)
    try:
        size = len(text) + 1
        os.ftruncate(fd, size)  # zero-filled, so the NUL is in place
        with mmap.mmap(fd, size) as view:
            view[:len(text)] = text
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
            conn.settimeout(timeout)
            conn.connect(os.path.join(socket_dir(), str(pid)))
            conn.sendall(struct.pack("<III", REQUEST, pid, tick))
            answer = b""
            while len(answer) < 4:
                chunk = conn.recv(4 - len(answer))
                if not chunk:
                    return None
                answer += chunk
            return answer
    finally:
        os.close(fd)
        try:
            _posixshmem.shm_unlink(name)  # the sender's job, answer or not
        except FileNotFoundError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int)
    parser.add_argument("--id", type=int, default=0)
    parser.add_argument("--data", default="")
    parser.add_argument("--text", help="raw section text instead of a message")
    parser.add_argument("--timeout", type=float, default=30.0)
    args = parser.parse_args()
    pid = args.pid or next(iter(receivers()), None)
    if pid is None:
        print("no receiver", file=sys.stderr)
        return 2
    text = args.text.encode() if args.text is not None else message_text(args.id, args.data)
    answer = send_text(pid, text, args.timeout)
    if answer is None:
        print("closed without an answer", file=sys.stderr)
        return 1
    print("answer %d" % struct.unpack("<I", answer)[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
