#!/usr/bin/python3
# Prints every com.canonical.Unity.LauncherEntry Update signal on the session bus
# as one JSON line: {"uri": ..., "props": {...}}; "ready" once it listens.
import json
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def on_signal(conn, sender, path, iface, name, params):
    uri, props = params.unpack()
    print(json.dumps({'uri': uri, 'props': props}), flush=True)


bus.signal_subscribe(None, 'com.canonical.Unity.LauncherEntry', 'Update', None, None,
                     Gio.DBusSignalFlags.NONE, on_signal)
# A round trip to the bus, so that the match rule is in place before "ready".
bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'GetId',
              None, None, Gio.DBusCallFlags.NONE, -1, None)
print('ready', flush=True)
GLib.MainLoop().run()
