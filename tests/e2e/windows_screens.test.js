'use strict';
// Windows on two screens: display ids, positions on a chosen screen (in points and in
// pixels), full screen on a chosen screen, and bringing back windows that are off every
// screen. The screens are RandR outputs of a VNC X server:
//   A (primary) 1280 x 800 at 0,0;  B 1024 x 600 at 1280,200 (its top 200 below A's).
const { test, describe, before } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

const SCREENS = [{ x: 0, y: 0, w: 1280, h: 800 }, { x: 1280, y: 200, w: 1024, h: 600 }];
const skip = h.needs([['Xvnc', 'tigervnc-standalone-server'], ['xprop', 'x11-utils'], ['xwininfo', 'x11-utils'], ['xrandr', 'x11-xserver-utils']]);

async function session(display, env) {
  const s = await h.startSession({ display, args: ['Main'], env });
  await h.hello(s.backend);
  return s;
}

const open = (b, display, id, size = '300x150', wm = true) => h.openProbeWindow(b, display, id, { size, wm });

const frameIs = (display, id, want, what) => h.untilValue(() => h.frameGeometry(display, id),
  (g) => Object.entries(want).every(([k, v]) => g[k] === v), what || JSON.stringify(want));

const winstate = h.expectWinstate;

describe('with a window manager', { skip }, () => {
  const { x } = h.setUp({ screens: SCREENS, windowManager: true });
  let A;
  let B;
  before(async () => { [A, B] = await h.randrMonitors(x.display); });

  test('display ids are the RandR output ids; WINSTATE follows a window to the other screen', async () => {
    assert.notEqual(A.id, B.id);
    const s = await session(x.display);
    try {
      const b = s.backend;
      await winstate(b, 'main', { screenId: A.id });
      await open(b, x.display, 'w');
      await winstate(b, 'w', { screenId: A.id });
      b.send('WINOP@w pos 1400 300');
      await winstate(b, 'w', { screenId: B.id });
      // Mostly on A again, though still touching B.
      b.send('WINOP@w pos 1100 300');
      await winstate(b, 'w', { screenId: A.id });
    } finally {
      await s.close();
    }
  });

  test('pos is relative to the first screen, spos to the chosen one; malformed ones do nothing', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'p');
      const cases = [
        ['pos 1400 300', 1400, 300],
        [`spos ${B.id} 100 50`, 1380, 250],
        // One pixel per point here.
        [`spos ${B.id} 100 50 px`, 1380, 250],
        [`spos ${A.id} 10 20`, 10, 20],
        [`spos ${B.id} 0 0 pt`, 1280, 200],
        [`spos ${A.id} 30.5 40.25`, 31, 40],
      ];
      for (const [verb, fx, fy] of cases) {
        b.send(`WINOP@p ${verb}`);
        await frameIs(x.display, w.id, { x: fx, y: fy }, `${verb}: frame at ${fx},${fy}`);
      }
      // None of these moves the window; the SIZE after them shows they were handled.
      for (const bad of [`spos ${B.id} 7`, 'spos 999999 5 5', 'spos -1 5 5', `spos x ${B.id} 5 5`]) b.send(`WINOP@p ${bad}`);
      b.send('SIZE@p 310 150');
      await h.untilValue(() => h.xwininfo(x.display, w.id), (c) => c.width === 310, 'content 310 wide');
      const g = await h.frameGeometry(x.display, w.id);
      assert.deepEqual([g.x, g.y], cases[cases.length - 1].slice(1));
    } finally {
      await s.close();
    }
  });

  test('fsscreen makes a window full screen on the chosen screen, and moves it from one to the other', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'fs');
      const fills = (m) => ({ x: m.x, y: m.y, w: m.w, h: m.h });

      b.send(`WINOP@fs fsscreen ${B.id}`);
      await winstate(b, 'fs', { fullscreen: true, screenId: B.id });
      await frameIs(x.display, w.id, fills(B), 'full screen on B');

      // Leaves full screen on B, then enters it on A.
      b.send(`WINOP@fs fsscreen ${A.id}`);
      await winstate(b, 'fs', { fullscreen: false });
      await winstate(b, 'fs', { fullscreen: true, screenId: A.id });
      await frameIs(x.display, w.id, fills(A), 'full screen on A');

      // Already there: nothing to do; an unknown screen: nothing either.
      b.send(`WINOP@fs fsscreen ${A.id}`);
      b.send('WINOP@fs fsscreen 999999');
      b.send('WINOP@fs ontop 1');
      await h.untilValue(() => h.netWmState(x.display, w.id), (st) => st.includes('ABOVE'), 'above');
      assert.ok((await h.netWmState(x.display, w.id)).includes('FULLSCREEN'));
      await b.sync('fs');
      const last = b.lines.filter((l) => l.startsWith('WINSTATE fs ')).pop();
      assert.deepEqual(JSON.parse(last.slice(12)), { fullscreen: true, maximized: false, minimized: false, focused: true, screenId: A.id });

      // Back out, the window sits centred on A, where full screen put it.
      b.send('WINOP@fs fullscreen 0');
      // The window manager may place it in steps: wait for where it ends.
      const centred = (f) => Math.abs(f.x + f.w / 2 - A.w / 2) <= 1 && Math.abs(f.y + f.h / 2 - A.h / 2) <= 1;
      const g = await h.untilValue(() => h.frameGeometry(x.display, w.id), (f) => f.w < A.w && centred(f),
        'out of full screen, centred on A');
      assert.ok(centred(g), JSON.stringify(g));
    } finally {
      await s.close();
    }
  });

  test('a hidden window moved to the other screen reports its new screen then, and not again when shown', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'hw');
      await winstate(b, 'hw', { screenId: A.id });
      b.send('WINOP@hw hidewin');
      await h.untilValue(() => h.xwininfo(x.display, w.id).then((i) => i.mapped), (m) => m === false, 'hidden');
      b.send('WINOP@hw pos 1400 300');
      await winstate(b, 'hw', { screenId: B.id });
      await b.sync();
      const shown = b.lines.length;
      b.send('WINOP@hw show 0');
      await frameIs(x.display, w.id, { x: 1400, y: 300 }, 'shown on B');
      b.send('WINOP@hw ontop 1');
      await h.untilValue(() => h.netWmState(x.display, w.id), (st) => st.includes('ABOVE'), 'above');
      await b.sync('hw');
      // Shown without the focus, nothing about it has changed.
      assert.deepEqual(b.lines.slice(shown).filter((l) => l.startsWith('WINSTATE hw ')), []);
    } finally {
      await s.close();
    }
  });

  test('fsscreen requests made while the window is still leaving full screen are each carried out in turn', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'fq');
      b.send(`WINOP@fq fsscreen ${B.id}`);
      await winstate(b, 'fq', { fullscreen: true, screenId: B.id });
      // Both while the window is on its way out of full screen on B: first A, then B again.
      b.send(`WINOP@fq fsscreen ${A.id}`);
      b.send(`WINOP@fq fsscreen ${B.id}`);
      await winstate(b, 'fq', { fullscreen: true, screenId: A.id });
      await winstate(b, 'fq', { fullscreen: true, screenId: B.id });
      await frameIs(x.display, w.id, { x: B.x, y: B.y, w: B.w, h: B.h }, 'full screen on B, as last asked');
    } finally {
      await s.close();
    }
  });
});

// Without a window manager windows go exactly where they are put, off screen too.
describe('without a window manager', { skip }, () => {
  const { x } = h.setUp({ screens: SCREENS });
  let B;
  before(async () => { [, B] = await h.randrMonitors(x.display); });

  test('onscreen brings a window that is off every screen back onto the nearest one', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'r', '300x150', false);
      // The frames below are the page and the menu bar above it.
      const bar = await h.measureMenuBar(b, x.display, w.id, 'r');
      // [frame size, put at, expected after "onscreen"]
      const cases = [
        // In the strip above B that no screen covers: down to B's top.
        ['300x150', [1500, 10], [1500, 200]],
        // Right of every screen: against B's right edge.
        ['300x150', [2500, 300], [2004, 300]],
        // Left of A: against A's left edge.
        ['300x150', [-500, 300], [0, 300]],
        // Below B: its bottom on B's bottom.
        ['300x150', [1500, 900], [1500, 650]],
        // A 24 x 24 piece still shows on A: left alone. One pixel less: brought back.
        ['300x150', [-276, 300], [-276, 300]],
        ['300x150', [-277, 300], [0, 300]],
        ['300x150', [400, -126], [400, -126]],
        ['300x150', [400, -127], [400, 0]],
        // Taller than B, wholly below or above it: its top at B's top.
        ['300x700', [1500, 850], [1500, 200]],
        ['300x700', [1500, -800], [1500, 200]],
      ];
      for (const [size, at, want] of cases) {
        const [cw, ch] = size.split('x').map(Number);
        // One frame change at a time, each seen by the host before the next.
        b.send(`SIZE@r ${cw} ${ch - bar}`);
        await frameIs(x.display, w.id, { w: cw, h: ch }, `${size}`);
        await b.sync('r');
        b.send(`WINOP@r pos ${at[0]} ${at[1]}`);
        await frameIs(x.display, w.id, { x: at[0], y: at[1], w: cw, h: ch }, `${size} put at ${at}`);
        await b.sync('r');
        b.send('WINOP@r onscreen');
        // A later resize keeps whatever top-left corner the rescue gave.
        b.send(`SIZE@r ${cw + 1} ${ch - bar}`);
        await frameIs(x.display, w.id, { w: cw + 1 }, 'resized');
        const g = await h.frameGeometry(x.display, w.id);
        assert.deepEqual([g.x, g.y], want, `${size} at ${at}`);
      }
    } finally {
      await s.close();
    }
  });

  test('at a scale of two, pixel positions and sizes are device pixels', async () => {
    const s = await session(x.display, { GDK_SCALE: '2' });
    try {
      const b = s.backend;
      const w = await open(b, x.display, 'px', '200x100', false);
      const bar = await h.measureMenuBar(b, x.display, w.id, 'px');
      assert.deepEqual(await h.xwininfo(x.display, w.id).then((c) => [c.width, c.height - bar]), [400, 200]);
      const cases = [
        // Points are two pixels here.
        [`spos ${B.id} 100 50`, { x: 1280 + 200, y: 200 + 100 }],
        [`spos ${B.id} 100 50 px`, { x: 1280 + 100, y: 200 + 50 }],
        ['pos 100 60', { x: 200, y: 120 }],
        ['pxsize 300 160', { x: 200, y: 120, w: 300, h: 160 + bar }],
      ];
      for (const [verb, want] of cases) {
        b.send(`WINOP@px ${verb}`);
        await frameIs(x.display, w.id, want, `${verb}: ${JSON.stringify(want)}`);
      }
    } finally {
      await s.close();
    }
  });
});

// The first screen need not sit at the X root's origin: here it is the right one.
describe('with the first screen right of the root origin', { skip }, () => {
  const { x } = h.setUp({ screens: [{ x: 0, y: 0, w: 1024, h: 600 }, { x: 1024, y: 0, w: 1280, h: 800 }], windowManager: true });
  let A;
  before(async () => {
    const ms = await h.randrMonitors(x.display);
    A = ms.find((m) => m.x === 1024);
    await h.xrun(x.display, 'xrandr', ['--output', A.name, '--primary']);
    await h.untilValue(() => h.xrun(x.display, 'xrandr', ['--listmonitors']), (l) => /\*\S+ 1280\//.test(l), 'the right screen primary');
  });

  test('a new window opens centred on the first screen; pos counts from that screen', async () => {
    const s = await session(x.display);
    try {
      const b = s.backend;
      await winstate(b, 'main', { screenId: A.id });
      const w = await open(b, x.display, 'c', '300x150');
      const g = await h.frameGeometry(x.display, w.id);
      assert.ok(Math.abs(g.x + g.w / 2 - (A.x + A.w / 2)) <= 1 && Math.abs(g.y + g.h / 2 - (A.y + A.h / 2)) <= 1,
        `centred on the first screen: ${JSON.stringify(g)}`);
      b.send('WINOP@c pos 10 20');
      await frameIs(x.display, w.id, { x: A.x + 10, y: 20 });
    } finally {
      await s.close();
    }
  });
});
