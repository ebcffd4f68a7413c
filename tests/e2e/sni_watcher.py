#!/usr/bin/python3
# A StatusNotifierWatcher for the tray tests, on the bus whose address is the
# first argument. It records the items that register and leave, reports every
# signal that items and their menus send, and on request reads an item's
# properties and menu and calls it. One JSON object a line: requests on stdin
# ({"id":.., "op":.., ...}), answers ({"id":.., "ok":.., "result"|"error":..}) and
# events ({"event":..}) on stdout.
import json
import os
import sys

import gi

gi.require_version('Gio', '2.0')
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = 'org.kde.StatusNotifierWatcher'
ITEM = 'org.kde.StatusNotifierItem'
MENU = 'com.canonical.dbusmenu'
XML = '''<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
<signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
<signal name="StatusNotifierHostRegistered"/>
</interface></node>'''

bus = Gio.DBusConnection.new_for_address_sync(
    sys.argv[1],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)
items = {}  # service -> name watch id
stalled = []
owner = [0]
loop = GLib.MainLoop()


def out(obj):
    sys.stdout.write(json.dumps(obj) + '\n')
    sys.stdout.flush()


def plain(v):
    """A variant's value as JSON can hold it; byte arrays as hex."""
    if isinstance(v, GLib.Variant):
        if v.get_type_string() == 'ay':
            return bytes(v.get_data_as_bytes().get_data()).hex()
        if v.get_type_string().startswith(('(', 'a', 'v')):
            return plain_children(v)
        return v.unpack()
    return v


def plain_children(v):
    t = v.get_type_string()
    if t == 'v':
        return plain(v.get_variant())
    if t.startswith('a{'):
        return {plain(v.get_child_value(i).get_child_value(0)): plain(v.get_child_value(i).get_child_value(1))
                for i in range(v.n_children())}
    return [plain(v.get_child_value(i)) for i in range(v.n_children())]


def on_watcher_call(conn, sender, path, iface, method, params, invocation):
    if method == 'RegisterStatusNotifierItem' and '--stall' in sys.argv:
        out({'event': 'stalled', 'sender': sender})
        stalled.append(invocation)  # never answered
    elif method == 'RegisterStatusNotifierItem':
        arg = params.unpack()[0]
        # A path names an object of the caller; a name is the item's own service.
        service, item_path = (sender, arg) if arg.startswith('/') else (arg, '/StatusNotifierItem')
        out({'event': 'registered', 'service': service, 'path': item_path, 'sender': sender})
        if service not in items:
            def vanished(_c, name):
                Gio.bus_unwatch_name(items.pop(name))
                out({'event': 'unregistered', 'service': name})
                conn.emit_signal(None, '/StatusNotifierWatcher', WATCHER, 'StatusNotifierItemUnregistered',
                                 GLib.Variant('(s)', (name,)))
            items[service] = Gio.bus_watch_name_on_connection(
                conn, service, Gio.BusNameWatcherFlags.NONE, None, vanished)
        conn.emit_signal(None, '/StatusNotifierWatcher', WATCHER, 'StatusNotifierItemRegistered',
                         GLib.Variant('(s)', (service,)))
        invocation.return_value(None)
    else:
        invocation.return_value(None)


def on_watcher_prop(conn, sender, path, iface, name):
    if name == 'RegisteredStatusNotifierItems':
        return GLib.Variant('as', list(items))
    if name == 'IsStatusNotifierHostRegistered':
        return GLib.Variant('b', True)
    return GLib.Variant('i', 0)


node = Gio.DBusNodeInfo.new_for_xml(XML)
bus.register_object('/StatusNotifierWatcher', node.interfaces[0], on_watcher_call, on_watcher_prop, None)


def on_signal(conn, sender, path, iface, member, params):
    out({'event': 'signal', 'sender': sender, 'path': path, 'interface': iface, 'member': member,
         'args': plain(params)})


for iface in (ITEM, MENU):
    bus.signal_subscribe(None, iface, None, None, None, Gio.DBusSignalFlags.NONE, on_signal)


def call(service, path, iface, method, args, sig, reply_type, done):
    def finished(conn, res):
        try:
            done(True, conn.call_finish(res))
        except GLib.Error as e:
            done(False, e.message)
    bus.call(service, path, iface, method, GLib.Variant(sig, tuple(args)) if sig else None,
             GLib.VariantType(reply_type) if reply_type else None, Gio.DBusCallFlags.NO_AUTO_START, 5000, None,
             finished)


def layout_tree(v):
    ident, props, children = v
    return {'id': ident, 'props': {k: plain(val) for k, val in props.items()},
            'children': [layout_tree(c) for c in children]}


def handle(req):
    rid, op = req.get('id'), req['op']

    def reply(ok, result):
        out({'id': rid, 'ok': ok, ('result' if ok else 'error'): result})

    if op == 'own':
        def acquired(*_):
            reply(True, None)
        owner[0] = Gio.bus_own_name_on_connection(bus, WATCHER, Gio.BusNameOwnerFlags.NONE, acquired, None)
    elif op == 'unown':
        if owner[0]:
            Gio.bus_unown_name(owner[0])
            owner[0] = 0
        # A round trip to the bus: the name is released once this returns.
        call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'GetId', [], None, '(s)',
             lambda ok, r: reply(True, None))
    elif op == 'props':
        call(req['service'], req.get('path', '/StatusNotifierItem'), 'org.freedesktop.DBus.Properties', 'GetAll',
             [ITEM], '(s)', '(a{sv})', lambda ok, r: reply(ok, plain_children(r.get_child_value(0)) if ok else r))
    elif op == 'call':
        call(req['service'], req.get('path', '/StatusNotifierItem'), ITEM, req['method'], req.get('args', [0, 0]),
             req.get('sig', '(ii)'), None, lambda ok, r: reply(ok, None if ok else r))
    elif op == 'layout':
        call(req['service'], req['path'], MENU, 'GetLayout', [0, -1, []], '(iias)', '(u(ia{sv}av))',
             lambda ok, r: reply(ok, {'revision': r.unpack()[0], 'root': layout_tree(r.unpack()[1])} if ok else r))
    elif op == 'event':
        call(req['service'], req['path'], MENU, 'Event',
             [req['item'], req.get('name', 'clicked'), GLib.Variant('i', 0), 0], '(isvu)', None,
             lambda ok, r: reply(ok, None if ok else r))
    elif op == 'owner':
        call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'NameHasOwner',
             [req['name']], '(s)', '(b)', lambda ok, r: reply(ok, r.unpack()[0] if ok else r))
    else:
        reply(False, 'unknown op ' + op)


buf = ['']


def on_stdin(channel, condition):
    data = os.read(sys.stdin.fileno(), 65536).decode()
    if not data:
        loop.quit()
        return False
    buf[0] += data
    while '\n' in buf[0]:
        line, buf[0] = buf[0].split('\n', 1)
        if line.strip():
            handle(json.loads(line))
    return True


stdin = GLib.IOChannel.unix_new(sys.stdin.fileno())
GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, on_stdin)
out({'event': 'ready', 'unique': bus.get_unique_name()})
loop.run()
