#!/usr/bin/python3
# Owns a bus name (on the bus of DBUS_SESSION_BUS_ADDRESS) and never answers
# anything sent to it: a desktop service that hangs. Prints "ready" once it owns
# the name, then "held <interface>.<member>" for each call it keeps.
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
held = []


def swallow(conn, message, incoming):
    # Method calls to us are kept and never answered; everything else passes.
    if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL \
            and message.get_destination() != 'org.freedesktop.DBus':
        held.append(message)
        print('held %s.%s' % (message.get_interface(), message.get_member()), flush=True)
        return None
    return message


bus.add_filter(swallow)
bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'RequestName',
              GLib.Variant('(su)', (sys.argv[1], 4)), None, Gio.DBusCallFlags.NONE, -1, None)
print('ready', flush=True)
GLib.MainLoop().run()
