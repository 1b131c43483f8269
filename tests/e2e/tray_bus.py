"""Private session buses and desktop stand-ins for the tray icon's tests: a
dbus-daemon of the test's own (no activatable services, so nothing starts
that the test did not start), the StatusNotifierWatcher of sni_watcher.py,
and the real dunst as the notification server."""

import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def wait_until(predicate, what, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class PrivateBus:
    """A session bus of its own; |env| holds its address."""

    def __init__(self, root):
        config = os.path.join(root, "bus.conf")
        socket_dir = os.path.join(root, "bus")
        os.makedirs(socket_dir, exist_ok=True)
        with open(config, "w") as f:
            f.write(BUS_CONFIG % socket_dir)
        read_fd, write_fd = os.pipe()
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=%d" % write_fd],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            self.address = pipe.readline().strip()
        assert self.address, "dbus-daemon printed no address"
        self.env = {"DBUS_SESSION_BUS_ADDRESS": self.address}

    def has_owner(self, name):
        out = subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                              "--object-path", "/org/freedesktop/DBus", "--method",
                              "org.freedesktop.DBus.NameHasOwner", name],
                             env=dict(os.environ, **self.env), capture_output=True, text=True)
        return "true" in out.stdout

    def stop(self):
        self.daemon.terminate()
        self.daemon.wait(timeout=10)


class Watcher:
    """sni_watcher.py on a bus; events() reads what it saw so far."""

    def __init__(self, bus, root, name, refuse=False):
        self.bus = bus
        self.events_path = os.path.join(root, name + ".events")
        open(self.events_path, "w").close()
        args = [sys.executable, os.path.join(HERE, "sni_watcher.py"), self.events_path]
        if refuse:
            args.append("--refuse")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, text=True,
                                     env=dict(os.environ, **bus.env))
        self.wait_for(lambda e: e["event"] == "watching", "the watcher to own its name")

    def events(self):
        with open(self.events_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def wait_for(self, match, what, timeout=30, after=0):
        """The first event after the first |after| ones that |match|es."""
        def find():
            if self.proc.poll() is not None:
                raise AssertionError("the watcher ended while waiting for " + what)
            return next((e for e in self.events()[after:] if match(e)), None)
        return wait_until(find, what, timeout)

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def quit(self):
        if self.proc.poll() is None:
            self.command("quit")
            self.proc.wait(timeout=10)


class Dunst:
    """The real dunst on a bus and display; every notification it shows is
    recorded through its script rule as one JSON line."""

    DEFAULT_TIMEOUT_MS = 7000

    RECORDER = """#!/bin/sh
exec %s -c 'import json, os, sys
keys = ("DUNST_ID", "DUNST_SUMMARY", "DUNST_BODY", "DUNST_ICON_PATH", "DUNST_TIMEOUT", "DUNST_APP_NAME")
print(json.dumps({k: os.environ.get(k) for k in keys}), file=open(sys.argv[1], "a"))' %s
"""

    def __init__(self, bus, root, display):
        self.record_path = os.path.join(root, "dunst.records")
        open(self.record_path, "w").close()
        recorder = os.path.join(root, "dunst_record.sh")
        with open(recorder, "w") as f:
            f.write(self.RECORDER % (sys.executable, self.record_path))
        os.chmod(recorder, 0o755)
        config = os.path.join(root, "dunstrc")
        with open(config, "w") as f:
            f.write("[global]\n    monitor = 0\n\n[urgency_normal]\n    timeout = %d\n\n"
                    "[record]\n    appname = \"*\"\n    script = %s\n" % (self.DEFAULT_TIMEOUT_MS // 1000, recorder))
        self.proc = subprocess.Popen(["dunst", "-config", config],
                                     env=dict(os.environ, DISPLAY=display, **bus.env),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: bus.has_owner("org.freedesktop.Notifications"), "dunst on the bus")

    def records(self):
        with open(self.record_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class NotifyMonitor:
    """dbus-monitor on a bus, recording every Notify call, so a test can read
    the hints a notification server does not show."""

    def __init__(self, bus, root):
        self.path = os.path.join(root, "notify.monitor")
        self.output = open(self.path, "w")
        self.proc = subprocess.Popen(
            ["dbus-monitor", "--address", bus.address,
             "type='method_call',interface='org.freedesktop.Notifications',member='Notify'"],
            stdout=self.output, stderr=subprocess.DEVNULL)
        # It says when it has become a monitor (NameLost of its own name).
        wait_until(lambda: os.path.getsize(self.path) > 0, "dbus-monitor to start")

    def calls(self):
        """The text of each Notify call seen so far."""
        with open(self.path) as f:
            return f.read().split("method call")[1:]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.output.close()
