'use strict';
// DRAGOUT on the real host: files dragged out of a window onto another program's
// window (tests/e2e/tools/drop_target), the drag image as the X server shows it.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const h = require('./harness');

// Built with the host; a host built on its own (a sanitizer build) uses the one of the
// main build.
const TARGET = [path.dirname(h.HOST_BIN), path.join(h.ROOT, 'build')].map((d) => path.join(d, 'tests', 'drop_target'))
  .find((p) => fs.existsSync(p)) || path.join(path.dirname(h.HOST_BIN), 'tests', 'drop_target');
const skip = h.needs([['xdotool', 'xdotool'], ['xprop', 'x11-utils'], ['xwininfo', 'x11-utils'], ['convert', 'imagemagick'],
  [TARGET, 'built with the host']]);

const { x, dir: files } = h.setUp({ skip, dir: 'qbx-drag-' });

const xd = (...args) => h.xrun(x.display, 'xdotool', args.map(String));

// n files with distinct names (in a folder of their own) and their URIs.
function makeFiles(n, name = `set${Math.random().toString(36).slice(2, 8)}`) {
  const dir = path.join(files, name);
  fs.mkdirSync(dir);
  const paths = [];
  for (let i = 0; i < n; i++) {
    const p = path.join(dir, `file ${i}.txt`);
    fs.writeFileSync(p, String(i));
    paths.push(p);
  }
  return { paths, uris: paths.map((p) => 'file://' + p.split('/').map(encodeURIComponent).join('/')) };
}

function png(file, w, h2) {
  execFileSync('convert', ['-size', `${w}x${h2}`, 'xc:red', 'png:' + file]);
  return file;
}

// The drag images the X server shows: mapped top-levels of the drag-icon type.
async function dragIcons() {
  const tree = await h.xrun(x.display, 'xwininfo', ['-root', '-children']);
  const icons = [];
  for (const m of tree.matchAll(/^\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)\+-?\d+\+-?\d+/gm)) {
    const type = await h.xprop(x.display, m[1], '_NET_WM_WINDOW_TYPE').catch(() => '');
    if (!/_NET_WM_WINDOW_TYPE_DND/.test(type)) continue;
    if (!(await h.xwininfo(x.display, m[1]).catch(() => ({}))).mapped) continue;
    icons.push({ w: Number(m[2]), h: Number(m[3]) });
  }
  return icons;
}
const dragIcon = async () => (await dragIcons())[0] || null;

// Another program's window that takes drops, right of the host's window.
async function startTarget() {
  const t = await h.startTool(TARGET, ['Target', '700', '0', '300', '200'], x.display, 'the drop target on screen');
  t.drops = () => t.lines.filter((l) => l.startsWith('{')).map((l) => JSON.parse(l).uris);
  return t;
}

// A host with a window "src" at the top-left corner and a drop target beside it.
async function setup() {
  const s = await h.mainSession(x.display);
  const f = new Array(12).fill('');
  [f[6], f[7]] = ['0', '0'];
  const w = await h.openProbeWindow(s.backend, x.display, 'src', { more: f, wm: false });
  s.src = await h.xwininfo(x.display, w.id);
  s.backend.eval("document.addEventListener('mousedown', () => probe.report('down', {}))", 'src');
  await s.backend.sync('src');
  s.target = await startTarget();
  return s;
}

async function teardown(s) {
  await xd('mouseup', 1).catch(() => {});
  s.target.stop();
  await s.close();
}

// Presses on the page, sends the DRAGOUT lines once the page has the press (as a
// backend does), runs `during` while the button is still down over the page, then
// drags onto the target and drops. Resolves with the URI lists dropped.
async function dragOut(s, lines, during = async () => {}) {
  const b = s.backend;
  const before = s.target.drops().length;
  const overs = s.target.lines.filter((l) => l === 'over').length;
  await xd('mousemove', s.src.x + 50, s.src.y + 50, 'mousedown', 1);
  try {
    await b.expectReport('down');
    for (const l of lines) b.send(l);
    await b.sync('src');
    await during();
    // Motion drives the drag: across to the target, then nudges until it has seen the
    // drag, then the drop.
    for (let px = s.src.x + 50; px < 760; px += 60) await xd('mousemove', px, 60 + (px % 7));
    await h.until(async () => {
      await xd('mousemove', 760, 80, 'mousemove', 770, 90);
      return s.target.lines.filter((l) => l === 'over').length > overs;
    }, 'the drag over the target');
    await xd('mousemove', 780, 100);
  } finally {
    await xd('mouseup', 1);
  }
  await h.until(() => s.target.drops().length > before, 'the drop');
  return s.target.drops().slice(before);
}

const line = (icon, paths) => 'DRAGOUT@src ' + [icon, ...paths].join('\t');

test('a drag carries every file however many, drawing eight at most, the icon on the first', { skip }, async () => {
  const s = await setup();
  try {
    const icons = path.join(files, 'icons');
    fs.mkdirSync(icons);
    // [files, icon, the drag image's size]: 32-point file icons 4 points apart; the icon's
    // own size on the first item, scaled to 160 at most.
    const cases = [
      [1, '', [32, 32]],
      [3, '', [40, 40]],
      [9000, '', [60, 60]],
      [3, png(path.join(icons, 'small.png'), 100, 80), [100, 80]],
      [20000, png(path.join(icons, 'wide.png'), 400, 200), [160, 80]],
      [2, path.join(icons, 'missing.png'), [36, 36]],
    ];
    for (const [n, icon, [w, ht]] of cases) {
      const { paths, uris } = makeFiles(n);
      const what = `${n} files, icon ${path.basename(icon) || 'none'}`;
      const drops = await dragOut(s, [line(icon, paths)], async () => {
        await h.untilValue(dragIcon, (g) => g && g.w === w && g.h === ht, `${what}: a ${w}x${ht} drag image`);
      });
      assert.equal(drops.length, 1, what);
      assert.equal(drops[0].length, n, `${what}: every file dropped`);
      assert.deepEqual(drops[0], uris, `${what}: the files in order`);
    }
    assert.equal(s.host.exited, null);
  } finally {
    await teardown(s);
  }
});

test('a second drag started while the first is going keeps its own files', { skip }, async () => {
  const s = await setup();
  try {
    const first = makeFiles(2);
    const second = makeFiles(3);
    // Only the second drag's image stays (3 files: 40 x 40); the first one's does not
    // linger where the drag started.
    const drops = await dragOut(s, [line('', first.paths), line('', second.paths)], () => h.untilValue(dragIcons,
      (icons) => icons.length === 1 && icons[0].w === 40, 'the second drag\'s image alone'));
    assert.deepEqual(drops, [second.uris]);
    // And the window still starts drags of its own afterwards.
    const third = makeFiles(1);
    assert.deepEqual(await dragOut(s, [line('', third.paths)]), [third.uris]);
  } finally {
    await teardown(s);
  }
});

test('an icon file that takes its time to read holds up nothing; the image shows it once read', { skip }, async () => {
  const s = await setup();
  const fifo = path.join(files, 'slow.png');
  execFileSync('mkfifo', [fifo]);
  try {
    const { paths, uris } = makeFiles(3);
    const drops = await dragOut(s, [line(fifo, paths)], async () => {
      // Nothing has written the icon yet, and the host answers its page all the same.
      await s.backend.sync('src');
      await h.untilValue(dragIcon, (g) => g && g.w === 40 && g.h === 40, 'the files\' own icons meanwhile');
      // Written once the host reads (opening without a reader fails instead of waiting).
      const data = fs.readFileSync(png(path.join(files, 'late.png'), 90, 70));
      const fd = await h.until(() => {
        try { return fs.openSync(fifo, fs.constants.O_WRONLY | fs.constants.O_NONBLOCK); } catch (e) { return null; }
      }, 'the host reading the icon');
      fs.writeSync(fd, data);
      fs.closeSync(fd);
      await h.untilValue(dragIcon, (g) => g && g.w === 90 && g.h === 70, 'the icon once read');
    });
    assert.deepEqual(drops, [uris]);
  } finally {
    await teardown(s);
  }
});
