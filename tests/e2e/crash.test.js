'use strict';
// A page whose web process dies: the backend hears NAV "crash", and RELOAD, EVAL
// and a navigation bring the page back with a working bridge.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');
const n = require('./nav_support');

const { x, web } = h.setUp({ more: { web: () => n.site() } });

async function session(t, page) {
  const dir = h.tempDir();
  const home = n.desktopHome(dir);
  const s = await h.startSession({ display: x.display, page, env: home.env });
  t.after(() => s.close());
  n.answerNavq(s.backend, 'allow');
  await h.hello(s.backend);
  return { ...s, b: s.backend };
}

// Kills every web process of the host (the main window's page is the only page).
async function killPages(host) {
  const pids = await h.until(() => { const p = n.webProcesses(host.proc.pid); return p.length ? p : null; },
    'a web process');
  for (const pid of pids) process.kill(pid, 'SIGKILL');
}

test('a killed page is reported as a crash, and RELOAD brings it back with a working bridge', async (t) => {
  const page = web.url('/probe.html');
  const { b, host } = await session(t, page);
  // A call still waiting when the page dies.
  b.eval("quib.api.call('waits.forever').catch(() => {})");
  const waiting = await b.expectCall('waits.forever');
  n.skipSeen(b);
  await killPages(host);
  assert.deepEqual(await n.expectNav(b, (e) => e.kind === 'crash'), { window: 'main', kind: 'crash', url: page });
  // Its answer has nowhere to go and harms nothing.
  b.send(`RET ${waiting.id} 0 {"late":true}`);

  b.send('RELOAD');
  await h.hello(b);
  await b.sync();
  const again = await (async () => { b.eval("probe.call('roundtrip', 'echo.me', {})"); return b.expectCall('echo.me'); })();
  b.send(`RET ${again.id} 0 {"back":true}`);
  assert.deepEqual((await b.expectReport('roundtrip')).value, { back: true });
  assert.equal(host.exited, null);
});

test('EVAL to a crashed page reloads it and runs there, in order', async (t) => {
  const { b, host } = await session(t, web.url('/probe.html?eval'));
  await killPages(host);
  await n.expectNav(b, (e) => e.kind === 'crash');
  b.eval("probe.report('first', {href: location.href})");
  b.eval("probe.report('second', {})");
  await h.hello(b);
  assert.equal((await b.expectReport('first')).href, web.url('/probe.html?eval'));
  await b.expectReport('second');
  const order = b.calls().filter((c) => c.method === 'report').map((c) => c.params.tag);
  assert.deepEqual(order.slice(-2), ['first', 'second']);
});

test('a navigation after a crash loads the new page with a working bridge', async (t) => {
  const { b, host } = await session(t, web.url('/probe.html'));
  await killPages(host);
  await n.expectNav(b, (e) => e.kind === 'crash');
  b.eval("location.href = '/probe.html?after-crash'");
  // The page comes back first, then the script navigates it.
  await h.hello(b);
  await h.hello(b);
  assert.ok(web.saw('/probe.html?after-crash'));
  b.eval("probe.report('where', {href: location.href})");
  assert.equal((await b.expectReport('where')).href, web.url('/probe.html?after-crash'));
});

test('a file page comes back on RELOAD after its process died', async (t) => {
  const { b, host } = await session(t, 'probe.html');
  await killPages(host);
  const crash = await n.expectNav(b, (e) => e.kind === 'crash');
  assert.match(crash.url, /^file:\/\/.*probe\.html$/);
  b.send('RELOAD');
  await h.hello(b);
  await b.sync();
});

test('PDF of a page whose process died answers an error and leaves no file; after RELOAD it prints', async (t) => {
  const { b, host, dir } = await session(t, web.url('/probe.html'));
  await killPages(host);
  await n.expectNav(b, (e) => e.kind === 'crash');
  const file = path.join(dir, 'after.pdf');
  b.send(`PDF 1 ${h.wireEscape(file)}`);
  assert.deepEqual(JSON.parse((await b.expectLine(/^GOT 1 (.*)$/))[1]), { ok: false, error: 'no document' });
  assert.deepEqual(fs.readdirSync(dir).filter((f) => f.includes('pdf')), []);
  b.send('RELOAD');
  await h.hello(b);
  b.send(`PDF 2 ${h.wireEscape(file)}`);
  assert.equal(JSON.parse((await b.expectLine(/^GOT 2 (.*)$/))[1]).ok, true);
});
