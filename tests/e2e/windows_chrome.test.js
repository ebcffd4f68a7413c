'use strict';
// Window chrome on the real host under openbox: the title bar and its buttons as the
// window manager is told about them, transparency as it shows on screen, square corners.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

const skip = h.needs([['xprop', 'x11-utils'], ['xwininfo', 'x11-utils'], ['import', 'imagemagick']]);

// Motif function and decoration bits.
const FUNC = { resize: 2, move: 4, minimize: 8, maximize: 16, close: 32 };
const DECOR = { minimize: 32, maximize: 64 };

const { x } = h.setUp({ skip, windowManager: true });

const session = () => h.mainSession(x.display);

// WINOPEN with the seven chrome fields (f4..f9 and f13) and a position.
async function open(b, id, { size = '300x150', chrome = {}, pos = [100, 100] } = {}) {
  const f = new Array(12).fill('');
  [f[0], f[1], f[2], f[3], f[4], f[5], f[9]] = ['titlebar', 'buttons', 'transparent', 'material', 'square', 'firstMouse', 'traffic']
    .map((k) => chrome[k] || '');
  [f[6], f[7]] = pos.map(String);
  return h.openProbeWindow(b, x.display, id, { size, more: f });
}

// CHROME@id with the fields in their order; f6 is not read, the traffic position is f7.
function chrome(b, id, { titlebar = '', buttons = '', transparent = '', material = '', square = '', firstMouse = '', traffic = '' }) {
  const fields = [titlebar, buttons, transparent, material, square, firstMouse, '', traffic];
  while (fields.length && fields[fields.length - 1] === '') fields.pop();
  b.send((id === 'main' ? 'CHROME ' : `CHROME@${id} `) + fields.join('\t'));
}

const framed = (id, yes) => h.untilValue(() => h.frameGeometry(x.display, id), (g) => (g.extents.t > 0) === yes,
  yes ? 'a window-manager frame' : 'no window-manager frame');

// Waits for the frame (with or without decorations) at x, y around content of w x h; a
// window with a frame shows its menu bar above the page, inside the client window.
const settles = (id, decorated, [fx, fy, cw, ch], what) => h.untilValue(() => h.frameGeometry(x.display, id),
  (g) => (g.extents.t > 0) === decorated && g.x === fx && g.y === fy && g.client.width === cw &&
    g.client.height === ch + (decorated ? h.menuBar() : 0),
  `${what}: ${decorated ? 'framed' : 'no frame'}, at ${fx},${fy}, content ${cw}x${ch}`);

test('titlebar 0 takes the window manager\'s frame away; titlebar 1 brings it back', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    const w = await open(b, 'tb', { pos: [100, 100] });
    await framed(w.id, true);

    chrome(b, 'tb', { titlebar: '0' });
    await framed(w.id, false);
    assert.equal((await h.motifHints(x.display, w.id)).decorations, 0);
    // Other fields leave the title bar as it is.
    chrome(b, 'tb', { buttons: 'all', transparent: '0' });
    await b.sync('tb');
    assert.equal((await h.motifHints(x.display, w.id)).decorations, 0);

    chrome(b, 'tb', { titlebar: '1' });
    await framed(w.id, true);

    // From WINOPEN, and for the main window through the plain form.
    const open0 = await open(b, 'bare', { chrome: { titlebar: '0' } });
    await framed(open0.id, false);
    chrome(b, 'main', { titlebar: '0' });
    await framed(s.main.id, false);
    chrome(b, 'main', { titlebar: '1' });
    await framed(s.main.id, true);
  } finally {
    await s.close();
  }
});

test('buttons offer the window manager the close, minimise and maximise functions they name', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    const w = await open(b, 'bt');
    // [value, close, minimize, maximize]
    const cases = [
      ['none', false, false, false],
      ['all', true, true, true],
      ['close', true, false, false],
      ['close,maximize', true, false, true],
      ['minimize', false, true, false],
      ['everything', false, false, false],
      ['maximize close minimize', true, true, true],
    ];
    for (const [value, close, mini, maxi] of cases) {
      chrome(b, 'bt', { buttons: value });
      const want = (FUNC.close * close) | (FUNC.minimize * mini) | (FUNC.maximize * maxi);
      const m = await h.untilValue(() => h.motifHints(x.display, w.id),
        (hn) => (hn.functions & (FUNC.close | FUNC.minimize | FUNC.maximize)) === want, `buttons ${value}`);
      assert.equal(m.functions & (FUNC.move | FUNC.resize), FUNC.move | FUNC.resize, `buttons ${value}: still movable and resizable`);
      assert.equal(m.decorations & (DECOR.minimize | DECOR.maximize), (DECOR.minimize * mini) | (DECOR.maximize * maxi),
        `buttons ${value}: decorations`);
    }
    // Not resizable: no maximise, whatever the buttons say.
    b.send('WINOP@bt resizable 0');
    await h.untilValue(() => h.motifHints(x.display, w.id), (hn) => !(hn.functions & (FUNC.resize | FUNC.maximize)), 'no resize or maximise');
  } finally {
    await s.close();
  }
});

test('a transparent window shows no page background; material none keeps it so; opaque brings it back', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    const w = await open(b, 'tr', { pos: [700, 500] });
    const c = await h.xwininfo(x.display, w.id);
    // Every window gets a visual with an alpha channel, so transparency can come later.
    assert.equal(c.depth, 32);
    // An empty part of the page; without a compositor nothing painted there is black.
    const px = () => h.pixelAt(x.display, c.x + 250, c.y + 120);
    const colour = (rgb, what) => h.untilValue(px, (p) => p.join() === rgb.join(), what);
    const WHITE = [255, 255, 255];
    const BLACK = [0, 0, 0];
    await colour(WHITE, 'the page\'s white background');

    const steps = [
      [{ transparent: '1' }, BLACK],
      [{ material: 'none' }, BLACK],
      [{ transparent: '0' }, WHITE],
      [{ material: 'sidebar' }, WHITE],
      [{ material: 'none' }, WHITE],
    ];
    for (const [fields, rgb] of steps) {
      chrome(b, 'tr', fields);
      // Page round trip, then what the screen shows.
      await b.sync('tr');
      await colour(rgb, `${JSON.stringify(fields)} gives ${rgb}`);
    }

    const born = await open(b, 'born', { pos: [100, 500], chrome: { transparent: '1' } });
    const bc = await h.xwininfo(x.display, born.id);
    await h.untilValue(() => h.pixelAt(x.display, bc.x + 250, bc.y + 120), (p) => p.join() === BLACK.join(), 'transparent from WINOPEN');
  } finally {
    await s.close();
  }
});

test('square 1 on a window that is not resizable: borderless, held at its size, and made key', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    const w = await open(b, 'sq', { pos: [200, 100] });
    b.send('WINOP@sq resizable 0');
    await h.untilValue(() => h.sizeHints(x.display, w.id), (hn) => hn.max !== null, 'held at its size');
    b.send('WINOP show');
    await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(s.main.id), 'the main window key');

    chrome(b, 'sq', { square: '1' });
    await framed(w.id, false);
    await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(w.id), 'the square window key');
    const m = await h.motifHints(x.display, w.id);
    assert.equal(m.functions & FUNC.resize, 0);
    const held = await h.sizeHints(x.display, w.id);
    assert.ok(held.max && held.min.join() === held.max.join(), JSON.stringify(held));

    chrome(b, 'sq', { square: '0' });
    await framed(w.id, true);
    assert.ok(!(await h.allowedActions(x.display, w.id)).includes('RESIZE'), 'still not resizable');
    assert.ok((await h.allowedActions(x.display, w.id)).includes('CLOSE'));
  } finally {
    await s.close();
  }
});

test('the title bar and square corners come and go around a content of the same size and top edge', { skip }, async () => {
  const s = await session();
  try {
    const b = s.backend;
    const w = await open(b, 'keep', { pos: [100, 100] });
    await settles(w.id, true, [100, 100, 300, 150], 'opened');
    const steps = [
      [{ titlebar: '0' }, false], [{ titlebar: '1' }, true],
      [{ square: '1' }, false], [{ square: '0' }, true],
      [{ titlebar: '0' }, false], [{ titlebar: '1' }, true],
    ];
    for (const [fields, decorated] of steps) {
      chrome(b, 'keep', fields);
      await settles(w.id, decorated, [100, 100, 300, 150], JSON.stringify(fields));
      await b.sync('keep');
    }
  } finally {
    await s.close();
  }
});
