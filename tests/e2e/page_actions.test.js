'use strict';
// Find in page, cookies, PDF export, print and reload through the real host.
const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const { x, site } = h.setUp({ windowManager: true, more: { site: () => h.serve(h.PAGES) } });

// One host showing the find page over http.
let shared;
async function session() {
  if (!shared) {
    shared = await h.startSession({ display: x.display, page: site.url + '/find.html', args: ['Actions'] });
    await h.hello(shared.backend);
  }
  return shared;
}
after(async () => { if (shared) await shared.close(); });

let nextId = 1;
// Sends a command whose answer is GOT <n> and returns the answer's JSON, parsed.
async function got(b, command, rest) {
  const n = nextId++;
  b.send(command.replace('@ID', String(n)) + (rest === undefined ? '' : rest));
  return b.answer(n);
}

test('FIND counts matches and names the selected one', async () => {
  const { backend: b } = await session();
  const cases = [
    ['ab', '', { found: true, matches: 4, activeMatch: 1 }],
    ['ab', '', { found: true, matches: 4, activeMatch: 2 }],
    ['ab', '', { found: true, matches: 4, activeMatch: 3 }],
    ['ab', '\t0', { found: true, matches: 4, activeMatch: 2 }],
    ['AB', '\t1\t1', { found: false, matches: 0, activeMatch: 0 }],
    ['aa', '', { found: true, matches: 2, activeMatch: 1 }],
    ['zzz', '', { found: false, matches: 0, activeMatch: 0 }],
    ['', '', { found: false }],
  ];
  for (const [text, more, want] of cases) {
    const n = nextId++;
    b.send(`FIND q${n} ${text}${more}`);
    const m = await b.expectLine(new RegExp('^GOT ' + n + ' (.*)$'));
    assert.deepEqual(JSON.parse(m[1]), want, `${text}${JSON.stringify(more)}`);
  }
});

test('a page call answered by FIND and STOPFIND settles in the page; the page cannot forge the count', async (t) => {
  const s = await h.startSession({ display: x.display, page: site.url + '/find.html', args: ['Tampered'] });
  t.after(() => s.close());
  const b = s.backend;
  await h.hello(b);
  // The page replaces what a count made in its own world would use.
  b.eval(String.raw`const js = JSON.stringify;
JSON.stringify = (v, ...r) => v && typeof v === 'object' && 'matches' in v
  ? '{"found":true,"matches":999,"activeMatch":7}\r\n' : js(v, ...r);
const io = String.prototype.indexOf;
String.prototype.indexOf = function (n, i) { return n === 'two' ? -1 : io.call(this, n, i); };
window.find = () => false; window.getSelection = () => null;
document.createTreeWalker = () => { throw new Error('no'); };
probe.report('tampered', {});`);
  await b.expectReport('tampered');
  b.eval("probe.call('f1', 'find.me', {})");
  const c = await b.expectCall('find.me');
  b.send(`FIND ${c.id} two`);
  const r = await b.expectReport('f1');
  assert.deepEqual(r, { tag: 'f1', ok: true, value: { found: true, matches: 1, activeMatch: 1 } });

  b.eval("probe.call('f2', 'stop.me', {})");
  const st = await b.expectCall('stop.me');
  b.send(`STOPFIND ${st.id}`);
  assert.deepEqual(await b.expectReport('f2'), { tag: 'f2', ok: true, value: true });
  // The selection is gone: the next search starts again from the top.
  b.send('FIND q500 ab');
  assert.deepEqual(JSON.parse((await b.expectLine(/^GOT 500 (.*)$/))[1]), { found: true, matches: 4, activeMatch: 1 });
});

test('FIND and STOPFIND for a window that does not exist still answer', async () => {
  const { backend: b } = await session();
  b.eval("probe.call('f3', 'find.none', {})");
  const c = await b.expectCall('find.none');
  b.send(`FIND nosuch:${c.id.split(':')[1]} ab`);
  b.send(`FIND ${c.id} `);
  assert.deepEqual(await b.expectReport('f3'), { tag: 'f3', ok: true, value: { found: false } });
  b.send('STOPFIND q77');
  await b.expectLine(/^GOT 77 true$/);
});

test('cookies set with every field come back from get, reach the page and are deleted', async () => {
  const { backend: b } = await session();
  const future = Date.now() + 3600 * 1000;
  assert.deepEqual(await got(b, 'COOKIES @ID ',
    ['set', 'seen', 'v 1', '127.0.0.1', '/', String(future), '0', '0', 'strict'].join('\t')), { ok: true });
  assert.deepEqual(await got(b, 'COOKIES @ID ',
    ['set', 'hidden', 'h', '127.0.0.1', '/', '', '1', '1', 'lax'].join('\t')), { ok: true });
  const all = (await got(b, 'COOKIES @ID ', 'get')).cookies;
  const seen = all.find((c) => c.name === 'seen');
  const hidden = all.find((c) => c.name === 'hidden');
  assert.ok(seen && hidden, JSON.stringify(all));
  assert.deepEqual(Object.keys(seen), ['name', 'value', 'domain', 'path', 'expires', 'secure', 'httpOnly', 'sameSite']);
  assert.equal(seen.value, 'v 1');
  assert.ok(Math.abs(seen.expires - future) < 1000, `${seen.expires} vs ${future}`);
  assert.deepEqual([seen.secure, seen.httpOnly, seen.sameSite], [false, false, 'strict']);
  assert.deepEqual([hidden.expires, hidden.secure, hidden.httpOnly, hidden.sameSite], [null, true, true, 'lax']);

  // The page sees its own cookie but not the http-only one; its own cookie shows in get.
  b.eval("document.cookie = 'mine=m1; path=/'; probe.report('jar', {c: document.cookie})");
  const jar = (await b.expectReport('jar')).c;
  assert.match(jar, /seen=v 1/);
  assert.doesNotMatch(jar, /hidden/);
  const mine = (await got(b, 'COOKIES @ID ', 'get')).cookies.find((c) => c.name === 'mine');
  assert.ok(mine);
  assert.equal(mine.value, 'm1');

  assert.deepEqual(await got(b, 'COOKIES @ID ', `delete\tseen\t${seen.domain}\t/`), { ok: true, removed: 1 });
  assert.deepEqual(await got(b, 'COOKIES @ID ', 'delete\tmine'), { ok: true, removed: 0 });
  const after = (await got(b, 'COOKIES @ID ', 'get')).cookies.map((c) => c.name);
  assert.ok(!after.includes('seen') && after.includes('hidden') && after.includes('mine'), after.join());
});

test('a cookie whose expiry is no number is refused, not dropped in silence', async () => {
  const { backend: b } = await session();
  for (const expiry of ['soon', '12abc', 'NaN', '1e400']) {
    assert.deepEqual(await got(b, 'COOKIES @ID ', ['set', 'bad', 'v', '127.0.0.1', '/', expiry].join('\t')),
      { ok: false, error: 'invalid cookie' }, expiry);
  }
  const names = (await got(b, 'COOKIES @ID ', 'get')).cookies.map((c) => c.name);
  assert.ok(!names.includes('bad'));
  assert.deepEqual(await got(b, 'COOKIES @ID ', 'eat'), { ok: false, error: 'bad cookies op' });
});

test('PDF writes a whole PDF file at the path, and nothing at all when it cannot', async () => {
  const { backend: b, dir } = await session();
  const out = path.join(dir, 'pdfs');
  fs.mkdirSync(out);
  const file = path.join(out, 'page one.pdf');
  fs.writeFileSync(file, 'old');
  assert.deepEqual(await got(b, 'PDF @ID ', h.wireEscape(file)), { ok: true, path: file, error: null });
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.subarray(0, 5).toString(), '%PDF-');
  assert.ok(bytes.length > 500);
  assert.deepEqual(fs.readdirSync(out), ['page one.pdf']);

  fs.mkdirSync(path.join(out, 'taken'));
  fs.writeFileSync(path.join(out, 'taken', 'x'), 'x');
  const cases = [
    [path.join(out, 'missing', 'a.pdf'), 'pdf write failed'],
    [path.join(out, 'taken'), 'pdf write failed'],
    [out + '/', 'pdf write failed'],
  ];
  for (const [p, error] of cases) {
    assert.deepEqual(await got(b, 'PDF @ID ', h.wireEscape(p)), { ok: false, error }, p);
  }
  assert.deepEqual(fs.readdirSync(out).sort(), ['page one.pdf', 'taken']);
  assert.deepEqual(await got(b, 'PDF@nosuch @ID ', h.wireEscape(file)), { ok: false, error: 'no webview' });
});

test('PDFs asked for at once are each written and answered, in order', async () => {
  const { backend: b, dir } = await session();
  const out = fs.mkdtempSync(path.join(dir, 'many-'));
  const ids = [];
  for (let i = 0; i < 5; i++) {
    ids.push(nextId++);
    b.send(`PDF ${ids[i]} ${h.wireEscape(path.join(out, i + '.pdf'))}`);
  }
  const answers = [];
  for (const id of ids) answers.push(await b.expectLine(new RegExp('^GOT ' + id + ' ')));
  const at = answers.map((m) => b.lines.indexOf(m.input));
  assert.deepEqual(at, [...at].sort((p, q) => p - q), 'answered in order');
  for (const m of answers) assert.equal(JSON.parse(m.input.slice(m[0].length)).ok, true, m.input);
  // The page is alive and prints again.
  assert.equal((await got(b, 'PDF @ID ', h.wireEscape(path.join(out, 'again.pdf')))).ok, true);
  assert.deepEqual(fs.readdirSync(out).sort(), ['0.pdf', '1.pdf', '2.pdf', '3.pdf', '4.pdf', 'again.pdf']);
});

test('PDF and PRINT of a window showing no document: an error answer, no dialog, no file', async (t) => {
  const s = await h.startSession({ display: x.display, page: site.url + '/find.html', args: ['Blank'] });
  t.after(() => s.close());
  const b = s.backend;
  await h.hello(b);
  b.send('WINOPEN w1\t\tNothing');
  const out = fs.mkdtempSync(path.join(s.dir, 'none-'));
  assert.deepEqual(await got(b, 'PDF@w1 @ID ', h.wireEscape(path.join(out, 'x.pdf'))), { ok: false, error: 'no document' });
  b.send('PRINT@w1');
  await b.sync();
  assert.deepEqual(fs.readdirSync(out), []);
  assert.ok(!(await h.windowTitles(x.display)).includes('Print'));
  assert.equal(s.host.exited, null);
});

test('RELOAD loads the main page again from the server', async (t) => {
  // Counts the requests for the page itself.
  const http = require('node:http');
  let hits = 0;
  const server = http.createServer((req, res) => {
    const name = path.basename(req.url.split('?')[0]);
    if (name === 'find.html') hits++;
    fs.readFile(path.join(h.PAGES, name), (err, data) => {
      if (err) { res.writeHead(404); res.end(); return; }
      res.writeHead(200, { 'content-type': (name.endsWith('.html') ? 'text/html' : 'text/javascript'),
        'cache-control': 'max-age=3600' });
      res.end(data);
    });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  t.after(() => server.close());
  const s = await h.startSession({ display: x.display,
    page: `http://127.0.0.1:${server.address().port}/find.html`, args: ['Reloaded'] });
  t.after(() => s.close());
  const b = s.backend;
  await h.hello(b);
  assert.equal(hits, 1);
  b.eval('window.before = 1');
  b.send('RELOAD');
  await h.hello(b);
  assert.equal(hits, 2);
  b.eval("probe.report('fresh', {before: typeof window.before})");
  assert.equal((await b.expectReport('fresh')).before, 'undefined');
});

test('RELOAD in windowless mode reloads every window; PRINT opens the print dialog', async (t) => {
  const s = await h.startSession({ display: x.display, args: ['Nobody'], env: { QUIBEX_NO_MAIN_WINDOW: '1' } });
  t.after(() => s.close());
  const b = s.backend;
  await h.openProbeWindow(b, x.display, 'w1', { title: 'One' });
  await h.openProbeWindow(b, x.display, 'w2', { title: 'Two' });
  b.send('RELOAD');
  await h.hello(b, 'w1');
  await h.hello(b, 'w2');

  b.send('PRINT@nosuch');
  b.send('PRINT');  // no main window here
  await b.sync('w1');
  assert.deepEqual((await h.windowTitles(x.display)).filter((n) => n === 'Print'), []);
  b.send('PRINT@w2');
  const dialog = await h.findWindow(x.display, 'Print');
  await h.xdotool(x.display, ['windowactivate', '--sync', dialog.id]);
  await h.xdotool(x.display, ['key', 'Escape']);
  await h.until(async () => !(await h.windowTitles(x.display)).includes('Print'), 'the print dialog to close');
  // The page still answers once its dialog is gone.
  await b.sync('w2');
  // A window closed under its open dialog takes the dialog with it.
  b.send('PRINT@w2');
  await h.findWindow(x.display, 'Print');
  b.send('WINCLOSE w2');
  await b.expectLine(/^WINCLOSED w2$/);
  await h.until(async () => !(await h.windowTitles(x.display)).includes('Print'), 'the print dialog to go');
  await b.sync('w1');
});
