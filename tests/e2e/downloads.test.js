'use strict';
// Downloads and file drops on the real host: pages served from a local HTTP
// server start downloads that land in the downloads folder named by a private
// XDG configuration, with their DOWNLOAD events; a cut transfer fails; the ask
// mode's save panel is answered by the test auto-dialog; files dragged from
// another program onto the page reach the backend as DROP before the page's own
// drop event.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const h = require('./harness');

const SOURCE = [path.dirname(h.HOST_BIN), path.join(h.ROOT, 'build')].map((d) => path.join(d, 'tests', 'drag_source'))
  .find((p) => fs.existsSync(p)) || path.join(path.dirname(h.HOST_BIN), 'tests', 'drag_source');
const skip = h.needs([['xdotool', 'xdotool']]);
const skipDrop = h.needs([['xdotool', 'xdotool'], [SOURCE, 'built with the host']]);

// Bytes that differ from one offset to the next, so a shifted or cut file shows.
const body = (size) => Buffer.from(Array.from({ length: size }, (_, i) => (i * 7 + (i >> 8)) % 251));

// /probe.html and /probe.js; /dl/NAME?size=N[&cd=DISPOSITION][&type=MIME] a
// download (an attachment, by default of a type no page can show);
// /slow?size=N&chunks=K the same in K pieces 150 ms apart;
// /cut announces 100000 bytes and breaks off after 1000.
function startServer() {
  const server = http.createServer((req, res) => {
    const u = new URL(req.url, 'http://x');
    const size = Number(u.searchParams.get('size') || 1000);
    if (u.pathname === '/probe.html' || u.pathname === '/probe.js') {
      res.writeHead(200, { 'content-type': u.pathname.endsWith('.html') ? 'text/html' : 'text/javascript' });
      res.end(fs.readFileSync(path.join(h.PAGES, u.pathname.slice(1))));
    } else if (u.pathname.startsWith('/dl/')) {
      const type = u.searchParams.get('type') || 'application/octet-stream';
      const headers = { 'content-type': type, 'content-length': size };
      headers['content-disposition'] = u.searchParams.get('cd') || 'attachment';
      res.writeHead(200, headers);
      res.end(body(size));
    } else if (u.pathname === '/slow') {
      const chunks = Number(u.searchParams.get('chunks'));
      const data = body(size);
      res.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': size,
        'content-disposition': 'attachment; filename="slow.bin"' });
      let i = 0;
      const step = () => {
        const end = Math.round(size * (i + 1) / chunks);
        res.write(data.subarray(Math.round(size * i / chunks), end));
        if (++i < chunks) setTimeout(step, 150); else res.end();
      };
      step();
    } else if (u.pathname === '/cut') {
      res.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': 100000,
        'content-disposition': 'attachment; filename="cut.bin"' });
      res.write(body(1000));
      setTimeout(() => res.socket.destroy(), 300);
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}`,
    close: () => { server.closeAllConnections(); server.close(); },
  })));
}

const { x, srv } = h.setUp({ skip, windowManager: true, more: { srv: startServer } });

// A host on the served probe page with a home, configuration and working folder
// of its own; with xdg, the user directories name s.dl as the downloads folder.
async function session(t, { env = {}, xdg = true } = {}) {
  const dir = h.tempDir('qbx-dl-');
  const home = path.join(dir, 'home');
  const config = path.join(dir, 'config');
  const work = path.join(dir, 'work');
  for (const f of [home, config, work]) fs.mkdirSync(f);
  const dl = xdg ? path.join(dir, 'my downloads') : path.join(home, 'Downloads');
  if (xdg) {
    fs.mkdirSync(dl);
    fs.writeFileSync(path.join(config, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${dl}"\n`);
  }
  const s = await h.startSession({
    display: x.display, page: srv.url + '/probe.html', args: ['Main'], cwd: work,
    env: { HOME: home, XDG_CONFIG_HOME: config, ...env },
  });
  t.after(async () => { await s.close(); h.removeDir(dir); });
  await h.hello(s.backend);
  Object.assign(s, { dir, dl, work });
  return s;
}

// Starts a download from the page; resolves with its DOWNLOAD events up to the
// one in `last` (a state), parsed.
async function download(s, url, last = ['done', 'failed', 'denied', 'cancelled']) {
  const b = s.backend;
  b.eval(`location.href = ${JSON.stringify(url)}`);
  const first = await nextEvent(b, () => true);
  const events = [first];
  while (!last.includes(events[events.length - 1].state)) events.push(await nextEvent(b, (e) => e.id === first.id));
  return events;
}
// The first and the last event of a download.
const ends = (events) => [events[0], events[events.length - 1]];
async function nextEvent(b, where) {
  const line = await b.expectLine((l) => l.startsWith('DOWNLOAD ') && where(JSON.parse(l.slice(9))));
  return JSON.parse(line.slice(9));
}

test('downloads land in the XDG downloads folder with their bytes and never replace a file', { skip }, async (t) => {
  const s = await session(t);
  const url = srv.url + '/dl/data.bin?size=300000';
  const [start, done] = ends(await download(s, url));
  assert.deepEqual(start, { id: 1, url, filename: 'data.bin', path: path.join(s.dl, 'data.bin'), state: 'started' });
  assert.deepEqual(done, { ...start, state: 'done' });
  assert.deepEqual(fs.readFileSync(start.path), body(300000));

  // The same name again, while the first is there.
  const again = ends(await download(s, url));
  assert.deepEqual(again.map((e) => [e.id, e.filename, e.state]),
    [[2, 'data (2).bin', 'started'], [2, 'data (2).bin', 'done']]);
  assert.deepEqual(fs.readFileSync(path.join(s.dl, 'data.bin')), body(300000));
  assert.deepEqual(fs.readFileSync(path.join(s.dl, 'data (2).bin')), body(300000));

  // The server's name wins over the URL's.
  const cd = encodeURIComponent('attachment; filename="report.pdf"');
  const named = await download(s, srv.url + '/dl/x?size=10&cd=' + cd);
  assert.equal(named[0].filename, 'report.pdf');
  assert.deepEqual(fs.readFileSync(path.join(s.dl, 'report.pdf')), body(10));

  // A name without extension takes the one the desktop prefers for its type; twice
  // the same name without extension: a number without extension.
  const typed = [['/dl/archive?size=3&type=application/zip', 'archive.zip'],
    ['/dl/blob?size=3&type=application/x-quibex-unknown', 'blob'],
    ['/dl/blob?size=3&type=application/x-quibex-unknown', 'blob (2)']];
  for (const [u, name] of typed) assert.equal((await download(s, srv.url + u))[0].filename, name, u);
});

test('a hostile or overlong suggested name stays inside the downloads folder', { skip }, async (t) => {
  const s = await session(t);
  const names = ['../../escape.txt', '..', '/tmp/abs.txt', '..\\..\\win.txt', 'a\u0001b.txt',
    'a'.repeat(10000) + '.pdf', '\u00e9'.repeat(1000) + '.txt'];
  for (const name of names) {
    const cd = `attachment; filename*=UTF-8''${encodeURIComponent(name)}`;
    const events = await download(s, srv.url + '/dl/h?size=5&cd=' + encodeURIComponent(cd));
    const started = events[0];
    assert.equal(started.state, 'started', name);
    assert.equal(path.dirname(started.path), s.dl, name);
    const f = started.filename;
    assert.ok(!['.', '..', ''].includes(f) && !/[/\u0000-\u001f]/.test(f), f);
    assert.ok(Buffer.byteLength(f) <= 255 && path.extname(f) === path.extname(name), f);
    assert.equal(events[events.length - 1].state, 'done', name);
    assert.deepEqual(fs.readFileSync(started.path), body(5));
  }
  // Nothing was written next to the folder or above it.
  assert.deepEqual(fs.readdirSync(s.dir).sort(), ['config', 'home', 'my downloads', 'work']);
});

test('a slow download reports progress, and a cut one fails and is never done', { skip }, async (t) => {
  const s = await session(t);
  const slow = await download(s, srv.url + '/slow?size=400000&chunks=8');
  assert.equal(slow[0].state, 'started');
  assert.equal(slow[slow.length - 1].state, 'done');
  const progress = slow.slice(1, -1);
  assert.ok(progress.length >= 1, 'progress events');
  for (const p of progress) {
    assert.equal(p.state, 'progress');
    assert.equal(p.total, 400000);
    assert.ok(p.bytes > 0 && p.bytes <= 400000, `bytes ${p.bytes}`);
  }
  assert.deepEqual(progress.map((p) => p.bytes), progress.map((p) => p.bytes).sort((a, b) => a - b));
  assert.deepEqual(fs.readFileSync(slow[0].path), body(400000));

  const cut = await download(s, srv.url + '/cut');
  const end = cut[cut.length - 1];
  assert.equal(end.state, 'failed');
  assert.equal(typeof end.error, 'string');
  assert.ok(end.error.length > 0);
  await s.backend.sync();
  assert.ok(!s.backend.lines.some((l) => l.startsWith('DOWNLOAD ') && JSON.parse(l.slice(9)).id === end.id &&
    JSON.parse(l.slice(9)).state === 'done'), 'no "done" after the failure');
});

test('deny refuses every download yet each takes an id; nothing is written', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_DOWNLOADS: 'deny' } });
  const a = await download(s, srv.url + '/dl/a.bin?size=10');
  const b = await download(s, srv.url + '/dl/b.bin?size=10');
  assert.deepEqual(a, [{ id: 1, url: srv.url + '/dl/a.bin?size=10', filename: 'a.bin', path: null, state: 'denied' }]);
  assert.deepEqual(b.map((e) => [e.id, e.state]), [[2, 'denied']]);
  await s.backend.sync();
  assert.deepEqual(fs.readdirSync(s.dl), []);
});

test('ask: the save panel, answered by the auto-dialog, decides where the file goes', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_DOWNLOADS: 'ask', QUIBEX_TEST_AUTODLG: 'ok' } });
  const [start, done] = ends(await download(s, srv.url + '/dl/asked.bin?size=2000'));
  assert.equal(start.state, 'started');
  assert.equal(start.filename, 'asked.bin');
  // The panel opens in the downloads folder, so accepting its proposal saves there.
  assert.equal(start.path, path.join(s.dl, 'asked.bin'));
  assert.equal(done.state, 'done');
  assert.deepEqual(fs.readFileSync(start.path), body(2000));
  fs.rmSync(start.path);
});

test('ask: a dismissed save panel cancels the download', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_DOWNLOADS: 'ask', QUIBEX_TEST_AUTODLG: 'cancel' } });
  const url = srv.url + '/dl/nope.bin?size=10';
  assert.deepEqual(await download(s, url), [{ id: 1, url, filename: 'nope.bin', path: null, state: 'cancelled' }]);
  const next = await download(s, url);
  assert.deepEqual(next.map((e) => [e.id, e.state]), [[2, 'cancelled']]);
});

test('without XDG user directories downloads go to ~/Downloads, made when missing', { skip }, async (t) => {
  const s = await session(t, { xdg: false });
  const [start, done] = ends(await download(s, srv.url + '/dl/home.bin?size=64'));
  assert.equal(start.path, path.join(s.dir, 'home', 'Downloads', 'home.bin'));
  assert.equal(done.state, 'done');
  assert.deepEqual(fs.readFileSync(start.path), body(64));
});

// ---------------------------------------------------------------- drops

// Another program's window, top right, that drags what it was given.
const startSource = (args) => h.startTool(SOURCE, ['Source', '980', '0', '280', '200', ...args], x.display,
  'the drag source on screen');

const xd = (...args) => h.xrun(x.display, 'xdotool', args.map(String));
const isReport = (line, tag) => {
  const c = h.parseCall(line);
  return !!(c && c.method === 'report' && c.params && c.params.tag === tag);
};

// Drags from the source onto the middle of the main window's page and drops
// once the page has seen the drag.
async function dragOnto(s, src, title = 'Main', win = 'main') {
  const geo = await xd('getwindowgeometry', '--shell', (await h.findWindow(x.display, title)).id);
  const g = Object.fromEntries(geo.trim().split('\n').map((l) => l.split('=')));
  const tx = Number(g.X) + Math.round(Number(g.WIDTH) / 2);
  const ty = Number(g.Y) + Math.round(Number(g.HEIGHT) / 2);
  await xd('mousemove', 1120, 100, 'mousedown', 1);
  try {
    for (let i = 1; i <= 8; i++) {
      await xd('mousemove', 1120 + Math.round((tx - 1120) * i / 8), 100 + Math.round((ty - 100) * i / 8));
    }
    await h.until(async () => {
      await xd('mousemove', tx + 3, ty + 2, 'mousemove', tx, ty);
      return s.backend.lines.some((l) => isReport(l, 'over') && h.parseCall(l).win === win);
    }, 'the drag over the page');
  } finally {
    await xd('mouseup', 1);
  }
  await h.until(() => src.lines.includes('end'), 'the end of the drag');
}

// The page takes drops itself and reports them (and the first dragover).
const PAGE_DROPS = `
  let over = false;
  document.addEventListener('dragover', (e) => { e.preventDefault();
    if (!over) { over = true; probe.report('over', {}); } });
  document.addEventListener('drop', (e) => { e.preventDefault();
    probe.report('page-drop',
      {types: Array.from(e.dataTransfer.types), text: e.dataTransfer.getData('text/plain')}); });`;

test('files dropped onto the page reach the backend as one DROP, before the page\'s own drop', { skip: skipDrop },
  async (t) => {
    const s = await session(t);
    const files = ['one file.txt', 'two "quoted" ü.png'].map((n) => path.join(s.work, n));
    for (const f of files) fs.writeFileSync(f, 'x');
    const src = await startSource(files.map((f) => 'file://' + f.split('/').map(encodeURIComponent).join('/')));
    t.after(() => src.stop());
    s.backend.eval(PAGE_DROPS);
    await s.backend.sync();
    await dragOnto(s, src);
    const report = await s.backend.expectReport('page-drop');
    assert.ok(report.types.includes('text/uri-list'), 'the page got the drag\'s own data');
    const drops = s.backend.lines.filter((l) => l.startsWith('DROP '));
    assert.deepEqual(drops.map((l) => JSON.parse(l.slice(5))), [files]);
    const at = (pred) => s.backend.lines.findIndex(pred);
    assert.ok(at((l) => l.startsWith('DROP ')) < at((l) => isReport(l, 'page-drop')), 'DROP first');
  });

test('a drop of text only sends no DROP and leaves the drop to the page', { skip: skipDrop }, async (t) => {
  const s = await session(t);
  const src = await startSource(['--text', 'just words']);
  t.after(() => src.stop());
  s.backend.eval(PAGE_DROPS);
  await s.backend.sync();
  await dragOnto(s, src);
  const report = await s.backend.expectReport('page-drop');
  assert.equal(report.text, 'just words');
  await s.backend.sync();
  assert.deepEqual(s.backend.lines.filter((l) => l.startsWith('DROP ')), []);
});

test('a window the backend opened takes file drops as well', { skip: skipDrop }, async (t) => {
  const s = await session(t);
  await h.openProbeWindow(s.backend, x.display, 'second', { title: 'Second', size: '400x300' });
  const file = path.join(s.work, 'dropped.txt');
  fs.writeFileSync(file, 'x');
  const src = await startSource(['file://' + file]);
  t.after(() => src.stop());
  s.backend.eval(PAGE_DROPS, 'second');
  await s.backend.sync('second');
  await dragOnto(s, src, 'Second', 'second');
  await s.backend.expectCall('report', (c) => c.win === 'second' && c.params.tag === 'page-drop');
  assert.deepEqual(s.backend.lines.filter((l) => l.startsWith('DROP ')), [`DROP ${JSON.stringify([file])}`]);
});

test('files are taken even by a page that refuses the drag', { skip: skipDrop }, async (t) => {
  const s = await session(t);
  const file = path.join(s.work, 'refused.txt');
  fs.writeFileSync(file, 'x');
  const src = await startSource(['file://' + file]);
  t.after(() => src.stop());
  s.backend.eval(`
    let over = false;
    document.addEventListener('dragover', (e) => { e.preventDefault(); e.dataTransfer.dropEffect = 'none';
      if (!over) { over = true; probe.report('over', {}); } });
    document.addEventListener('drop', (e) => { e.preventDefault(); probe.report('page-drop', {}); });`);
  await s.backend.sync();
  await dragOnto(s, src);
  await s.backend.expectLine((l) => l === `DROP ${JSON.stringify([file])}`);
});
