'use strict';
// The media proxy on the real host: pages fetch remote media through the host's own
// "quib-media" scheme, with the exact bytes, working ranges and permissive headers,
// only from trusted origins and only from web addresses; a request the page drops
// stops the upstream transfer. Camera and microphone requests follow the trust list
// for every document of the page.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const http = require('node:http');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();
let server;
let base;
const BODY = crypto.randomBytes(300000);
const sha = (buf) => crypto.createHash('sha256').update(buf).digest('hex');
const seen = [];     // requests the server got: {url, range, ua, cookie, encoding}
const dropped = [];  // slow bodies whose client went away before the end
const stalled = [];  // requests never answered: {closed}

before(async () => {
  server = http.createServer((req, res) => {
    seen.push({ url: req.url, range: req.headers.range, ua: req.headers['user-agent'], cookie: req.headers.cookie,
      encoding: req.headers['accept-encoding'] });
    if (req.url.startsWith('/file.bin')) {
      const m = /^bytes=(\d+)-(\d*)$/.exec(req.headers.range || '');
      if (m) {
        const from = Number(m[1]);
        const to = m[2] ? Number(m[2]) : BODY.length - 1;
        res.writeHead(206, { 'content-type': 'application/octet-stream', 'content-length': to - from + 1,
          'content-range': `bytes ${from}-${to}/${BODY.length}`, 'accept-ranges': 'bytes',
          'access-control-allow-origin': 'https://only.example' });
        res.end(BODY.subarray(from, to + 1));
      } else {
        res.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': BODY.length,
          'accept-ranges': 'bytes' });
        res.end(BODY);
      }
    } else if (req.url === '/live.mp3') {
      // A live stream: no length announced.
      res.writeHead(200, { 'content-type': 'audio/mpeg', 'transfer-encoding': 'chunked' });
      res.end(BODY.subarray(0, 1000));
    } else if (req.url === '/slow.bin') {
      res.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': 50 * 1024 * 1024 });
      let sent = 0;
      const timer = setInterval(() => {
        if (sent >= 50 * 1024 * 1024) { clearInterval(timer); res.end(); return; }
        res.write(Buffer.alloc(64 * 1024));
        sent += 64 * 1024;
      }, 20);
      res.on('close', () => {
        clearInterval(timer);
        if (sent < 50 * 1024 * 1024) dropped.push(sent);
      });
    } else if (req.url === '/page.html') {
      res.writeHead(200, { 'content-type': 'text/html' });
      res.end('<!doctype html><meta charset="utf-8"><title>web</title><script src="probe.js"></script>');
    } else if (req.url === '/stall.bin') {
      // Never answers; the test watches when the proxy gives up the connection.
      const entry = { closed: false };
      stalled.push(entry);
      req.socket.on('close', () => { entry.closed = true; });
    } else if (req.url === '/frame.html') {
      // Asks for the microphone when its parent says so, and tells the parent how it went.
      res.writeHead(200, { 'content-type': 'text/html' });
      res.end(`<!doctype html><script>addEventListener('message', () => navigator.mediaDevices
        .getUserMedia({ audio: true })
        .then((s) => parent.postMessage({ ok: true, tracks: s.getTracks().length }, '*'),
              (e) => parent.postMessage({ ok: false, error: String(e) }, '*')));</script>`);
    } else if (req.url === '/probe.js') {
      res.writeHead(200, { 'content-type': 'text/javascript' });
      res.end(require('node:fs').readFileSync(path.join(h.PAGES, 'probe.js')));
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  base = `http://127.0.0.1:${server.address().port}`;
});
after(() => {
  server.closeAllConnections();
  server.close();
});

async function session(t, opts = {}) {
  const s = await h.startSession({ display: x.display, ...opts });
  t.after(() => s.close());
  await h.hello(s.backend);
  return s;
}

// Fetches through the proxy in the page; reports status, a digest of the body and some headers.
async function pageFetch(b, url, headers = {}) {
  const tag = 'f' + Math.random().toString(36).slice(2);
  b.eval(`(async () => {
    try {
      const r = await fetch(quib.proxyURL(${JSON.stringify(url)}), { headers: ${JSON.stringify(headers)} });
      const buf = new Uint8Array(await r.arrayBuffer());
      const d = await crypto.subtle.digest('SHA-256', buf);
      const hex = Array.from(new Uint8Array(d), (b) => b.toString(16).padStart(2, '0')).join('');
      const hs = {};
      for (const k of ['content-type', 'content-length', 'content-range', 'access-control-allow-origin',
        'content-security-policy', 'transfer-encoding', 'accept-ranges']) hs[k] = r.headers.get(k);
      probe.report('${tag}', { ok: true, status: r.status, sha: hex, length: buf.length, headers: hs });
    } catch (e) {
      probe.report('${tag}', { ok: false, error: String(e) });
    }
  })()`);
  return b.expectReport(tag);
}

test('a file page fetches remote bytes exactly, and ranges work', async (t) => {
  const s = await session(t);
  const b = s.backend;
  const whole = await pageFetch(b, `${base}/file.bin`);
  assert.equal(whole.ok, true, whole.error);
  assert.equal(whole.status, 200);
  assert.equal(whole.sha, sha(BODY));
  assert.equal(whole.headers['access-control-allow-origin'], '*');
  assert.equal(whole.headers['content-security-policy'], 'sandbox');
  const part = await pageFetch(b, `${base}/file.bin`, { Range: 'bytes=1000-1999' });
  assert.equal(part.status, 206);
  assert.equal(part.sha, sha(BODY.subarray(1000, 2000)));
  assert.equal(part.headers['content-range'], `bytes 1000-1999/${BODY.length}`);
  assert.equal(part.headers['access-control-allow-origin'], '*', 'the upstream value never reaches the page');
  const sent = seen.filter((r) => r.url === '/file.bin');
  assert.equal(sent[sent.length - 1].range, 'bytes=1000-1999');
  assert.equal(sent[sent.length - 1].cookie, undefined);
  assert.ok(!/gzip|deflate|br/.test(sent[sent.length - 1].encoding || ''), 'no content decoding asked for');
});

test('a live stream gets a finite length and no range headers', async (t) => {
  const s = await session(t);
  const r = await pageFetch(s.backend, `${base}/live.mp3`);
  assert.equal(r.ok, true, r.error);
  assert.equal(r.headers['content-type'], 'audio/mpeg');
  assert.equal(r.headers['content-length'], '1099511627776');
  assert.equal(r.headers['transfer-encoding'], null);
  assert.equal(r.length, 1000);
});

test('only trusted origins, and only web addresses, go through', async (t) => {
  const s = await session(t, { page: `${base}/page.html` });
  const b = s.backend;
  const refused = await pageFetch(b, `${base}/file.bin`);
  assert.equal(refused.ok, false);
  await h.until(() => /quib-media proxy refused for http:\/\/127\.0\.0\.1:\d+ \(not trusted/.test(s.host.stderr),
    'the refusal on stderr');

  const trusted = await session(t, { page: `${base}/page.html`, env: { QUIBEX_MEDIA_ORIGINS: `proxy ${base}` } });
  const ok = await pageFetch(trusted.backend, `${base}/file.bin`);
  assert.equal(ok.ok, true, ok.error);
  assert.equal(ok.sha, sha(BODY));
  for (const target of ['file:///etc/passwd', 'ftp://127.0.0.1/x', 'not a url']) {
    const bad = await pageFetch(trusted.backend, target);
    assert.equal(bad.ok, false, target);
  }
  assert.ok(!seen.some((r) => r.url.includes('passwd')));
});

test('a fetch the page gives up stops the upstream transfer', async (t) => {
  const s = await session(t);
  const b = s.backend;
  const before = dropped.length;
  b.eval(`(async () => {
    const c = new AbortController();
    const r = await fetch(quib.proxyURL('${base}/slow.bin'), { signal: c.signal });
    const reader = r.body.getReader();
    await reader.read();
    c.abort();
    probe.report('aborted', {});
  })().catch(() => probe.report('aborted', {}))`);
  await b.expectReport('aborted');
  await h.until(() => dropped.length > before, 'the upstream connection closed early');
  assert.ok(dropped[dropped.length - 1] < 50 * 1024 * 1024);
});

test('a request the page drops before the upstream answers closes the upstream connection', async (t) => {
  const b = (await session(t)).backend;
  const url = JSON.stringify(`${base}/stall.bin`);
  const ways = [
    ['an aborted fetch', `window.drop = new AbortController();
      fetch(quib.proxyURL(${url}), { signal: drop.signal }).catch(() => {});`, 'drop.abort()'],
    ['a media element losing its source', `window.au = new Audio(quib.proxyURL(${url}));
      au.play().catch(() => {});`, 'au.removeAttribute("src"); au.load();'],
  ];
  for (const [way, start, stop] of ways) {
    const at = stalled.length;
    b.eval(start);
    await h.until(() => stalled.length > at, `${way}: the upstream request`);
    b.eval(stop);
    await h.until(() => stalled.slice(at).every((r) => r.closed), `${way}: the upstream connection closed`);
  }
});

test('an untrusted frame inside a trusted page is asked, not granted, the microphone', async (t) => {
  const local = base.replace('127.0.0.1', 'localhost');
  const s = await session(t, { page: `${base}/page.html`,
    env: { QUIBEX_TEST_MOCK_CAPTURE: '1', QUIBEX_MEDIA_ORIGINS: `microphone ${base}` } });
  const b = s.backend;
  // Adds a frame allowed to ask for the microphone, lets it ask, and reports the answer.
  const ask = (tag, src) => b.eval(`(() => {
    const f = document.createElement('iframe');
    f.allow = 'microphone';
    f.src = ${JSON.stringify(src)};
    f.onload = () => f.contentWindow.postMessage('ask', '*');
    addEventListener('message', (e) => { if (e.source === f.contentWindow) probe.report('${tag}', e.data); });
    document.body.append(f);
  })()`);
  ask('trusted', `${base}/frame.html`);
  const trusted = await b.expectReport('trusted');
  assert.equal(trusted.ok, true, trusted.error);
  ask('untrusted', `${local}/frame.html`);
  const first = await Promise.race([
    h.findWindow(x.display, 'Microphone').then(() => 'asked'),
    b.expectReport('untrusted').then((r) => 'answered ' + JSON.stringify(r)),
  ]);
  assert.equal(first, 'asked');
});
