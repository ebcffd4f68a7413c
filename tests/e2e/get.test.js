'use strict';
// GET against the real desktop: windows, the mouse and the screens as the X server
// has them, another application's windows, the frontmost application, the PRIMARY
// selection and idle time, with and without a window manager. The screens are RandR
// outputs of a VNC X server:
//   A (primary) 1280 x 800 at 0,0;  B 1024 x 600 at 1280,200 (its top 200 below A's).
const { test, describe, before } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

const SCREENS = [{ x: 0, y: 0, w: 1280, h: 800 }, { x: 1280, y: 200, w: 1024, h: 600 }];
const skip = h.needs([['Xvnc', 'tigervnc-standalone-server'], ['xprop', 'x11-utils'], ['xwininfo', 'x11-utils'],
  ['xrandr', 'x11-xserver-utils'], ['xdotool', 'xdotool'], ['dbus-daemon', 'dbus'], [h.SYSTEM_PYTHON, 'python3-gi']]);

// Asks and returns the parsed answer; every question gets its own id.
const get = h.getAnswer;

const activate = async (display, xid) => {
  await h.xrun(display, 'xdotool', ['windowactivate', String(xid)]).catch(() => {});
  await h.untilValue(() => h.activeWindow(display), (a) => a === xid, `window ${xid} active`);
};

const mouseTo = (display, x, y) => h.xrun(display, 'xdotool', ['mousemove', String(x), String(y)]);

describe('with a window manager on two screens', { skip }, () => {
  // session: a private session bus for the other application's GTK
  const { x, dir, bus: session } = h.setUp({ screens: SCREENS, windowManager: true, dir: 'qbx-get-', bus: true });
  let A;
  let B;
  before(async () => { [A, B] = await h.randrMonitors(x.display); });

  const env = () => ({ DBUS_SESSION_BUS_ADDRESS: session.address, HOME: dir, XDG_RUNTIME_DIR: dir,
    PULSE_SERVER: `unix:${dir}/no-sound-server` });  // never the machine's own sound server
  const peer = (opts) => h.startPeer(x.display, { env: env(), ...opts });

  test('screens, windows and a window as the X server has them', async () => {
    const s = await h.mainSession(x.display, env());
    try {
      const b = s.backend;
      const screens = await get(b, 'screens');
      assert.equal(screens.length, 2);
      for (const [got, want, primary] of [[screens[0], A, true], [screens[1], B, false]]) {
        assert.equal(got.id, want.id);
        assert.equal(got.uid, String(want.id), 'no EDID: the display id');
        assert.equal(got.name, want.name, 'the connector');
        assert.deepEqual([got.x, got.y, got.width, got.height], [want.x, want.y, want.w, want.h]);
        assert.equal(got.primary, primary);
        assert.equal(got.internal, false);
        assert.equal(got.scale, 1);
        assert.deepEqual([got.pixels.width, got.pixels.height], [want.w, want.h]);
        const v = got.visible;
        assert.ok(v.x >= got.x && v.y >= got.y && v.x + v.width <= got.x + got.width && v.y + v.height <= got.y + got.height,
          `usable area inside the screen: ${JSON.stringify(got)}`);
      }

      await h.openProbeWindow(b, x.display, 'w2', { title: 'Second' });
      b.send('WINOP@w2 pos 1400 300');
      const w2 = await h.findWindow(x.display, 'Second');
      const frame = await h.untilValue(() => h.frameGeometry(x.display, w2.id), (g) => g.x === 1400 && g.y === 300, 'w2 moved');
      assert.deepEqual(await get(b, 'windows'), ['main', 'w2']);
      const win = await get(b, 'win:w2');
      // The content is the page: the client window less the menu bar above it.
      assert.deepEqual([win.x, win.y, win.width, win.height], [1400, 300, frame.client.width, frame.client.height - s.bar]);
      assert.deepEqual(win.outer, { width: frame.w, height: frame.h });
      assert.equal(win.screenId, B.id);
      assert.deepEqual(win.screen, { width: 1024, height: 600, scale: 1 });
      assert.deepEqual(win.local, { x: 1400 - 1280, y: 300 - 200 });
      assert.deepEqual(win.pixels, { x: 120, y: 100, width: frame.client.width, height: frame.client.height - s.bar });
      assert.equal(win.visible, true);
      assert.equal(win.minimized, false);
      assert.equal(win.chrome.frame, true);

      const main = await h.frameGeometry(x.display, s.main.id);
      const m = await get(b, 'win');
      assert.deepEqual([m.x, m.y, m.outer.width, m.outer.height], [main.x, main.y, main.w, main.h]);
      assert.equal(m.screenId, A.id);
      b.send('WINOP@w2 minimize');
      await h.untilValue(() => get(b, 'win:w2'), (j) => j.minimized === true && j.visible === false, 'w2 minimised');
    } finally {
      await s.close();
    }
  });

  test('the mouse: its screen and where it is over a window', async () => {
    const s = await h.mainSession(x.display, env());
    try {
      const b = s.backend;
      // The content area: the client window below the menu bar.
      const client = (await h.frameGeometry(x.display, s.main.id)).client;
      const c = { x: client.x, y: client.y + s.bar };
      const cases = [
        [c.x + 10, c.y + 20, A, true],
        [c.x - 5, c.y + 20, A, false],
        [1500, 700, B, false],
      ];
      for (const [px, py, screen, inside] of cases) {
        await mouseTo(x.display, px, py);
        const m = await h.untilValue(() => get(b, 'mouse'), (j) => j.x === px && j.y === py, `pointer at ${px},${py}`);
        assert.deepEqual(m.window, { x: px - c.x, y: py - c.y, inside });
        assert.deepEqual(m.screen, { id: screen.id, x: screen.x, y: screen.y, width: screen.w, height: screen.h, scale: 1 });
      }
      assert.equal((await get(b, 'mouse:nowhere')).window, null);
    } finally {
      await s.close();
    }
  });

  test('other applications: their windows, the frontmost one and its screen', async () => {
    const s = await h.mainSession(x.display, env());
    const p = await peer({ title: 'Peer Window', appId: 'org.example.GetPeer', x: 1350, y: 250 });
    try {
      const b = s.backend;
      await h.untilValue(() => h.xprop(x.display, p.xid, '_NET_FRAME_EXTENTS'), (t) => /= \d/.test(t), 'the peer framed');
      await mouseTo(x.display, 10, 10);  // the pointer's screen is not the answer
      await activate(x.display, p.xid);
      const cls = /WM_CLASS\(STRING\) = "[^"]*", "([^"]*)"/.exec(await h.xprop(x.display, p.xid, 'WM_CLASS'))[1];

      const frame = await h.frameGeometry(x.display, p.xid);
      const others = await get(b, 'otherwindows');
      assert.ok(!others.some((o) => o.pid === s.host.proc.pid), 'the host\'s own windows are left out');
      const mine = others.filter((o) => o.pid === p.pid);
      assert.deepEqual(mine, [{
        app: cls, bundleId: 'org.example.GetPeer', title: 'Peer Window', pid: p.pid, index: 0,
        x: frame.x, y: frame.y, width: frame.w, height: frame.h,
      }]);

      assert.deepEqual(await get(b, 'frontmost'), { name: cls, bundleId: 'org.example.GetPeer', pid: p.pid });
      assert.equal(await get(b, 'fgscreen'), B.id);
      assert.deepEqual(await get(b, 'debug:activation'), { policy: 'regular', active: false, hidden: false });

      await activate(x.display, Number(s.main.id));
      assert.equal((await get(b, 'frontmost')).pid, s.host.proc.pid);
      assert.equal(await get(b, 'fgscreen'), A.id);
      assert.deepEqual(await get(b, 'debug:activation'), { policy: 'regular', active: true, hidden: false });
    } finally {
      await p.stop();
      await s.close();
    }
  });

  test('the selected text is what another application holds as PRIMARY', async () => {
    const s = await h.mainSession(x.display, env());
    let p;
    try {
      const b = s.backend;
      assert.equal(await get(b, 'selectedtext'), null, 'nobody has selected anything');
      p = await peer({ title: 'Selecting' });
      const text = 'h\u00e9llo "w\u00f6rld"\n\ttab \\ \u{1F600}';
      await p.select(text);
      assert.equal(await get(b, 'selectedtext'), text);

      // An owner that stops answering: the question ends null, and nothing waits for it.
      process.kill(p.pid, 'SIGSTOP');
      b.send('GET stuck selectedtext');
      b.send('GET meanwhile windows');
      const order = [];
      await Promise.all([
        b.expectLine(/^GOT stuck null$/).then(() => order.push('selectedtext')),
        b.expectLine(/^GOT meanwhile \["main"\]$/).then(() => order.push('windows')),
      ]);
      assert.deepEqual(order, ['windows', 'selectedtext']);
      process.kill(p.pid, 'SIGCONT');

      await p.stop();
      p = null;
      await h.untilValue(() => get(b, 'selectedtext'), (t) => t === null, 'the selection gone with its owner');
    } finally {
      if (p) await p.stop();
      await s.close();
    }
  });

  test('idle time grows without input and starts again with it', async () => {
    const s = await h.mainSession(x.display, env());
    try {
      const b = s.backend;
      const quiet = await h.untilValue(() => get(b, 'idle'), (j) => j && j.seconds >= 1, 'a second without input', 30000, 250);
      await mouseTo(x.display, 700, 500);
      const after = await get(b, 'idle');
      assert.ok(after.seconds < quiet.seconds, `${after.seconds} after input, ${quiet.seconds} before`);
    } finally {
      await s.close();
    }
  });

  test('every question gets one answer; keys that name nothing answer null', async () => {
    const s = await h.mainSession(x.display, env());
    try {
      const b = s.backend;
      const keys = ['windows', 'win', 'win:nowhere', 'mouse', 'screens', 'fgscreen', 'idle', 'frontmost', 'otherwindows',
        'selectedtext', 'debug:activation', 'debug:trafficpos', 'debug:icon', 'debug:tray', 'traypos', 'item:x',
        'item@main:x', 'locale', 'clipboard', 'clipboard:count', 'audiofilters', 'Windows', 'screens ', 'nothing'];
      const n = 240;
      for (let i = 0; i < n; i++) b.send(`GET burst${i} ${keys[i % keys.length]}`);
      for (let i = 0; i < n; i++) {
        const line = await b.expectLine((l) => l.startsWith(`GOT burst${i} `));
        const key = keys[i % keys.length];
        const json = JSON.parse(line.slice(`GOT burst${i} `.length));
        if (['win:nowhere', 'Windows', 'screens ', 'nothing',
          'traypos'].includes(key)) assert.equal(json, null, key);
        // No sound server in this session.
        if (key === 'audiofilters') assert.deepEqual(json, { available: false, state: 'unsupported' }, key);
        if (key === 'clipboard:count') assert.equal(typeof json.changeCount, 'number', key);
        if (key === 'clipboard') assert.equal(json.kind, 'empty', key);
        if (key === 'locale') assert.equal(typeof json.language, 'string', key);
      }
      await b.sync();
      assert.equal(b.lines.filter((l) => l.startsWith('GOT burst')).length, n, 'no second answer');
      assert.deepEqual(await get(b, 'debug:trafficpos'), { hidden: true }, 'the window manager draws the buttons');
    } finally {
      await s.close();
    }
  });
});

describe('without a window manager', { skip }, () => {
  const { x } = h.setUp();

  test('what only a window manager knows is null; the rest still answers', async () => {
    const s = await h.startSession({ display: x.display, args: ['Main'] });
    try {
      const b = s.backend;
      await h.hello(b);
      assert.equal(await get(b, 'otherwindows'), null);
      assert.equal(await get(b, 'frontmost'), null);
      const [screen] = await get(b, 'screens');
      assert.deepEqual([screen.width, screen.height, screen.primary], [1280, 800, true]);
      await mouseTo(x.display, 20, 30);
      await h.untilValue(() => get(b, 'mouse'), (m) => m.x === 20 && m.y === 30, 'the pointer');
      assert.equal(await get(b, 'fgscreen'), screen.id, 'the pointer\'s screen');
      assert.deepEqual(await get(b, 'windows'), ['main']);
      assert.equal((await get(b, 'win')).visible, true);
      assert.equal(typeof (await get(b, 'idle')).seconds, 'number');
    } finally {
      await s.close();
    }
  });

  test('windowless mode', async () => {
    const s = await h.startSession({ display: x.display, page: 'probe.html', env: { QUIBEX_NO_MAIN_WINDOW: '1' } });
    try {
      const b = s.backend;
      assert.deepEqual(await get(b, 'windows'), []);
      assert.equal(await get(b, 'win'), null);
      assert.equal((await get(b, 'mouse')).window, null);
      assert.deepEqual(await get(b, 'debug:trafficpos'), { hidden: true });
    } finally {
      await s.close();
    }
  });
});
