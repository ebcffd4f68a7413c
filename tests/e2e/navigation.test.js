'use strict';
// The navigation policy through a real page: NAVQ and NAVR, the 400 ms default,
// other schemes, sub-frames, the desktop's URL handler, and the NAV lines of loads.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');
const n = require('./nav_support');

const { x, web } = h.setUp({ more: { web: () => n.site() } });

// A host on the site's probe page; its first load is answered at once.
async function session(t, { page = '/probe.html', env = {} } = {}) {
  const dir = h.tempDir();
  const home = n.desktopHome(dir);
  const s = await h.startSession({ display: x.display, page: web.url(page), env: { ...home.env, ...env } });
  t.after(() => s.close());
  const first = await n.expectNavq(s.backend, (id, w, url) => url === web.url(page));
  s.backend.send(`NAVR ${first.id} allow`);
  await h.hello(s.backend);
  return { ...s, b: s.backend, home };
}

// The page navigates its main frame by script.
function go(b, where) { b.eval(`location.href = ${JSON.stringify(where)}`); }

test('a main-frame navigation asks first: allow loads it, deny and external never request it', async (t) => {
  const { b, home } = await session(t);

  go(b, '/probe.html?allow');
  const q = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?allow'));
  assert.equal(q.window, 'main');
  assert.equal(q.frame, 'main');
  assert.ok(!web.saw('/probe.html?allow'), 'nothing is requested before the answer');
  b.send(`NAVR ${q.id} allow`);
  await h.hello(b);
  assert.ok(web.saw('/probe.html?allow'));

  go(b, '/probe.html?deny');
  const d = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?deny'));
  b.send(`NAVR ${d.id} deny`);
  await h.sleep(300);
  await b.sync();
  assert.ok(!web.saw('/probe.html?deny'));

  go(b, '/probe.html?external');
  const e = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?external'));
  b.send(`NAVR ${e.id} external`);
  await h.until(() => home.opened().includes(web.url('/probe.html?external')), 'the desktop to open the URL');
  await b.sync();
  assert.ok(!web.saw('/probe.html?external'), 'the host itself never loads it');

  // Any other answer allows.
  go(b, '/probe.html?other');
  const o = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?other'));
  b.send(`NAVR ${o.id} whatever`);
  await h.hello(b);
});

test('silence allows a main-frame load after 400 ms; late, repeated and unknown answers do nothing', async (t) => {
  const { b, host } = await session(t);
  go(b, '/probe.html?silent');
  const q = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?silent'));
  const asked = performance.now();
  await h.hello(b);
  const waited = web.when('/probe.html?silent') - asked;
  assert.ok(waited >= 350 && waited < 2000, `the load waited ${waited.toFixed(0)} ms`);

  // The timer decided: a late answer, the same answer again and ids never asked change nothing.
  b.send(`NAVR ${q.id} deny`);
  b.send(`NAVR ${q.id} external`);
  b.send('NAVR n999999 deny');
  b.send('NAVR x deny');
  b.send('POPUPR p424242 deny');
  await b.sync();
  assert.equal(host.exited, null);
  assert.equal(n.event(b.lines.filter((l) => l.startsWith('NAV ')).pop() || '', 'NAV').kind, 'finish');
});

test('question ids count up and answers are matched by id', async (t) => {
  const { b } = await session(t);
  go(b, '/probe.html?a');
  const a = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?a'));
  b.send(`NAVR ${a.id} deny`);
  go(b, '/probe.html?b');
  const c = await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?b'));
  assert.equal(Number(c.id.slice(1)), Number(a.id.slice(1)) + 1);
  assert.match(a.id, /^n\d+$/);
  b.send(`NAVR ${c.id} allow`);
  await h.hello(b);
  assert.ok(!web.saw('/probe.html?a'));
});

test('another scheme is asked about; silence drops it, external hands it to the desktop', async (t) => {
  const { b, home } = await session(t);
  go(b, 'mailto:silent@example.com');
  const q = await n.expectNavq(b, (id, w, url) => url === 'mailto:silent@example.com');
  assert.equal(q.frame, 'main');
  await h.sleep(700);
  assert.deepEqual(home.opened(), [], 'silence opens nothing');

  go(b, 'mailto:open@example.com');
  const e = await n.expectNavq(b, (id, w, url) => url === 'mailto:open@example.com');
  b.send(`NAVR ${e.id} external`);
  await h.until(() => home.opened().includes('mailto:open@example.com'), 'the desktop to get the mail link');
  await b.sync();
});

test('sub-frames load without a question; another scheme in a sub-frame is asked with frame "sub"', async (t) => {
  const { b } = await session(t);
  const other = `http://localhost:${web.port}/probe.html?cross`;
  b.eval(`for (const src of ['/probe.html?same', ${JSON.stringify(other)}]) {
    const f = document.createElement('iframe'); f.src = src; document.body.appendChild(f); }`);
  await h.until(() => web.saw('/probe.html?same') && web.saw('/probe.html?cross'), 'the frames to load');
  await b.sync();
  assert.ok(!b.lines.some((l) => l.startsWith('NAVQ ') && /\?(same|cross)\t/.test(l)), 'frames are not asked about');

  // The same-origin frame navigates itself, then to a mail link.
  b.eval("frames[0].location.href = '/probe.html?inner'");
  await h.until(() => web.saw('/probe.html?inner'), 'the frame to navigate');
  b.eval("frames[0].location.href = 'mailto:frame@example.com'");
  const q = await n.expectNavq(b, (id, w, url) => url === 'mailto:frame@example.com');
  assert.equal(q.frame, 'sub');
  assert.equal(q.window, 'main');
  await b.sync();
  assert.ok(!b.lines.some((l) => l.startsWith('NAVQ ') && l.includes('?inner\t')));
});

// A page holding a frame. The main document's own navigations, however started,
// are asked as the main frame's before anything is requested; the frame's are not.
test('a page with a frame: the main document\'s navigations are asked as "main" before their request', async (t) => {
  const page = `/frames.html?src=/probe.html%3Fin&src=http://localhost:${web.port}/eval.html`;
  const { b } = await session(t, { page });
  await h.until(() => web.saw('/probe.html?in') && web.saw('/eval.html'), 'the frames');
  const nowhere = `http://127.0.0.1:${await n.closedPort()}/nowhere`;
  const link = (href) => `{ const a = document.createElement('a'); a.href = ${JSON.stringify(href)};
    document.body.appendChild(a); a.click(); }`;
  const form = (method, action) => `{ const f = document.createElement('form'); f.method = '${method}';
    f.action = '${action}'; f.innerHTML = '<input name="v" value="1">'; document.body.appendChild(f); f.submit(); }`;
  // [what, script, URL asked, path the server would see]
  const cases = [
    ['a link', link('/probe.html?link'), web.url('/probe.html?link'), '/probe.html?link'],
    ['location.href', "location.href = '/probe.html?href'", web.url('/probe.html?href'), '/probe.html?href'],
    ['location.replace', "location.replace('/probe.html?replace')", web.url('/probe.html?replace'), '/probe.html?replace'],
    ['a form', form('get', '/probe.html'), web.url('/probe.html?v=1'), '/probe.html?v=1'],
    ['a posted form', form('post', '/probe.html?post'), web.url('/probe.html?post'), '/probe.html?post'],
    ['an unreachable host', `location.href = '${nowhere}'`, nowhere, null],
    ['a mail link', link('mailto:link@example.com'), 'mailto:link@example.com', null],
  ];
  for (const [what, script, url, path] of cases) {
    b.eval(script);
    const q = await n.expectNavq(b, (id, w, u) => u === url);
    assert.equal(q.frame, 'main', what);
    assert.ok(!path || !web.saw(path), `${what}: requested before the answer`);
    b.send(`NAVR ${q.id} deny`);
  }
  await h.sleep(300);
  await b.sync();
  for (const [what, , , path] of cases) assert.ok(!path || !web.saw(path), `${what}: requested though denied`);

  // A frame of another origin navigating the page is asked about at the response;
  // the denied document never replaces the page, nor runs.
  b.eval(`frames[1].postMessage("top.location = '${web.url('/probe.html?top')}'", '*')`);
  const top = await n.expectNavq(b, (id, w, u) => u === web.url('/probe.html?top'));
  assert.equal(top.frame, 'main');
  const mark = b.lines.length;
  b.send(`NAVR ${top.id} deny`);
  await h.sleep(300);
  b.eval("probe.report('where', {href: location.href})");
  assert.equal((await b.expectReport('where')).href, web.url(page), 'the denied document replaced the page');
  assert.ok(!b.lines.slice(mark).map(h.parseCall).some((c) => c && c.method === 'client.hello'), 'the denied document ran');

  // The frame's own: web pages load without a question, other schemes are "sub".
  b.eval("frames[0].location.href = '/probe.html?inner'");
  await h.until(() => web.saw('/probe.html?inner'), 'the frame to navigate');
  b.eval("frames[0].location.href = 'mailto:frame@example.com'");
  assert.equal((await n.expectNavq(b, (id, w, u) => u === 'mailto:frame@example.com')).frame, 'sub');

  // What the page does with its own navigations never makes a frame's "main".
  const forged = [
    ['a cancelled navigation', (u) => `navigation.addEventListener('navigate', (e) => e.preventDefault(), {once: true});
      location.href = '${u}'; frames[0].location.href = '${u}';`],
    ['an intercepted navigation', (u) => `navigation.addEventListener('navigate', (e) => e.intercept(), {once: true});
      location.href = '${u}'; frames[0].location.href = '${u}';`],
    ['a pushed entry', (u) => `history.pushState(null, '', '${u}'); frames[0].location.href = '${u}';`],
  ];
  for (const [what, script] of forged) {
    const path = '/probe.html?' + what.replace(/ /g, '-');
    b.eval(script(path));
    await h.until(() => web.saw(path), `the frame's navigation after ${what}`);
  }
  b.eval(`{ const a = document.createElement('a'); a.href = 'mailto:forged@example.com';
    a.addEventListener('click', (e) => e.preventDefault()); document.body.appendChild(a); a.click();
    frames[0].location.href = 'mailto:forged@example.com'; }`);
  assert.equal((await n.expectNavq(b, (id, w, u) => u === 'mailto:forged@example.com')).frame, 'sub', 'a cancelled click');
  // Nor does a frame that keeps the web process too busy to answer about it.
  b.eval(`frames[0].eval("location.href = 'mailto:busy@example.com'; let k = 0; const id = setInterval(() => {"
    + "if (++k > 8) clearInterval(id); const t = Date.now(); while (Date.now() - t < 150); })")`);
  assert.equal((await n.expectNavq(b, (id, w, u) => u === 'mailto:busy@example.com')).frame, 'sub', 'a busy frame');
  await b.sync();
  const asked = b.lines.filter((l) => l.startsWith('NAVQ ') && /\?a-|\?an-/.test(l));
  assert.deepEqual(asked, [], 'a frame\'s navigation was asked as the page\'s');
});

test('NAV lines: a load, a redirect and a failed load, with no finish after a failure', async (t) => {
  const { b } = await session(t);
  const stop = n.answerNavq(b, 'allow');
  t.after(stop);
  await n.expectNav(b, (e) => e.kind === 'finish');
  n.skipSeen(b);

  go(b, '/probe.html?load');
  await h.hello(b);
  // The start names the page being loaded, not the one it replaces.
  const start = await n.expectNav(b, (e) => e.kind === 'start');
  assert.deepEqual(start, { window: 'main', kind: 'start', url: web.url('/probe.html?load') });
  assert.deepEqual(await n.expectNav(b, (e) => e.kind === 'commit'),
    { window: 'main', kind: 'commit', url: web.url('/probe.html?load') });
  assert.deepEqual(await n.expectNav(b, (e) => e.kind === 'finish'),
    { window: 'main', kind: 'finish', url: web.url('/probe.html?load') });

  // The redirect's target is asked about too.
  go(b, '/redirect?to=/probe.html%3Fredirected');
  await n.expectNavq(b, (id, w, url) => url === web.url('/redirect?to=/probe.html%3Fredirected'));
  await n.expectNavq(b, (id, w, url) => url === web.url('/probe.html?redirected'));
  await h.hello(b);
  assert.equal((await n.expectNav(b, (e) => e.kind === 'start')).url, web.url('/redirect?to=/probe.html%3Fredirected'));
  assert.equal((await n.expectNav(b, (e) => e.kind === 'commit')).url, web.url('/probe.html?redirected'));
  assert.equal((await n.expectNav(b, (e) => e.kind === 'finish')).url, web.url('/probe.html?redirected'));

  const bad = `http://127.0.0.1:${await n.closedPort()}/nowhere`;
  go(b, bad);
  assert.equal((await n.expectNav(b, (e) => e.kind === 'start')).url, bad);
  const fail = await n.expectNav(b, (e) => e.kind === 'fail');
  assert.equal(fail.window, 'main');
  assert.equal(fail.url, bad);
  assert.ok(fail.error.length > 0, 'the error says why');
  await h.sleep(300);
  await b.sync();
  const after = b.lines.slice(b.lines.findIndex((l) => n.event(l, 'NAV') && n.event(l, 'NAV').kind === 'fail'));
  assert.ok(!after.some((l) => (n.event(l, 'NAV') || {}).kind === 'finish'), 'no finish after the failure');
  // The page is still there: no error page replaced it.
  b.eval("probe.report('still', {href: location.href})");
  assert.equal((await b.expectReport('still')).href, web.url('/probe.html?redirected'));
});

test('a cancelled load reports neither a failure nor a finish', async (t) => {
  const { b } = await session(t);
  const stop = n.answerNavq(b, 'allow');
  t.after(stop);
  go(b, '/slow?ms=4000');
  await h.until(() => web.saw('/slow?ms=4000'), 'the slow request');
  const mark = b.lines.length;
  b.eval('window.stop()');
  await h.sleep(400);
  await b.sync();
  const navs = b.lines.slice(mark).map((l) => n.event(l, 'NAV')).filter(Boolean);
  assert.deepEqual(navs.map((e) => e.kind), [], 'stopping a load is noise');
});

test('a link to a new window is cancelled and handed to the desktop by default', async (t) => {
  const { b, home } = await session(t);
  b.eval(`const a = document.createElement('a'); a.href = '/probe.html?blank'; a.target = '_blank';
    document.body.appendChild(a); a.click();`);
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/probe.html?blank'));
  assert.equal(q.window, '-');
  assert.equal(q.opener, 'main');
  assert.equal(q.fallback, 'external');
  const p = await n.expectPopup(b, (e) => e.url === web.url('/probe.html?blank'));
  assert.deepEqual(p, { window: null, url: web.url('/probe.html?blank'), action: 'external' });
  await h.until(() => home.opened().includes(web.url('/probe.html?blank')), 'the desktop to open the link');
  assert.ok(!web.saw('/probe.html?blank'));
});
