#!/usr/bin/python3
# An XEmbed system tray for the tray tests, on the display of $DISPLAY: it owns
# _NET_SYSTEM_TRAY_S0, embeds the icons that ask to dock into a window of its
# own and reports, one JSON object a line on stdout, when an icon docks (with
# its root position and size) and when it leaves.
import json
import sys

from Xlib import X, Xatom, display
from Xlib.protocol import event

ICON = 24  # the side of the square each icon gets

d = display.Display()
screen = d.screen()
root = screen.root
atom = lambda name: d.intern_atom(name)  # noqa: E731
SELECTION = atom('_NET_SYSTEM_TRAY_S%d' % d.get_default_screen())
OPCODE = atom('_NET_SYSTEM_TRAY_OPCODE')
MANAGER = atom('MANAGER')
XEMBED = atom('_XEMBED')
REQUEST_DOCK = 0

# The tray's own window, at the top-right corner of the screen like a panel's.
width = screen.width_in_pixels
tray = root.create_window(width - 200, 0, 200, 32, 0, screen.root_depth, X.InputOutput, X.CopyFromParent,
                          background_pixel=screen.white_pixel, override_redirect=True,
                          event_mask=X.SubstructureNotifyMask | X.StructureNotifyMask)
tray.change_property(atom('_NET_SYSTEM_TRAY_ORIENTATION'), Xatom.CARDINAL, 32, [0])
tray.change_property(atom('_NET_SYSTEM_TRAY_VISUAL'), Xatom.VISUALID, 32, [screen.root_visual])
tray.map()
tray.set_selection_owner(SELECTION, X.CurrentTime)
d.flush()
if d.get_selection_owner(SELECTION) != tray:
    sys.exit('another tray owns the selection')
root.send_event(event.ClientMessage(window=root, client_type=MANAGER,
                                    data=(32, [X.CurrentTime, SELECTION, tray.id, 0, 0])),
                event_mask=X.StructureNotifyMask)
d.flush()

icons = []


def out(obj):
    sys.stdout.write(json.dumps(obj) + '\n')
    sys.stdout.flush()


def dock(wid):
    icon = d.create_resource_object('window', wid)
    x = 4 + len(icons) * (ICON + 4)
    icon.change_attributes(event_mask=X.StructureNotifyMask)
    # As embedders do: should the tray end, the icon goes back to the root
    # instead of being destroyed with the tray's window.
    icon.change_save_set(X.SetModeInsert)
    icon.reparent(tray, x, 4)
    icon.configure(width=ICON, height=ICON)
    icon.send_event(event.ClientMessage(window=icon, client_type=XEMBED,
                                        data=(32, [X.CurrentTime, 0, 0, tray.id, 0])))  # EMBEDDED_NOTIFY
    icon.map()
    d.sync()
    icons.append(wid)
    pos = icon.translate_coords(root, 0, 0)
    out({'event': 'docked', 'window': wid, 'x': -pos.x, 'y': -pos.y, 'width': ICON, 'height': ICON})


def gone(wid):
    if wid in icons:
        icons.remove(wid)
        out({'event': 'undocked', 'window': wid})


out({'event': 'ready', 'tray': tray.id})
while True:
    e = d.next_event()
    if e.type == X.ClientMessage and e.client_type == OPCODE:
        fmt, data = e.data
        if data[1] == REQUEST_DOCK:
            dock(data[2])
    elif e.type == X.DestroyNotify:
        gone(e.window.id)
    elif e.type == X.UnmapNotify:
        gone(e.window.id)
    elif e.type == X.ReparentNotify and e.parent.id != tray.id:
        gone(e.window.id)
