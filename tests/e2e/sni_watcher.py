#!/usr/bin/python3
"""A StatusNotifierWatcher with a host in one, speaking the real D-Bus
protocol on the session bus given in the environment, for the tray icon's
tests. It owns org.kde.StatusNotifierWatcher, accepts registrations (or
refuses them with --refuse), reads each registered item's properties as a
panel would, follows its change signals and its bus name, and writes what it
saw as JSON lines to the events file. Commands arrive one per line on
standard input: activate, contextmenu, secondary, read, quit.

Usage: sni_watcher.py EVENTS_FILE [--refuse]
"""

import json
import os
import sys

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
INTROSPECTION = """<node><interface name="org.kde.StatusNotifierWatcher">
 <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
 <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
 <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
 <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
 <property name="ProtocolVersion" type="i" access="read"/>
 <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
 <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
 <signal name="StatusNotifierHostRegistered"/>
</interface></node>"""


class Watcher:
    def __init__(self, events_path, refuse):
        self.events = open(events_path, "a", buffering=1)
        self.refuse = refuse
        self.items = {}  # service -> (bus name, object path, watch id, signal id)
        self.pending = ""
        self.loop = GLib.MainLoop()
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)

    def emit(self, **event):
        self.events.write(json.dumps(event) + "\n")

    def run(self):
        self.bus.register_object("/StatusNotifierWatcher", self.node.interfaces[0], self.on_call,
                                 self.on_get_property, None)
        Gio.bus_own_name_on_connection(self.bus, WATCHER, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                       lambda *a: self.emit(event="watching"),
                                       lambda *a: self.emit(event="name-lost"))
        channel = GLib.IOChannel.unix_new(sys.stdin.fileno())
        GLib.io_add_watch(channel, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP,
                          self.on_command)
        self.loop.run()

    def on_get_property(self, connection, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", list(self.items))
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    def on_call(self, connection, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierHost":
            invocation.return_value(None)
            return
        service = parameters.unpack()[0]
        if self.refuse:
            self.emit(event="refused", service=service)
            invocation.return_dbus_error("org.kde.StatusNotifierWatcher.Error.Refused", "refused by the test")
            return
        name, object_path = (sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")
        invocation.return_value(None)
        self.add_item(service, name, object_path)

    def add_item(self, service, name, object_path):
        if service in self.items:
            self.emit(event="registered-again", service=service)
            return
        watch = Gio.bus_watch_name_on_connection(self.bus, name, Gio.BusNameWatcherFlags.NONE, None,
                                                 lambda *a: self.remove_item(service))
        signals = self.bus.signal_subscribe(name, ITEM, None, object_path, None, Gio.DBusSignalFlags.NONE,
                                            lambda c, s, p, i, signal, params: self.on_item_signal(service, signal))
        self.items[service] = (name, object_path, watch, signals)
        self.bus.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierItemRegistered",
                             GLib.Variant("(s)", (service,)))
        self.emit(event="registered", service=service, props=self.read(service))

    def remove_item(self, service):
        name, object_path, watch, signals = self.items.pop(service)
        Gio.bus_unwatch_name(watch)
        self.bus.signal_unsubscribe(signals)
        self.bus.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierItemUnregistered",
                             GLib.Variant("(s)", (service,)))
        self.emit(event="unregistered", service=service)

    def on_item_signal(self, service, signal):
        self.emit(event="signal", signal=signal, props=self.read(service))

    def read(self, service):
        """The item's properties as plain JSON values (pixmaps as lists of [w, h, hex])."""
        name, object_path = self.items[service][:2]
        reply = self.bus.call_sync(name, object_path, "org.freedesktop.DBus.Properties", "GetAll",
                                   GLib.Variant("(s)", (ITEM,)), None, Gio.DBusCallFlags.NONE, 20000, None)
        props = {}
        for key, value in reply.unpack()[0].items():
            if key.endswith("Pixmap"):
                value = [[w, h, bytes(data).hex()] for w, h, data in value]
            elif key == "ToolTip":
                value = [value[0], [[w, h, bytes(d).hex()] for w, h, d in value[1]], value[2], value[3]]
            props[key] = value
        return props

    def call_item(self, method):
        for service, (name, object_path, _, _) in list(self.items.items()):
            try:
                self.bus.call_sync(name, object_path, ITEM, method, GLib.Variant("(ii)", (10, 20)), None,
                                   Gio.DBusCallFlags.NONE, 20000, None)
                self.emit(event="called", method=method, service=service)
            except GLib.Error as error:
                self.emit(event="call-failed", method=method, service=service, error=error.message)
        if not self.items:
            self.emit(event="call-failed", method=method, error="no item")

    def on_command(self, channel, condition):
        # Read what is there, unbuffered: a buffered reader would keep a
        # second command until a third one woke the loop.
        chunk = os.read(sys.stdin.fileno(), 4096)
        if not chunk:
            self.loop.quit()
            return False
        self.pending += chunk.decode()
        while "\n" in self.pending:
            line, self.pending = self.pending.split("\n", 1)
            if not self.run_command(line.strip()):
                self.loop.quit()
                return False
        return True

    def run_command(self, command):
        if command == "quit":
            return False
        if command == "activate":
            self.call_item("Activate")
        elif command == "contextmenu":
            self.call_item("ContextMenu")
        elif command == "secondary":
            self.call_item("SecondaryActivate")
        elif command == "read":
            self.emit(event="read", items={s: self.read(s) for s in self.items})
        return True


if __name__ == "__main__":
    Watcher(sys.argv[1], "--refuse" in sys.argv[2:]).run()
