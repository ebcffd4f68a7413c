'use strict';
// Notifications through python-dbusmock's notification server on a private
// session bus: what the host asks the server to show, and the server's signals
// turned into NOTIFYCLICK and NOTIFYACTION.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['dbus-daemon', 'dbus-daemon'], ['gdbus', 'libglib2.0-bin'], [h.SYSTEM_PYTHON, 'python3-dbusmock']]);

const PATH = '/org/freedesktop/Notifications';
const NAME = 'org.freedesktop.Notifications';

function emit(bus, member, sig, args) {
  return h.gdbusCall(bus.address, NAME, PATH, 'org.freedesktop.DBus.Mock.EmitSignal', NAME, member, sig, args);
}

// The Notify calls in the mock's log, in order.
function notifyCalls(log) {
  if (!fs.existsSync(log)) return [];
  // A logged call may span lines: each begins with its time stamp.
  return fs.readFileSync(log, 'utf8').split(/\n(?=\d+\.\d+ )/).filter((l) => /^\S+ Notify /.test(l));
}

describe('notifications', { skip }, () => {
  const { x, dir, bus } = h.setUp({ dir: 'qbx-notify-', bus: true });

  async function bundleSession(name, onBus = bus) {
    const home = path.join(dir, name);
    fs.mkdirSync(home, { recursive: true });
    const bundle = h.makeBundle(home, { name: 'Notes',
      plist: { CFBundleIdentifier: 'org.example.Notes', CFBundleIconFile: 'Notes' } });
    const icon = path.join(bundle.app, 'Contents/Resources/Notes.svg');
    fs.writeFileSync(icon, '<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="8" height="8"/></svg>');
    const s = await h.startBundle({ display: x.display, bundle, dir: home,
      env: { DBUS_SESSION_BUS_ADDRESS: onBus.address, HOME: home, TMPDIR: home, XDG_RUNTIME_DIR: home } });
    await s.ready();
    // A fresh HOME makes the first page load slow (font caches and the like): the
    // page's probe must be there before a test syncs through it.
    await s.relay.expectCall('probe.ready', () => true, 60000);
    // The application's icon as a file: URI, in the log's quoting.
    s.icon = JSON.stringify(require('node:url').pathToFileURL(icon).href).replace(/[/.]/g, '\\$&');
    return s;
  }

  test('actions, clicks and replacements against a server without reply fields', async () => {
    const log = path.join(dir, 'plain.log');
    const mock = await h.startMock(bus.address, 'notification_daemon',
      { params: { capabilities: 'actions body body-markup' }, log });
    const s = await bundleSession('plain');
    try {
      const b = s.relay;
      const actions = JSON.stringify([{ id: 'ok', title: 'OK' }, { id: 'x\ty', title: 'Tabbed' },
        { id: 'r', title: 'Answer', reply: true }, { title: 'no id' }, 7]);
      b.send(`NOTIFY n1\tHi <there>\tBody & more\tSub\t1\t${h.wireEscape(actions)}`);
      await h.until(() => notifyCalls(log).length === 1, 'the first Notify');
      const first = notifyCalls(log)[0];
      assert.match(first, new RegExp(`"Notes" 0 ${s.icon} "Hi <there>" "Sub\\nBody &amp; more" \\["default", "", "ok", "OK", "x\ty", "Tabbed", "r", "Answer"\\]`));
      assert.match(first, /"sound-name": "message-new-instant"/);
      assert.match(first, /"desktop-entry": "org\.example\.Notes"/);

      const cases = [
        ['ActionInvoked', 'us', '[<uint32 1>, <"ok">]', 'NOTIFYACTION n1\tok\t'],
        ['ActionInvoked', 'us', '[<uint32 1>, <"x\\ty">]', 'NOTIFYACTION n1\tx\\ty\t'],
        ['ActionInvoked', 'us', '[<uint32 1>, <"r">]', 'NOTIFYACTION n1\tr\t'],
        ['ActionInvoked', 'us', '[<uint32 1>, <"default">]', 'NOTIFYCLICK n1'],
      ];
      for (const [member, sig, args, want] of cases) {
        await emit(bus, member, sig, args);
        await b.expectLine((l) => l === want);
      }
      // Another application's notification and an unknown action say nothing.
      await emit(bus, 'ActionInvoked', 'us', '[<uint32 99>, <"ok">]');
      await emit(bus, 'ActionInvoked', 'us', '[<uint32 1>, <"nope">]');
      // The same id again replaces the notification on screen.
      b.send('NOTIFY n1\tAgain\t\t\t0\t');
      await h.until(() => notifyCalls(log).length === 2, 'the second Notify');
      assert.match(notifyCalls(log)[1],
        new RegExp(`"Notes" 1 ${s.icon} "Again" "" \\["default", ""\\] \\{"desktop-entry": "org\\.example\\.Notes"\\} -1`));
      await emit(bus, 'NotificationClosed', 'uu', '[<uint32 1>, <uint32 2>]');
      b.send('NOTIFY n1\tThird\t\t\t0\t');
      await h.until(() => notifyCalls(log).length === 3, 'the third Notify');
      assert.match(notifyCalls(log)[2], /"Notes" 0 \S+ "Third"/, 'a closed notification is not replaced');
      await b.sync();
      const events = b.lines.filter((l) => /^NOTIFY(CLICK|ACTION) /.test(l));
      assert.deepEqual(events, cases.map((c) => c[3]), 'nothing for the dismissal or for others\' notifications');
    } finally {
      await s.close();
      await mock.stop();
    }
  });

  test('reply fields where the server offers them; anonymous notifications keep their own actions', async () => {
    const log = path.join(dir, 'reply.log');
    const mock = await h.startMock(bus.address, 'notification_daemon',
      { params: { capabilities: 'actions body inline-reply' }, log });
    const s = await bundleSession('reply');
    try {
      const b = s.relay;
      const acts = (a) => h.wireEscape(JSON.stringify(a));
      b.send(`NOTIFY \tFirst\t<i>b</i>\t\t0\t${acts([{ id: 'a1', title: 'One' }, { id: 'rep', title: 'Reply', reply: true, placeholder: 'Say' }])}`);
      b.send(`NOTIFY \tSecond\t\t\t0\t${acts([{ id: 'b1', title: 'Two' }])}`);
      await h.until(() => notifyCalls(log).length === 2, 'two Notify calls');
      const [first, second] = notifyCalls(log);
      assert.match(first, /"First" "<i>b<\/i>" \["default", "", "a1", "One", "inline-reply", "Reply"\]/);
      assert.match(first, /"x-kde-reply-placeholder-text": "Say"/);
      assert.match(first, /"x-kde-reply-submit-button-text": "Reply"/);
      assert.match(second, /\["default", "", "b1", "Two"\]/);

      await emit(bus, 'NotificationReplied', 'us', '[<uint32 1>, <"line one\\nline\\ttwo">]');
      const reply = await b.expectLine((l) => l.startsWith('NOTIFYACTION '));
      const [, ident, action, text] = reply.match(/^NOTIFYACTION ([^\t]+)\t([^\t]*)\t(.*)$/);
      assert.match(ident, /^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$/);
      assert.equal(action, 'rep');
      assert.equal(text, 'line one\\nline\\ttwo');
      // The first notification's own action is still its own.
      await emit(bus, 'ActionInvoked', 'us', '[<uint32 1>, <"a1">]');
      await b.expectLine((l) => l === `NOTIFYACTION ${ident}\ta1\t`);
      await emit(bus, 'ActionInvoked', 'us', '[<uint32 1>, <"b1">]');
      await emit(bus, 'ActionInvoked', 'us', '[<uint32 2>, <"b1">]');
      const other = await b.expectLine((l) => l.startsWith('NOTIFYACTION ') && l.endsWith('\tb1\t'));
      assert.notEqual(other.split('\t')[0], `NOTIFYACTION ${ident}`, 'each anonymous notification has its own id');
      await b.sync();
      assert.equal(b.lines.filter((l) => l.startsWith(`NOTIFYACTION ${ident}\tb1`)).length, 0);
    } finally {
      await s.close();
      await mock.stop();
    }
  });

  test('a server the bus starts on demand counts; only its own signals do, across a restart', async () => {
    // The bus starts the mock server on the first call; each run writes its pid
    // and keeps its own call log.
    const home = path.join(dir, 'activated');
    const services = path.join(home, 'services');
    fs.mkdirSync(services, { recursive: true });
    const pids = path.join(home, 'pids');
    const script = path.join(home, 'notifyd.sh');
    fs.writeFileSync(script, `#!/bin/sh
echo $$ >> ${pids}
DBUS_SESSION_BUS_ADDRESS=$DBUS_STARTER_ADDRESS exec ${h.SYSTEM_PYTHON} -m dbusmock --session -t notification_daemon \\
  -p '{"capabilities": "actions body inline-reply"}' -l ${home}/mock-$$.log
`, { mode: 0o755 });
    fs.writeFileSync(path.join(services, `${NAME}.service`), `[D-BUS Service]\nName=${NAME}\nExec=${script}\n`);
    const abus = await h.startBus(home, 'activating', { serviceDir: services });
    const started = () => (fs.existsSync(pids) ? fs.readFileSync(pids, 'utf8').trim().split('\n').map(Number) : []);
    const calls = (pid) => notifyCalls(path.join(home, `mock-${pid}.log`));
    const s = await bundleSession('activated', abus);
    try {
      const b = s.relay;
      let n = 0;
      for (const verb of ['PERMCHK', 'PERMREQ']) {
        b.send(`${verb} p${++n} notifications`);
        await b.expectLine((l) => l === `GOT p${n} {"status":"granted"}`);
      }
      assert.deepEqual(started(), [], 'asking about the permission starts no server');

      b.send(`NOTIFY n1\tHi\t\t\t0\t${h.wireEscape(JSON.stringify([{ id: 'ok' }, { id: 'rep', reply: true }]))}`);
      const first = (await h.until(() => started().length === 1 && calls(started()[0]).length === 1 && started(),
        'Notify on the started server'))[0];
      await emit(abus, 'ActionInvoked', 'us', '[<uint32 1>, <"ok">]');
      await b.expectLine((l) => l === 'NOTIFYACTION n1\tok\t');
      // Any other connection may send the same signals, to everyone or to each
      // connection alone.
      const names = (await h.gdbusCall(abus.address, 'org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus.ListNames')).match(/:[0-9.]+/g);
      const forged = [['ActionInvoked', 'uint32 1', '"ok"'], ['NotificationReplied', 'uint32 1', '"forged"'],
        ['NotificationClosed', 'uint32 1', 'uint32 2']];
      for (const [member, ...args] of forged) {
        for (const dest of [[], ...names.map((d) => ['--dest', d])])
          await h.gdbus(abus.address, ['emit', ...dest, '--object-path', PATH, '--signal', `${NAME}.${member}`,
            ...args]);
      }
      await emit(abus, 'ActionInvoked', 'us', '[<uint32 1>, <"default">]');
      await b.expectLine((l) => l === 'NOTIFYCLICK n1');  // the forged close did not count

      // A new server under the same name: its signals count from the first.
      process.kill(first, 'SIGTERM');
      await h.until(async () => (await h.gdbusCall(abus.address, 'org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus.NameHasOwner', NAME)).includes('false'), 'the first server gone');
      b.send('NOTIFY n2\tAgain\t\t\t0\t' + h.wireEscape(JSON.stringify([{ id: 'ok' }])));
      await h.until(() => started().length === 2 && calls(started()[1]).length === 1, 'Notify on the second server');
      await emit(abus, 'ActionInvoked', 'us', '[<uint32 1>, <"ok">]');
      await b.expectLine((l) => l === 'NOTIFYACTION n2\tok\t');
      await b.sync();
      assert.deepEqual(b.lines.filter((l) => /^NOTIFY(CLICK|ACTION) /.test(l)),
        ['NOTIFYACTION n1\tok\t', 'NOTIFYCLICK n1', 'NOTIFYACTION n2\tok\t']);
    } finally {
      await s.close();
      for (const pid of started()) try { process.kill(pid, 'SIGTERM'); } catch { /* ended already */ }
      await abus.stop();
    }
  });

  test('without a server nothing is shown and nothing hangs; a server that comes later is used', async () => {
    const s = await bundleSession('late');
    try {
      const b = s.relay;
      b.send('NOTIFY e1\tEarly\t\t\t0\t');
      await h.until(() => /no notification server/.test(s.host.stderr), 'the diagnostic');
      b.send('GET alive windows');
      await b.expectLine((l) => l.startsWith('GOT alive '));
      const log = path.join(dir, 'late.log');
      const mock = await h.startMock(bus.address, 'notification_daemon', { log });
      try {
        b.send('NOTIFY e2\tLater\t\t\t0\t');
        await h.until(() => notifyCalls(log).length === 1, 'Notify once the server is there');
        assert.match(notifyCalls(log)[0], /"Later"/);
      } finally {
        await mock.stop();
      }
    } finally {
      await s.close();
    }
  });

  test('in command-line mode NOTIFY is dropped', async () => {
    const log = path.join(dir, 'cli.log');
    const mock = await h.startMock(bus.address, 'notification_daemon', { log });
    const s = await h.startSession({ display: x.display, args: ['Cli'],
      env: { DBUS_SESSION_BUS_ADDRESS: bus.address, HOME: dir, XDG_RUNTIME_DIR: dir } });
    try {
      await h.hello(s.backend);
      s.backend.send('NOTIFY c1\tHidden\t\t\t0\t');
      s.backend.send('NOTIFY c2\tHidden too\t\t\t0\t');
      s.backend.send('GET after windows');
      await s.backend.expectLine((l) => l.startsWith('GOT after '));
      await s.backend.sync();
      assert.equal(notifyCalls(log).length, 0);
      await h.until(() => /NOTIFY: notifications are shown only/.test(s.host.stderr), 'the diagnostic');
      assert.equal(s.host.stderr.match(/NOTIFY: notifications are shown only/g)?.length, 1, 'said once on stderr');
    } finally {
      await s.close();
      await mock.stop();
    }
  });
});
