#!/usr/bin/python3
# Another application for the GET tests: a GTK application window whose title,
# application id and position the test chooses, which owns the PRIMARY selection
# when told to. Prints "ready <X window id>" once the window is mapped; reads
# commands from stdin ("select <JSON text>"); ends with stdin.
import json
import sys

import gi

gi.require_version('Gdk', '3.0')
gi.require_version('Gtk', '3.0')
gi.require_version('GdkX11', '3.0')
from gi.repository import Gdk, GdkX11, Gio, GLib, Gtk  # noqa: E402,F401

title, app_id, x, y = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
app = Gtk.Application(application_id=app_id, flags=Gio.ApplicationFlags.NON_UNIQUE)


def command(source, condition):
    line = sys.stdin.readline()
    if not line:
        app.quit()
        return False
    verb, _, arg = line.rstrip('\n').partition(' ')
    if verb == 'select':
        Gtk.Clipboard.get(Gdk.SELECTION_PRIMARY).set_text(json.loads(arg), -1)
        print('selected', flush=True)
    return True


def activate(app):
    win = Gtk.ApplicationWindow(application=app, title=title)
    win.set_default_size(320, 200)
    win.move(x, y)
    win.connect('map-event', lambda *a: print('ready', win.get_window().get_xid(), flush=True))
    win.show_all()
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)


app.connect('activate', activate)
app.hold()
sys.exit(app.run([]))
