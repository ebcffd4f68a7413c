'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load, El } = require('./harness');

test('load says hello once, without params, before anything else', () => {
  const h = load();
  assert.equal(h.sent[0].text, '{"method":"client.hello"}');
  assert.equal(h.sent.filter((e) => e.method === 'client.hello').length, 1);
});

test('fileURL', () => {
  const { quib } = load();
  const cases = [
    ['C:\\Users\\Ann Lee\\a.wav', 'file:///C:/Users/Ann%20Lee/a.wav'],
    ['d:/music/#1.mp3', 'file:///d:/music/%231.mp3'],
    ['\\\\server\\share\\x y.wav', 'file://server/share/x%20y.wav'],
    ['/home/ann/a b?.ogg', 'file:///home/ann/a%20b%3F.ogg'],
    ['rel/a:b', 'file:///rel/a:b'],
    ['/odd\\name', 'file:///odd%5Cname'],
  ];
  for (const [p, url] of cases) assert.equal(quib.fileURL(p), url, p);
  assert.equal(quib.proxyURL('https://a/b?c=1&d'), 'quib-media://proxy/?u=https%3A%2F%2Fa%2Fb%3Fc%3D1%26d');
});

test('system.os follows the user agent', () => {
  const cases = [
    ['Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15', 'linux', [false, false, true]],
    ['Mozilla/5.0 (Windows NT 10.0; Win64; x64)', 'windows', [false, true, false]],
    ['Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7)', 'macos', [true, false, false]],
  ];
  for (const [userAgent, os, flags] of cases) {
    const { quib: { system: s } } = load({ userAgent });
    assert.deepEqual([s.os(), s.isMacOS(), s.isWindows(), s.isLinux()], [os, ...flags]);
  }
});

test('win.id is read at each use', () => {
  const h = load({ win: '' });
  assert.equal(h.quib.win.id, 'main');
  h.window.__QUIB_WIN = 'w7';
  assert.equal(h.quib.win.id, 'w7');
});

test('drag regions', () => {
  const h = load();
  const bar = new El('div', { 'data-quib-drag': '' }, h.body);
  const label = new El('span', {}, bar);
  const link = new El('span', {}, new El('a', {}, bar));
  const keep = new El('div', { 'data-quib-nodrag': '' }, bar);
  const edit = new El('p', { contenteditable: 'true' }, bar);
  const outside = new El('div', {}, h.body);
  const cases = [
    [label, {}, 'win.startDrag'], [bar, { detail: 2 }, 'win.zoom'], [bar, { detail: 3 }, 'win.startDrag'],
    [label, { button: 2 }, null], [link, {}, null], [keep, {}, null], [edit, {}, null], [outside, {}, null],
  ];
  for (const [target, extra, method] of cases) {
    const n = h.sent.length;
    h.mousedown(target, extra);
    assert.deepEqual(h.sent.slice(n).map((e) => e.text), method ? [`{"method":"${method}"}`] : []);
  }
});

test('resize grips stay off unless the host says whether the window is frameless', async () => {
  const off = load();
  assert.equal(off.last('win.getState'), undefined);

  const h = load({ frameless: true });
  h.answer(h.last('win.getState'), { chrome: { frame: false }, resizable: true });
  await h.tick();
  const box = h.body.children.find((c) => c.id === '__quibGrips');
  assert.equal(box.style.cssText, 'position:fixed;inset:0;z-index:2147483647;pointer-events:none');
  assert.equal(box.children.length, 8);
  let stopped = false;
  box.children[7].listeners.mousedown[0]({ button: 0, preventDefault() {}, stopPropagation() { stopped = true; } });
  assert.deepEqual([h.last('win.startResize').params, stopped], [{ edge: 'e' }, true]);

  const framed = load({ frameless: false });
  framed.answer(framed.last('win.getState'), { chrome: { frame: true } });
  await framed.tick();
  assert.equal(framed.body.children.length, 0);
});
