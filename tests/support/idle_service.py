#!/usr/bin/python3
# A scripted session idle-time service for the key state tests, on a private bus.
# Usage: idle_service.py ADDRESS NAMES REPLY
#   NAMES: comma-separated "mutter", "screensaver"; REPLY: "ok", "string", "huge" or "hang".
# Control: org.tessaly.TestIdle.Reset at /control on the name org.tessaly.TestIdle.
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

address, names, reply = sys.argv[1], sys.argv[2].split(","), sys.argv[3]
DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)
state = {"base": 60000, "since": time.monotonic()}


def idle_ms():
    return int(state["base"] + (time.monotonic() - state["since"]) * 1000)


def answer(kind):
    if reply == "string":
        return "soon"
    if reply == "huge":
        return kind(2**64 - 1 if kind is dbus.UInt64 else 2**32 - 1)
    return kind(idle_ms())


kept_calls = []  # "hang": questions taken and never answered


class Mutter(dbus.service.Object):
    @dbus.service.method("org.gnome.Mutter.IdleMonitor", in_signature="", out_signature="s" if reply == "string" else "t",
                         async_callbacks=("done", "fail"))
    def GetIdletime(self, done, fail):
        if reply == "hang":
            kept_calls.append(done)
        else:
            done(answer(dbus.UInt64))


class ScreenSaver(dbus.service.Object):
    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="", out_signature="s" if reply == "string" else "u",
                         async_callbacks=("done", "fail"))
    def GetSessionIdleTime(self, done, fail):
        if reply == "hang":
            kept_calls.append(done)
        else:
            done(answer(dbus.UInt32))


class Control(dbus.service.Object):
    @dbus.service.method("org.tessaly.TestIdle", in_signature="", out_signature="")
    def Reset(self):
        state["base"] = 0
        state["since"] = time.monotonic()


keep = [dbus.service.BusName("org.tessaly.TestIdle", bus), Control(bus, "/control")]
if "mutter" in names:
    keep += [dbus.service.BusName("org.gnome.Mutter.IdleMonitor", bus),
             Mutter(bus, "/org/gnome/Mutter/IdleMonitor/Core")]
if "screensaver" in names:
    keep += [dbus.service.BusName("org.freedesktop.ScreenSaver", bus),
             ScreenSaver(bus, "/org/freedesktop/ScreenSaver")]
print("READY", flush=True)
# Ends with the bus (the test's dbus-daemon) or when the test closes our input.
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_HUP | GLib.IO_IN, lambda *a: loop.quit())
loop = GLib.MainLoop()
loop.run()
