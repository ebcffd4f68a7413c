#!/usr/bin/python3
# Holds an application id on the session bus without being the application: with
# "answers" it serves just enough for a later start to take it for the running
# instance (the action list at the application's path) and refuses everything else.
# Prints "owned" once the name is its own; ends with stdin.
import sys

from gi.repository import Gio, GLib

name, answers = sys.argv[1], sys.argv[2] == 'answers'
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
if answers:
    info = Gio.DBusNodeInfo.new_for_xml(
        "<node><interface name='org.gtk.Actions'><method name='DescribeAll'>"
        "<arg type='a{s(bgav)}' direction='out'/></method></interface></node>")
    path = '/' + name.replace('.', '/').replace('-', '_')
    bus.register_object(path, info.interfaces[0],
                        lambda *a: a[-1].return_value(GLib.Variant('(a{s(bgav)})', ({},))), None, None)
bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'RequestName',
              GLib.Variant('(su)', (name, 4)), None, Gio.DBusCallFlags.NONE, -1, None)
print('owned', flush=True)
loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, lambda *a: loop.quit())
loop.run()
