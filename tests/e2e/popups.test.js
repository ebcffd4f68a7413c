'use strict';
// window.open through a real page in each popup mode: the POPUPQ question, its
// default, the backend's answers, the POPUP event, and popup windows, which are
// registry windows with a page bridge of their own.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');
const n = require('./nav_support');

const { x, web } = h.setUp({ more: { web: () => n.site() } });

// A host in the given popup mode (undefined: the setting unset) whose navigation
// questions are all answered "allow" at once.
async function session(t, mode) {
  const dir = h.tempDir();
  const home = n.desktopHome(dir);
  const env = { ...home.env, QUIBEX_POPUPS: mode };
  const s = await h.startSession({ display: x.display, page: web.url('/probe.html'), env });
  t.after(() => s.close());
  n.answerNavq(s.backend, 'allow');
  await h.hello(s.backend);
  return { ...s, b: s.backend, home };
}

// The size of a window's page, as the page sees it.
async function pageSize(b, win) {
  const tag = 'size-' + win;
  b.eval(`probe.report('${tag}', {w: innerWidth, h: innerHeight})`, win);
  const r = await b.expectReport(tag);
  return [r.w, r.h];
}

function open(b, path, features = '') {
  b.eval(`probe.report('opened', {got: window.open(${JSON.stringify(path)}, '', ${JSON.stringify(features)}) !== null})`);
}

test('mode "window": the popup is a window of its own with a bridge of its own, shown by default', async (t) => {
  const { b } = await session(t, 'window');
  open(b, '/titled.html?first', 'width=320,height=240');
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?first'));
  assert.match(q.id, /^p\d+$/);
  assert.equal(q.window, 'popup1');
  assert.equal(q.opener, 'main');
  assert.equal(q.fallback, 'window');
  assert.equal((await b.expectReport('opened')).got, true, 'window.open returns the new window');
  assert.deepEqual(await n.expectPopup(b), { window: 'popup1', url: web.url('/titled.html?first'), action: 'window' });

  // Its page asks its own question and talks to the backend as popup1.
  await n.expectNavq(b, (id, w, url) => w === 'popup1' && url === web.url('/titled.html?first'));
  await h.hello(b, 'popup1');
  b.eval("probe.report('opener', {win: quib.win.id, opener: !!window.opener, href: window.opener && window.opener.location.href})", 'popup1');
  assert.deepEqual(await b.expectReport('opener'), { tag: 'opener', win: 'popup1', opener: true, href: web.url('/probe.html') });
  await n.expectNav(b, (e) => e.window === 'popup1' && e.kind === 'finish');

  // The window takes the page's title, and its page the size it asked for.
  await h.findWindow(x.display, 'first');
  assert.deepEqual(await pageSize(b, 'popup1'), [320, 240]);

  // Another site in the popup (a new web process) and a popup of the popup keep
  // each page's own bridge, and the opener's.
  const elsewhere = `http://localhost:${web.port}/titled.html?elsewhere`;
  b.eval(`location.href = ${JSON.stringify(elsewhere)}`, 'popup1');
  const hello = await b.expectCall('client.hello', (c) => c.win === 'popup1');
  assert.equal(hello.origin, `http://localhost:${web.port}`);
  b.send(`RET ${hello.id} 0 {}`);
  await b.expectCall('probe.ready', (c) => c.win === 'popup1');
  b.eval("probe.report('ids', {win: quib.win.id})", 'popup1');
  assert.equal((await b.expectReport('ids')).win, 'popup1');
  b.eval(`window.open(${JSON.stringify(web.url('/titled.html?child'))})`, 'popup1');
  const child = await n.expectPopupq(b, (id, nw, opener) => opener === 'popup1');
  await h.hello(b, child.window);
  b.eval("probe.report('child', {win: quib.win.id, opener: !!window.opener})", child.window);
  assert.deepEqual(await b.expectReport('child'), { tag: 'child', win: child.window, opener: true });
  b.eval("probe.report('main', {win: quib.win.id})");
  assert.equal((await b.expectReport('main')).win, 'main');

  // A registry window like any other.
  b.send('WINCLOSE popup1');
  await b.expectLine(/^WINCLOSED popup1$/);
  await b.sync(child.window);
  // The opener's next document is still the main window's.
  b.eval("location.reload()");
  await h.hello(b);
  b.eval("probe.report('again', {win: quib.win.id})");
  assert.equal((await b.expectReport('again')).win, 'main');
});

test('mode "window": deny or external closes the hidden window; sizes below the minimum take the default', async (t) => {
  const { b, home } = await session(t, 'window');
  open(b, '/titled.html?denied', 'width=300,height=300');
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?denied'));
  b.send(`POPUPR ${q.id} deny`);
  await b.expectLine(new RegExp(`^WINCLOSED ${q.window}$`));
  assert.deepEqual(await n.expectPopup(b), { window: q.window, url: web.url('/titled.html?denied'), action: 'deny' });

  open(b, '/titled.html?outside');
  const e = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?outside'));
  b.send(`POPUPR ${e.id} external`);
  await b.expectLine(new RegExp(`^WINCLOSED ${e.window}$`));
  assert.equal((await n.expectPopup(b)).action, 'external');
  await h.until(() => home.opened().includes(web.url('/titled.html?outside')), 'the desktop to open it');

  // 100 x 80 is below 120 x 90: 900 x 600. 120 x 90 is kept.
  open(b, '/titled.html?small', 'width=100,height=80');
  const s = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?small'));
  b.send(`POPUPR ${s.id} window`);
  await h.hello(b, s.window);
  await h.findWindow(x.display, 'small');
  assert.deepEqual(await pageSize(b, s.window), [900, 600]);
  open(b, '/titled.html?least', 'width=120,height=90');
  const l = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?least'));
  await h.hello(b, l.window);
  await h.findWindow(x.display, 'least');
  assert.deepEqual(await pageSize(b, l.window), [120, 90]);
  // No features at all: 900 x 600.
  open(b, '/titled.html?plain');
  const p = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?plain'));
  await h.hello(b, p.window);
  await h.findWindow(x.display, 'plain');
  assert.deepEqual(await pageSize(b, p.window), [900, 600]);
});

test('mode "window": popup ids skip ids that windows already have', async (t) => {
  const { b } = await session(t, 'window');
  open(b, '/titled.html?one');
  const one = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?one'));
  assert.equal(one.window, 'popup1');
  b.send(`WINOPEN popup2\t${web.url('/probe.html')}\tTaken`);
  await h.hello(b, 'popup2');
  open(b, '/titled.html?three');
  const three = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?three'));
  assert.equal(three.window, 'popup3');
  await h.hello(b, 'popup3');
  // Each answers as itself.
  await b.sync('popup2');
  await b.sync('popup3');
});

test('mode "window": a popup opened on about:blank or no URL has one bridge, its own', async (t) => {
  const { b } = await session(t, 'window');
  for (const url of ['about:blank', '']) {
    b.eval(`window.open(${JSON.stringify(url)})`);
    const q = await n.expectPopupq(b, (id, nw, opener, u) => u === url);
    const hello = await b.expectCall('client.hello', (c) => c.win === q.window);
    b.send(`RET ${hello.id} 0 {}`);
    b.eval("quib.api.call('once', {win: quib.win.id})", q.window);
    assert.deepEqual((await b.expectCall('once', (c) => c.win === q.window)).params, { win: q.window });
    b.eval("quib.api.call('report', {tag: 'after-' + quib.win.id})", q.window);
    await b.expectReport('after-' + q.window);
    const calls = b.calls().filter((c) => c.win === q.window);
    assert.deepEqual(calls.map((c) => c.method), ['client.hello', 'client.capabilities', 'once', 'report'], url);
  }
});

test('mode "window": a popup closes when its page or its opener asks; other windows stay', async (t) => {
  const { b } = await session(t, 'window');
  for (const [tag, close] of [['self', (w) => b.eval('window.close()', w)], ['opener', () => b.eval('window.__w.close()')]]) {
    b.eval(`window.__w = window.open(${JSON.stringify(web.url('/titled.html?' + tag))})`);
    const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?' + tag));
    await h.hello(b, q.window);
    close(q.window);
    await b.expectLine(new RegExp(`^WINCLOSED ${q.window}$`));
  }
  b.send(`WINOPEN w1\t${web.url('/probe.html')}\tW1`);
  await h.hello(b, 'w1');
  b.eval('window.close()', 'w1');
  b.eval('window.close()');
  await h.sleep(500);
  await b.sync('w1');
  await b.sync();
  assert.ok(!b.lines.includes('WINCLOSED w1'));
});

test('mode "deny": nothing opens; the answer "external" hands the URL to the desktop', async (t) => {
  const { b, home } = await session(t, 'deny');
  open(b, '/titled.html?no');
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?no'));
  assert.deepEqual([q.window, q.opener, q.fallback], ['-', 'main', 'deny']);
  assert.equal((await b.expectReport('opened')).got, false, 'window.open returns null');
  assert.deepEqual(await n.expectPopup(b), { window: null, url: web.url('/titled.html?no'), action: 'deny' });
  await h.sleep(300);
  assert.deepEqual(home.opened(), []);
  assert.ok(!web.saw('/titled.html?no'));

  open(b, '/titled.html?yes');
  const e = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?yes'));
  b.send(`POPUPR ${e.id} external`);
  assert.equal((await n.expectPopup(b)).action, 'external');
  await h.until(() => home.opened().includes(web.url('/titled.html?yes')), 'the desktop to open it');
});

for (const mode of ['external', undefined]) {
  test(`mode ${mode ? '"external"' : 'unset'}: the desktop's browser gets the URL unless the backend denies`, async (t) => {
    const { b, home } = await session(t, mode);
    open(b, '/titled.html?browser');
    const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?browser'));
    assert.deepEqual([q.window, q.fallback], ['-', 'external']);
    assert.deepEqual(await n.expectPopup(b), { window: null, url: web.url('/titled.html?browser'), action: 'external' });
    await h.until(() => home.opened().includes(web.url('/titled.html?browser')), 'the desktop to open it');

    open(b, '/titled.html?kept');
    const d = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?kept'));
    b.send(`POPUPR ${d.id} deny`);
    assert.equal((await n.expectPopup(b)).action, 'deny');
    await h.sleep(300);
    assert.ok(!home.opened().includes(web.url('/titled.html?kept')));
  });
}

test('any other mode text is the action, sent as a JSON string', async (t) => {
  const mode = 'say "no" \\ thanks';
  const { b, home } = await session(t, mode);
  open(b, '/titled.html?odd');
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?odd'));
  assert.equal(q.fallback, mode);
  const line = await b.expectLine((l) => l.startsWith('POPUP '));
  assert.deepEqual(JSON.parse(line.slice(6)), { window: null, url: web.url('/titled.html?odd'), action: mode });
  await h.sleep(300);
  assert.deepEqual(home.opened(), []);
});

test('accessory mode: a popup window has no task-bar or pager entry either', async (t) => {
  const wm = await h.startDisplay({ windowManager: true });
  t.after(() => wm.stop());
  const dir = h.tempDir();
  const home = n.desktopHome(dir);
  const s = await h.startSession({ display: wm.display, page: web.url('/probe.html'),
    env: { ...home.env, QUIBEX_POPUPS: 'window', QUIBEX_ACTIVATION: 'accessory' } });
  t.after(() => s.close());
  const b = s.backend;
  n.answerNavq(b, 'allow');
  await h.hello(b);
  open(b, '/titled.html?accessory');
  const q = await n.expectPopupq(b, (id, nw, opener, url) => url === web.url('/titled.html?accessory'));
  b.send(`POPUPR ${q.id} window`);
  await h.hello(b, q.window);
  const popup = await h.findWindow(wm.display, 'accessory');
  await h.untilValue(() => h.netWmState(wm.display, popup.id),
    (st) => st.includes('SKIP_TASKBAR') && st.includes('SKIP_PAGER'), 'the popup to skip the task bar and pager');
});
