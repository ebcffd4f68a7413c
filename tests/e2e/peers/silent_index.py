#!/usr/bin/python3
# Owns the file index's bus name and never answers anything sent to it: a desktop
# whose index hangs. Prints "ready" once it owns the name.
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
held = []


def swallow(conn, message, incoming):
    # Method calls to us are kept and never answered; everything else passes.
    if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL \
            and message.get_destination() != 'org.freedesktop.DBus':
        held.append(message)
        return None
    return message


bus.add_filter(swallow)
bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'RequestName',
              GLib.Variant('(su)', (sys.argv[1], 4)), None, Gio.DBusCallFlags.NONE, -1, None)
print('ready', flush=True)
GLib.MainLoop().run()
