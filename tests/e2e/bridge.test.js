'use strict';
// Page calls, answers, backend requests and script evaluation through a real page.
const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

// One host for the tests that need only a running page.
let shared;
async function page() {
  if (!shared) {
    shared = await h.startSession({ display: x.display, args: ['Shared Probe'] });
    await h.hello(shared.backend);
  }
  return shared.backend;
}
after(async () => { if (shared) await shared.close(); });

test('client.hello arrives from the main window with the page origin', async (t) => {
  const site = await h.serve(h.PAGES);
  t.after(() => site.close());
  const cases = [
    ['file page, absolute path', { page: 'probe.html' }, 'file://'],
    ['file page, path relative to the working directory', { page: 'pages/probe.html', cwd: __dirname }, 'file://'],
    ['http page', { page: site.url + '/probe.html' }, 'http://127.0.0.1:' + site.port],
  ];
  for (const [name, opts, origin] of cases) {
    const s = await h.startSession({ display: x.display, ...opts });
    try {
      const c = await s.backend.expectCall('client.hello');
      assert.match(c.id, /^main:\d+$/, name);
      assert.equal(c.text, '{"method":"client.hello"}', name);
      assert.deepEqual(c.array, ['{"method":"client.hello"}', origin], name);
    } finally {
      await s.close();
    }
  }
});

// Serves the test pages on host:port (0: any free port) with extra response headers.
function servePages({ host = '127.0.0.1', port = 0, headers = {} } = {}) {
  const server = http.createServer((req, res) => {
    const name = path.basename(decodeURIComponent(req.url.split('?')[0]));
    fs.readFile(path.join(h.PAGES, name), (err, data) => {
      if (err) { res.writeHead(404); res.end(); return; }
      const type = name.endsWith('.html') ? 'text/html' : 'text/javascript';
      res.writeHead(200, { 'content-type': type + '; charset=utf-8', ...headers });
      res.end(data);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => resolve({
      url: `http://${host}:${server.address().port}`, close: () => server.close(),
    }));
  });
}

// The origin the hello of the session's first document (or, with `open`, of the
// document that script opens in its place) carries.
async function helloOrigin(opts, open) {
  const s = await h.startSession({ display: x.display, ...opts });
  try {
    if (!open) return (await s.backend.expectCall('client.hello')).origin;
    await h.hello(s.backend);
    s.backend.eval(open);
    return (await s.backend.expectCall('client.hello')).origin;
  } finally {
    await s.close();
  }
}

test('every document reports its own security origin', async (t) => {
  const site = await servePages();
  t.after(() => site.close());
  const sandboxed = await servePages({ headers: { 'content-security-policy': 'sandbox allow-scripts' } });
  t.after(() => sandboxed.close());
  const own = 'http://127.0.0.1:' + site.url.split(':').pop();
  const blob = "location.href = URL.createObjectURL(new Blob(['<p>blob</p>'], {type: 'text/html'}))";
  const cases = [
    // [name, session options, script that opens the next document, origin]
    ['http on another port', { page: site.url + '/probe.html' }, null, own],
    ['opaque origin', { page: sandboxed.url + '/probe.html' }, null, 'null'],
    ['blob made by an http page', { page: site.url + '/probe.html' }, blob, own],
    ['blob made by a file page', { page: 'probe.html' }, blob, 'file://'],
    ['about:blank that inherits its opener\'s origin', { page: site.url + '/probe.html' },
      "window.open('about:blank', '_self')", own],
  ];
  for (const [name, opts, open, origin] of cases) assert.equal(await helloOrigin(opts, open), origin, name);
});

test('an http page on its default port reports no port', async (t) => {
  // Port 80 on an address of its own, so parallel runs do not meet.
  const host = `127.${1 + (process.pid % 250)}.${Math.floor(Math.random() * 250)}.${2 + Math.floor(Math.random() * 250)}`;
  let site;
  try {
    site = await servePages({ host, port: 80 });
  } catch (e) {
    t.skip('cannot listen on port 80: ' + e.code);
    return;
  }
  t.after(() => site.close());
  assert.equal(await helloOrigin({ page: site.url + '/probe.html' }), 'http://' + host);
});

test('an answer settles the promise of its call', async () => {
  const b = await page();
  const long = 'x'.repeat(200000);
  const cases = [
    // [name, status, payload, expected report]
    ['object', '0', '{"x":[1,2],"s":"a b"}', { ok: true, value: { x: [1, 2], s: 'a b' } }],
    ['array', '0', '[1,"two",null]', { ok: true, value: [1, 'two', null] }],
    ['quotes, backslashes, unicode', '0', '{"s":"q\\"b\\\\c ✓ é \\u2028 </script>"}',
      { ok: true, value: { s: 'q"b\\c ✓ é \u2028 </script>' } }],
    ['status 1 rejects with the value', '1', '{"error":"nope"}', { ok: false, value: { error: 'nope' } }],
    ['negative status rejects', '-3', '"bad"', { ok: false, value: 'bad' }],
    ['invalid JSON resolves null', '0', 'not json {', { ok: true, value: null }],
    ['invalid JSON rejects null', '2', '{broken', { ok: false, value: null }],
    ['empty payload resolves null', '0', '', { ok: true, value: null }],
  ];
  for (const [name, status, payload, want] of cases) {
    const tag = 'settle-' + name;
    b.eval(`probe.call(${JSON.stringify(tag)}, 'probe.ask', {case: ${JSON.stringify(name)}})`);
    const c = await b.expectCall('probe.ask', (c) => c.params.case === name);
    assert.match(c.id, /^main:\d+$/);
    b.send(`RET ${c.id} ${status} ${payload}`);
    const r = await b.expectReport(tag);
    assert.deepEqual({ ok: r.ok, value: r.value }, want, name);
  }

  b.eval(`probe.call('settle-long', 'probe.ask', {case: 'long'}, 'len')`);
  const c = await b.expectCall('probe.ask', (c) => c.params.case === 'long');
  b.send(`RET ${c.id} 0 {"s":"${long}"}`);
  const r = await b.expectReport('settle-long');
  assert.deepEqual({ ok: r.ok, len: r.len }, { ok: true, len: long.length + 8 });
});

test('concurrent calls are each answered with their own value, in any order', async () => {
  const b = await page();
  b.eval("for (let i = 0; i < 5; i++) probe.call('multi-' + i, 'probe.multi', {i})");
  const calls = [];
  for (let i = 0; i < 5; i++) calls.push(await b.expectCall('probe.multi', (c) => c.params.i === i));
  assert.equal(new Set(calls.map((c) => c.id)).size, 5);
  for (const c of [...calls].reverse()) b.send(`RET ${c.id} 0 {"i":${c.params.i * 10}}`);
  for (let i = 0; i < 5; i++) {
    const r = await b.expectReport('multi-' + i);
    assert.deepEqual(r.value, { i: i * 10 });
  }
});

test('answers written together settle the calls of one turn once each, in their order, in their own window', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    const b = s.backend;
    await h.hello(b);
    b.send('WINOPEN ' + ['w2', path.join(h.PAGES, 'probe.html'), 'W2', '300x150'].join('\t'));
    await h.hello(b, 'w2');
    const turn = `{ const order = [];
      const calls = [0, 1, 2].map((i) => quib.api.call('probe.turn', {i})
        .then((v) => order.push([i, true, v]), (v) => order.push([i, false, v])));
      Promise.all(calls).then(() => probe.report('turn', {win: quib.win.id, order})); }`;
    const calls = {};
    for (const win of ['main', 'w2']) {
      b.eval(turn, win);
      calls[win] = [];
      for (let i = 0; i < 3; i++) calls[win].push(await b.expectCall('probe.turn', (c) => c.win === win && c.params.i === i));
    }
    const ret = (win, i, status, v) => `RET ${calls[win][i].id} ${status} ${JSON.stringify(v)}\n`;
    b.sock.write(ret('w2', 1, 0, 'w2 one') + ret('main', 2, 0, 'main two') + ret('main', 0, 1, 'main zero') +
      ret('w2', 1, 0, 'again') + ret('w2', 2, 0, 'w2 two') + ret('main', 1, 0, 'main one') + ret('w2', 0, 0, 'w2 zero'));
    const reports = [await b.expectReport('turn'), await b.expectReport('turn')].sort((p, q) => (p.win < q.win ? -1 : 1));
    assert.deepEqual(reports.map((r) => r.order), [
      [[2, true, 'main two'], [0, false, 'main zero'], [1, true, 'main one']],
      [[1, true, 'w2 one'], [2, true, 'w2 two'], [0, true, 'w2 zero']],
    ]);
  } finally {
    await s.close();
  }
});

test('a malformed message of several calls is refused whole and the page goes on', async () => {
  const b = await page();
  const call = '{"method":"hostile"}'; // 20 UTF-16 units
  const bad = [`*1:20:${call}2:99:x`, `*1:21:${call}`, `*1:19:${call}`, `*x:20:${call}`, `*1:20:${call}*`,
    `*1:1:😀${call}`, `**1:20:${call}`, `*1:-20:${call}`, `*123456789012345678:20:${call}`];
  b.eval(`{ const q = window.webkit.messageHandlers.quib;
    for (const t of ${JSON.stringify(bad)}) q.postMessage(t); }`);
  await b.sync();
  assert.deepEqual(b.calls().filter((c) => c.method === 'hostile').map((c) => c.line), []);
  b.eval("probe.call('after-bad', 'probe.ask', {case: 'after-bad'})");
  const c = await b.expectCall('probe.ask', (c) => c.params.case === 'after-bad');
  b.send(`RET ${c.id} 0 "fine"`);
  assert.equal((await b.expectReport('after-bad')).value, 'fine');
});

test('only text posted to the handler becomes a call', async () => {
  const b = await page();
  // Each value would read as a well-formed call if it were turned into text.
  b.eval(`{ const q = window.webkit.messageHandlers.quib;
    const text = (k) => '77' + k + ':{"method":"not.text","params":{"kind":"' + k + '"}}';
    q.postMessage([text(1)]);
    q.postMessage({ toString: () => text(2) });
    q.postMessage(new String(text(3)));
    q.postMessage(text(4)); }`);
  const c = await b.expectCall('not.text');
  assert.deepEqual([c.id, c.params.kind], ['main:774', '4']);
  await b.sync();
  assert.deepEqual(b.calls().filter((x) => x.method === 'not.text').map((x) => x.params.kind), ['4']);
});

test('text that is not UTF-8 arrives with U+FFFD in place of each bad sequence', async () => {
  const b = await page();
  const raw = (...parts) => b.sock.write(Buffer.concat(parts.map((p) => (typeof p === 'string' ? Buffer.from(p) : Buffer.from(p)))));
  // An EVAL script and an answer holding bytes that are not UTF-8 still arrive.
  raw("EVAL probe.report('bad-eval', {s: 'x", [0xff, 0xc3], "y'})\n");
  assert.equal((await b.expectReport('bad-eval')).s, 'x\uFFFD\uFFFDy');
  b.eval("probe.call('bad-ret', 'probe.ask', {case: 'bad-utf8'})");
  const c = await b.expectCall('probe.ask', (c) => c.params.case === 'bad-utf8');
  raw(`RET ${c.id} 0 {"s":"a`, [0xed, 0xa0, 0x80], 'b"}\n');
  assert.deepEqual((await b.expectReport('bad-ret')).value, { s: 'a\uFFFD\uFFFD\uFFFDb' });
  // A page's text with a lone surrogate or a NUL reaches the backend whole.
  b.eval("window.webkit.messageHandlers.quib.postMessage('95:odd a\\uDC00b\\u0000c\\uD83D\\uDE00')");
  const line = await b.expectLine((l) => { const p = h.parseCall(l); return p && p.text.startsWith('odd '); });
  assert.equal(h.parseCall(line).text, 'odd a\uFFFDb\u0000c\u{1F600}');
});

test('a burst of 100000 calls made at once loses none and mixes up none', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    const b = s.backend;
    await h.hello(b);
    const N = 100000;
    const seen = new Set();
    let calls = 0;
    b.onLine = (line) => {
      const c = line.includes('\\"method\\":\\"burst\\"') && h.parseCall(line);
      if (!c) return false;
      calls++;
      seen.add(c.params.i);
      b.sock.write(`RET ${c.id} 0 {"i":${c.params.i}}\n`);
      return true;
    };
    b.eval(`(async () => {
      const calls = [];
      for (let i = 0; i < ${N}; i++) calls.push(quib.api.call('burst', {i}));
      const values = await Promise.all(calls);
      probe.report('burst', {n: values.length, wrong: values.filter((v, i) => !v || v.i !== i).length});
    })()`);
    assert.deepEqual(await b.expectReport('burst', 120000), { tag: 'burst', n: N, wrong: 0 });
    assert.deepEqual([calls, seen.size], [N, N]);
  } finally {
    await s.close();
  }
});

test('a backend request id gets its answer back as GOT, without the status', async () => {
  const b = await page();
  const cases = [
    ['RET q7 0 {"a":1}', 'GOT 7 {"a":1}'],
    ['RET q7 1 {"a":1}', 'GOT 7 {"a":1}'],
    ['RET q0012 0 [1, 2, "x y"]', 'GOT 0012 [1, 2, "x y"]'],
    ['RET q31 0 not json', 'GOT 31 not json'],
  ];
  for (const [line, want] of cases) {
    b.send(line);
    assert.equal((await b.expectLine(/^GOT .*/s))[0], want);
  }
  // Ids that are neither backend requests nor page calls are dropped.
  for (const line of ['RET q 0 {}', 'RET q12x 0 {}', 'RET qq1 0 {}', 'RET main: 0 {}', 'RET nosuch:1 0 {}']) b.send(line);
  b.send('RET q99 0 {"last":true}');
  assert.equal((await b.expectLine(/^GOT .*/s))[0], 'GOT 99 {"last":true}');
});

test('EVAL runs script in the main page; escapes are undone', async () => {
  const b = await page();
  b.eval("probe.report('eval-plain', {win: quib.win.id})");
  assert.equal((await b.expectReport('eval-plain')).win, 'main');

  // A backslash, a TAB and line breaks in the script must reach the page as they were.
  b.eval('{ const s1 = "x\\\\y";\nconst s2 = "a\tb";\r\nprobe.report("eval-escaped", {s1, s2}) }');
  const r = await b.expectReport('eval-escaped');
  assert.equal(r.s1, 'x\\y');
  assert.equal(r.s2, 'a\tb');

  b.eval("probe.report('eval-main', {})", 'main');
  await b.expectReport('eval-main');
  b.eval("probe.report('eval-all', {win: quib.win.id})", '*');
  assert.equal((await b.expectReport('eval-all')).win, 'main');
});

test('EVAL addressed to a window that does not exist runs nowhere', async () => {
  const b = await page();
  b.eval("probe.report('eval-nowhere', {})", 'nosuch');
  b.send("EVALprobe.report('eval-nowhere', {})"); // no space: not an EVAL
  await b.sync();
  await b.sync();
  assert.equal(b.calls().filter((c) => c.params && c.params.tag === 'eval-nowhere').length, 0);
});

test('a frame cannot make a call that is answered as the main page\'s', async () => {
  const s = await h.startSession({ display: x.display, page: 'frames.html' });
  try {
    const b = s.backend;
    await h.hello(b);
    const reports = [];
    for (let i = 0; i < 3; i++) reports.push(await b.expectReport('frame'));
    assert.deepEqual(reports.map((r) => r.name).sort(), ['data', 'file', 'srcdoc']);
    await b.sync();

    const evil = b.calls().filter((c) => c.method === 'evil' || /"evil"/.test(c.text || ''));
    for (const c of evil) {
      assert.ok(c.sub, 'a frame\'s attempt arrived as a main-frame call: ' + c.line);
      assert.equal(c.array.length, 3, c.line);
      assert.equal(c.array[1], 'quib:subframe', c.line);
      b.send(`RET ${c.id} 0 {"evil":true}`);
    }
    // Answers to the frames' ids settle none of the page's own calls.
    b.eval("probe.report('settled', {list: settled})");
    assert.deepEqual((await b.expectReport('settled')).list.filter((e) => e.v && e.v.evil), []);
  } finally {
    await s.close();
  }
});

test('an answer meant for a page that reloaded does not settle the new page\'s call', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    const b = s.backend;
    await h.hello(b);
    b.eval("probe.call('before-reload', 'probe.slow', {})");
    const old = await b.expectCall('probe.slow');
    b.eval('location.reload()');
    await h.hello(b);
    // The same call, made the same way, gets the same number inside the new page.
    b.eval("probe.call('after-reload', 'probe.slow', {})");
    const fresh = await b.expectCall('probe.slow');
    assert.notEqual(fresh.id, old.id, 'the host reused a call id within one window');
    b.send(`RET ${old.id} 0 {"stale":true}`);
    b.send(`RET ${fresh.id} 0 {"fresh":true}`);
    assert.deepEqual((await b.expectReport('after-reload')).value, { fresh: true });
  } finally {
    await s.close();
  }
});

test('a window closed and opened again under its id does not take the answers of the one before', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    const b = s.backend;
    await h.hello(b);
    const open = async () => {
      b.send('WINOPEN ' + ['w2', path.join(h.PAGES, 'probe.html'), 'W2', '300x150'].join('\t'));
      await h.hello(b, 'w2');
    };
    await open();
    b.eval("probe.call('before-close', 'probe.slow', {})", 'w2');
    const old = await b.expectCall('probe.slow', (c) => c.win === 'w2');
    b.send('WINCLOSE w2');
    await b.expectLine(/^WINCLOSED w2$/);
    await open();
    // The same calls in the same order give the new page the same numbers.
    b.eval("probe.call('after-reopen', 'probe.slow', {})", 'w2');
    const fresh = await b.expectCall('probe.slow', (c) => c.win === 'w2');
    assert.notEqual(fresh.id, old.id, 'the host reused a call id of the closed window');
    b.send(`RET ${old.id} 0 {"stale":true}`);
    b.send(`RET ${fresh.id} 0 {"fresh":true}`);
    assert.deepEqual((await b.expectReport('after-reopen')).value, { fresh: true });
  } finally {
    await s.close();
  }
});

test('a file page may read the files beside it', async () => {
  const b = await page();
  b.eval(`{ const q = new XMLHttpRequest();
    q.onload = () => probe.report('xhr', {text: q.responseText});
    q.onerror = () => probe.report('xhr', {error: true});
    q.open('GET', 'probe.js'); q.send(); }`);
  const r = await b.expectReport('xhr');
  assert.ok(!r.error, 'the request failed');
  assert.match(r.text, /window\.probe = /);
});

test('settings from the environment reach the page', async () => {
  const cases = [
    ['QUIBEX_INJECT adds a script after the page library',
      { QUIBEX_INJECT: "quib.api.call('injected', {quib: typeof window.quib})" },
      async (b) => assert.equal((await b.expectCall('injected')).params.quib, 'object')],
    ['QUIBEX_UA sets the user agent', { QUIBEX_UA: 'QuibexTest/1.0 (e2e)' },
      async (b) => {
        b.eval("probe.report('ua', {ua: navigator.userAgent})");
        assert.equal((await b.expectReport('ua')).ua, 'QuibexTest/1.0 (e2e)');
      }],
  ];
  for (const [name, env, check] of cases) {
    const s = await h.startSession({ display: x.display, env });
    try {
      await h.hello(s.backend);
      await check(s.backend);
    } catch (e) {
      e.message = name + ': ' + e.message;
      throw e;
    } finally {
      await s.close();
    }
  }
});

test('the window takes its title and size from the command line', async () => {
  const cases = [
    [['Probe One ✓', '800x600'], 'Probe One ✓', 800, 600],
    [['Probe Two', '700'], 'Probe Two', 700, 640],
    [['Probe Three', 'abc'], 'Probe Three', 960, 640],
    [[], 'quibex', 960, 640],
  ];
  for (const [args, title, width, height] of cases) {
    const s = await h.startSession({ display: x.display, args });
    try {
      await h.hello(s.backend);
      const w = await h.findWindow(x.display, title);
      // The page's size; the menu bar sits above it in the window.
      const bar = await h.measureMenuBar(s.backend, x.display, w.id);
      assert.deepEqual([w.width, w.height - bar], [width, height], `${args.join(' ')}`);
    } finally {
      await s.close();
    }
  }
});

test('TITLE renames the main window', async () => {
  const b = await page();
  b.send('TITLE Renamed ✓ by the backend');
  await h.findWindow(x.display, 'Renamed ✓ by the backend');
});

test('the page runs from a path holding spaces and non-ASCII letters', async () => {
  const dir = h.tempDir();
  const sub = path.join(dir, 'dossier é ü');
  fs.mkdirSync(sub);
  for (const f of ['probe.html', 'probe.js']) fs.copyFileSync(path.join(h.PAGES, f), path.join(sub, f));
  const s = await h.startSession({ display: x.display, page: path.join(sub, 'probe.html') });
  try {
    await h.hello(s.backend);
    s.backend.eval("probe.report('loc', {path: decodeURIComponent(location.pathname)})");
    assert.equal((await s.backend.expectReport('loc')).path, path.join(sub, 'probe.html'));
  } finally {
    await s.close();
    h.removeDir(dir);
  }
});
