'use strict';
// Hot keys and keystrokes on a real X server, the system's notices (theme,
// sleep and wake from logind on a private system bus, a screen change through
// RandR) and every permission kind's answer.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['xdotool', 'xdotool'], ['dbus-daemon', 'dbus'], ['gdbus', 'libglib2.0-bin'], ['xrandr', 'x11-xserver-utils'],
  ['Xvnc', 'tigervnc-standalone-server']],
  [['dbusmock', 'python3-dbusmock'], ['Xlib', 'python3-xlib']]);

const { x, dir, bus: sessionBus, system: systemBus } = h.setUp({ skip, windowManager: true, dir: 'qbx-keys-', bus: true,
  system: true });

// A host on `display` with the private buses and a home of its own.
async function session(display = x.display, env = {}) {
  const s = await h.startSession({
    display,
    args: ['Main'],
    env: {
      HOME: dir,
      DBUS_SESSION_BUS_ADDRESS: sessionBus.address,
      DBUS_SYSTEM_BUS_ADDRESS: systemBus.address,
      ...env,
    },
  });
  await h.hello(s.backend);
  return s;
}

// Owns a key grab on the root window from another X client until stopped.
async function grabElsewhere(display, keysym, mask) {
  const script = `
import sys
from Xlib import display, X, XK
d = display.Display()
root = d.screen().root
root.grab_key(d.keysym_to_keycode(XK.string_to_keysym(${JSON.stringify(keysym)})), ${mask}, True, X.GrabModeAsync, X.GrabModeAsync)
d.sync()
print('grabbed', flush=True)
sys.stdin.read()
`;
  const p = h.launch(h.SYSTEM_PYTHON, ['-c', script], { stdio: ['pipe', 'pipe', 'pipe'], env: { ...process.env, DISPLAY: display } });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the other client did not grab')), 10000);
    p.stdout.on('data', (b) => { if (String(b).includes('grabbed')) { clearTimeout(timer); resolve(); } });
  });
  return { stop: () => { p.stdin.destroy(); return h.stopGroup(p); } };
}

describe('keys', { skip }, () => {
  test('a registered hot key is reported when pressed, with Caps Lock and Num Lock too, until unregistered', async () => {
    const s = await session();
    try {
      const b = s.backend;
      b.send('HKREG r1 toggle\tcmd+shift+k');
      assert.equal((await b.expectLine(/^GOT r1 (.*)$/))[1], '{"ok":true}');
      b.send('HKREG r2 other\talt+f5');
      assert.equal((await b.expectLine(/^GOT r2 (.*)$/))[1], '{"ok":true}');
      // Command is the Control key here.
      await h.xrun(x.display, 'xdotool', ['key', 'ctrl+shift+k']);
      await b.expectLine(/^HOTKEY toggle$/);
      await h.xrun(x.display, 'xdotool', ['key', 'alt+F5']);
      await b.expectLine(/^HOTKEY other$/);
      for (const lock of ['Caps_Lock', 'Num_Lock']) {
        await h.xrun(x.display, 'xdotool', ['key', lock]);
        try {
          await h.xrun(x.display, 'xdotool', ['key', 'ctrl+shift+k']);
          await b.expectLine(/^HOTKEY toggle$/);
        } finally {
          await h.xrun(x.display, 'xdotool', ['key', lock]);
        }
      }
      // Unregistered: its press says nothing. The press of a key still
      // registered afterwards shows that the first one has been handled.
      b.send('HKUNREG toggle');
      await b.sync();
      await h.xrun(x.display, 'xdotool', ['key', 'ctrl+shift+k']);
      await h.xrun(x.display, 'xdotool', ['key', 'alt+F5']);
      await b.expectLine(/^HOTKEY other$/);
      assert.equal(b.lines.filter((l) => l === 'HOTKEY toggle').length, 3);
      // Answers without the desktop.
      b.send('HKREG r3 bad\tcmd+f21');
      assert.equal((await b.expectLine(/^GOT r3 (.*)$/))[1], '{"ok":false,"error":"unknown key"}');
      b.send('HKREG r4 bad\tcmd+');
      assert.equal((await b.expectLine(/^GOT r4 (.*)$/))[1], '{"ok":false,"error":"needs exactly one key plus modifiers"}');
    } finally {
      await s.close();
    }
  });

  test('a key another client holds is refused as taken, and the name gets none', async () => {
    // Control+Alt+J, held by someone else.
    const other = await grabElsewhere(x.display, 'j', 4 | 8);
    const s = await session();
    try {
      const b = s.backend;
      b.send('HKREG r1 j\tcmd+alt+j');
      assert.equal((await b.expectLine(/^GOT r1 (.*)$/))[1], '{"ok":false,"error":"the system refused it (already taken?)"}');
      assert.match(s.host.stderr, /hotkey "cmd\+alt\+j" not registered: the system refused it/);
      // The host is still fine: another key registers and works.
      b.send('HKREG r2 k\tcmd+alt+k');
      assert.equal((await b.expectLine(/^GOT r2 (.*)$/))[1], '{"ok":true}');
      await h.xrun(x.display, 'xdotool', ['key', 'ctrl+alt+k']);
      await b.expectLine(/^HOTKEY k$/);
    } finally {
      await s.close();
      await other.stop();
    }
  });

  test('a keystroke reaches the focused page with its modifiers', async () => {
    const s = await session();
    try {
      const b = s.backend;
      b.eval("document.addEventListener('keydown', (e) => probe.report('key', {key: e.key, ctrl: e.ctrlKey, shift: e.shiftKey}))");
      await b.sync();
      const main = await h.findWindow(x.display, 'Main');
      await h.xrun(x.display, 'xdotool', ['windowactivate', '--sync', main.id]);
      b.send('KEYSTROKE k1 shift+b');
      assert.equal((await b.expectLine(/^GOT k1 (.*)$/))[1], '{"ok":true,"trusted":true}');
      let r = await b.expectReport('key');
      while (r.key === 'Shift') r = await b.expectReport('key');
      assert.deepEqual({ key: r.key, shift: r.shift, ctrl: r.ctrl }, { key: 'B', shift: true, ctrl: false });
      b.send('KEYSTROKE k2 cmd+f21');
      assert.equal((await b.expectLine(/^GOT k2 (.*)$/))[1], '{"ok":false,"trusted":true}');
    } finally {
      await s.close();
    }
  });
});

test('a click that activates a window reaches its page only when the window asked for it', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    // firstMouse is the tenth WINOPEN field, the position the eleventh and twelfth.
    const open = (id, firstMouse, left) => {
      const f = new Array(8).fill('');
      f[5] = firstMouse;
      [f[6], f[7]] = [String(left), '300'];
      return h.openProbeWindow(b, x.display, id, { size: '300x150', more: f });
    };
    const wins = { plain: await open('plain', '', 50), eager: await open('eager', '1', 500) };
    for (const id of Object.keys(wins)) {
      b.eval(`document.addEventListener('mousedown', () => probe.report('down', {win: '${id}'}))`, id);
      await b.sync(id);
    }
    const clickIn = async (id) => {
      const g = await h.frameGeometry(x.display, wins[id].id);
      await h.xrun(x.display, 'xdotool', ['mousemove', String(g.client.x + 150), String(g.client.y + 100), 'click', '1']);
    };
    const downs = (id) => b.calls().filter((c) => c.method === 'report' && c.params.tag === 'down' && c.params.win === id).length;
    for (const [id, other] of [['plain', 'eager'], ['eager', 'plain']]) {
      await h.xrun(x.display, 'xdotool', ['windowactivate', '--sync', wins[other].id]);
      await clickIn(id);
      await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(wins[id].id), `${id} active`);
      // A second click on the window, now active, always reaches the page.
      await clickIn(id);
      await b.expectReport('down');
      await b.sync(id);
      assert.equal(downs(id), id === 'eager' ? 2 : 1, id);
    }
  } finally {
    await s.close();
  }
});

describe('system notices', { skip }, () => {
  test('the theme at start, and sleep and wake from logind', async () => {
    const log = path.join(dir, 'logind.log');
    const mock = await h.startMock(systemBus.address, 'logind', { log });
    const s = await session();
    try {
      const b = s.backend;
      // No portal on the bus: GTK's own theme, which is light.
      await b.expectLine(/^SYS theme light$/);
      const emit = (start) => h.gdbusCall(systemBus.address, 'org.freedesktop.login1', '/org/freedesktop/login1',
        'org.freedesktop.DBus.Mock.EmitSignal', 'org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', `[<${start}>]`);
      // The host subscribes once its bus connection is up: emit until heard.
      await h.until(async () => {
        await emit(true);
        return b.lines.includes('SYS sleep');
      }, 'SYS sleep');
      await emit(false);
      await b.expectLine(/^SYS wake$/);
      assert.equal(b.lines.filter((l) => l.startsWith('SYS theme')).length, 1, 'one theme line at start');
    } finally {
      await s.close();
      await mock.stop();
    }
  });

  test('the theme from the desktop portal, and its changes', async () => {
    const portal = h.launch(h.SYSTEM_PYTHON, ['-m', 'dbusmock', '--session', 'org.freedesktop.portal.Desktop',
      '/org/freedesktop/portal/desktop', 'org.freedesktop.portal.Settings'],
    { stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: sessionBus.address } });
    const call = (method, ...args) => h.gdbusCall(sessionBus.address, 'org.freedesktop.portal.Desktop',
      '/org/freedesktop/portal/desktop', method, ...args);
    let s;
    try {
      await h.until(() => call('org.freedesktop.DBus.Mock.AddMethod', '', 'ReadOne', 'ss', 'v',
        'ret = dbus.UInt32(1) if args[0] == "org.freedesktop.appearance" and args[1] == "color-scheme" else dbus.UInt32(0)')
        .then(() => true, () => false), 'the portal on the bus');
      s = await session();
      const b = s.backend;
      await b.expectLine(/^SYS theme dark$/);
      const change = (scheme) => call('org.freedesktop.DBus.Mock.EmitSignal', 'org.freedesktop.portal.Settings', 'SettingChanged',
        'ssv', `[<'org.freedesktop.appearance'>, <'color-scheme'>, <<uint32 ${scheme}>>]`);
      await change(2);
      await b.expectLine(/^SYS theme light$/);
      // Another setting, or no preference (GTK's own theme is light here too), says nothing.
      await call('org.freedesktop.DBus.Mock.EmitSignal', 'org.freedesktop.portal.Settings', 'SettingChanged',
        'ssv', "[<'org.freedesktop.appearance'>, <'accent-color'>, <<(0.1, 0.2, 0.3)>>]");
      await change(0);
      await change(1);
      await b.expectLine(/^SYS theme dark$/);
      await b.sync();
      assert.deepEqual(b.lines.filter((l) => l.startsWith('SYS theme')), ['SYS theme dark', 'SYS theme light', 'SYS theme dark']);
    } finally {
      if (s) await s.close();
      await h.stopGroup(portal);
    }
  });

  test('a portal that never answers is asked once; the theme is told once, from GTK', async () => {
    const portal = await h.startSilentPeer(sessionBus.address, 'org.freedesktop.portal.Desktop');
    let s;
    try {
      s = await session();
      const b = s.backend;
      await b.expectLine(/^SYS theme light$/);
      await b.sync();
      assert.equal(b.lines.filter((l) => l.startsWith('SYS theme')).length, 1);
      assert.deepEqual(portal.held(), ['org.freedesktop.portal.Settings.ReadOne']);
    } finally {
      if (s) await s.close();
      await portal.stop();
    }
  });

  test('the locale from the environment', async () => {
    const s = await session(x.display, { LANG: 'de_DE.UTF-8', LANGUAGE: 'de_DE:fr', LC_ALL: undefined, LC_MESSAGES: undefined, TZ: 'Europe/Berlin' });
    try {
      s.backend.send('GET l1 locale');
      const got = JSON.parse((await s.backend.expectLine(/^GOT l1 (.*)$/))[1]);
      assert.deepEqual(got, { language: 'de-DE', languages: ['de-DE', 'fr'], system: ['de-DE', 'fr'], region: 'DE', timeZone: 'Europe/Berlin' });
    } finally {
      await s.close();
    }
  });

  test('every permission kind answers at once', async () => {
    const s = await session();
    try {
      const b = s.backend;
      const cases = [
        ['accessibility', 'granted'], ['screen', 'granted'], ['screen-recording', 'granted'],
        // A host started without a bundle sends no notifications.
        ['notifications', 'unsupported'],
        ['camera', /^(granted|denied)$/], ['microphone', /^(granted|denied)$/],
        ['automation', 'unsupported'], ['automation:org.example.App', 'unsupported'],
        // No location service on this system bus.
        ['location', 'denied'],
        ['Screen', 'unsupported'], ['nonsense', 'unsupported'],
      ];
      let n = 0;
      for (const verb of ['PERMCHK', 'PERMREQ']) {
        for (const [kind, want] of cases) {
          const id = 'p' + (++n);
          b.send(`${verb} ${id} ${kind}`);
          const status = JSON.parse((await b.expectLine(new RegExp(`^GOT ${id} (.*)$`), 5000))[1]).status;
          if (want instanceof RegExp) assert.match(status, want, `${verb} ${kind}`);
          else assert.equal(status, want, `${verb} ${kind}`);
        }
      }
      await b.sync();
      assert.equal(b.lines.filter((l) => l.startsWith('GOT p')).length, n, 'one answer each');
    } finally {
      await s.close();
    }
  });
});

test('in a bundle, notifications are granted while a notification server is on the session bus; location names the application', { skip }, async (t) => {
  const bdir = h.tempDir('qbx-keys-bundle-');
  t.after(() => h.removeDir(bdir));
  const bus = await h.startBus(bdir, 'session');
  t.after(() => bus.stop());
  const bundle = h.makeBundle(bdir, { name: 'Perm',
    plist: { CFBundleIdentifier: 'org.example.Perm', NSLocationUsageDescription: 'To test.' } });
  const b = await h.startBundle({ display: x.display, bundle, dir: bdir,
    env: { HOME: bdir, DBUS_SESSION_BUS_ADDRESS: bus.address, DBUS_SYSTEM_BUS_ADDRESS: systemBus.address } });
  t.after(() => b.close());
  await b.ready();
  await h.hello(b.relay);
  let n = 0;
  const ask = async (verb, kind) => {
    const id = 'n' + (++n);
    b.relay.send(`${verb} ${id} ${kind}`);
    return JSON.parse((await b.relay.expectLine(new RegExp(`^GOT ${id} (.*)$`), 5000))[1]).status;
  };
  assert.equal(await ask('PERMCHK', 'notifications'), 'denied');
  assert.equal(await ask('PERMREQ', 'notifications'), 'denied');
  const server = h.launch(h.SYSTEM_PYTHON, ['-m', 'dbusmock', '--session', '-t', 'notification_daemon'],
    { stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: bus.address } });
  t.after(() => h.stopGroup(server));
  await h.until(async () => (await h.gdbusCall(bus.address, 'org.freedesktop.DBus', '/org/freedesktop/DBus',
    'org.freedesktop.DBus.NameHasOwner', 'org.freedesktop.Notifications')).includes('true'), 'the notification server');
  assert.equal(await ask('PERMCHK', 'notifications'), 'granted');
  assert.equal(await ask('PERMREQ', 'notifications'), 'granted');
  // The location service's agent is told who asks: the application's desktop entry.
  const log = path.join(bdir, 'geoclue.log');
  const geo = await h.startMock(systemBus.address, path.join(__dirname, 'peers/geoclue.py'),
    { log, busName: 'org.freedesktop.GeoClue2' });
  t.after(() => geo.stop());
  assert.equal(await ask('PERMREQ', 'location'), 'granted');
  assert.match(require('node:fs').readFileSync(log, 'utf8'), /DesktopId "org\.example\.Perm"/);
});

describe('screen changes', { skip }, () => {
  // No window manager: openbox would pull the window back itself.
  const { x: vnc } = h.setUp({ screens: [{ x: 0, y: 0, w: 2304, h: 800 }] });

  test('a smaller screen is told once and brings the window left off it back', async () => {
    const s = await session(vnc.display);
    try {
      const b = s.backend;
      const w = await h.openProbeWindow(b, vnc.display, 'far', { size: '300x150', wm: false });
      b.send('WINOP@far pos 1900 300');
      await h.untilValue(() => h.frameGeometry(vnc.display, w.id), (g) => g.x >= 1800, 'the window far right');
      const [out] = await h.randrMonitors(vnc.display);
      await h.xrun(vnc.display, 'xrandr', ['--fb', '1280x800', '--output', out.name, '--mode', '1280x800']);
      await b.expectLine(/^SYS screens$/);
      const g = await h.untilValue(() => h.frameGeometry(vnc.display, w.id), (f) => f.x + f.w <= 1280, 'the window back on screen');
      assert.ok(g.x >= 0);
      await b.sync();
      assert.equal(b.lines.filter((l) => l === 'SYS screens').length, 1);
    } finally {
      await s.close();
    }
  });
});
