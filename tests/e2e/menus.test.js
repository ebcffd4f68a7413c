'use strict';
// Menu bars and the context menu on the real host under openbox, chosen with a real
// pointer and keyboard (xdotool): MENU and CTX reach the backend, a window's own bar
// (also one described before the window opens) replaces the application bar in that
// window only, key equivalents reach the bar once the page lets the key go, check
// marks change only through the backend.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

const skip = h.needs([['xdotool', 'xdotool'], ['xwininfo', 'x11-utils'], ['xprop', 'x11-utils']]);

const { x } = h.setUp({ skip, windowManager: true });

const xd = (...args) => h.xrun(x.display, 'xdotool', args.map(String));

async function session(t) {
  const s = await h.mainSession(x.display);
  t.after(() => s.close());
  await focus(s.main.id);
  return s;
}

async function focus(xid) {
  await xd('windowactivate', '--sync', xid);
  await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(xid), `window ${xid} focused`);
}

// Sends lines, then waits until the host has carried them out.
async function send(b, lines, win) {
  b.sock.write(lines.map((l) => l + '\n').join(''));
  await b.sync(win);
}

const menuLines = (b) => b.lines.filter((l) => /^(MENU|CTX) /.test(l));

test('a pointer click on the bar opens a menu and a click on its item sends MENU', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await send(b, ['ABOUTHOOK 1', 'MENUBEGIN', 'MENU File', 'ITEM new\tNew', 'MENUEND']);
  const c = (await h.frameGeometry(x.display, s.main.id)).client;
  // The first title is the application menu; its first item is About. Under load
  // the menu may not be open yet when the item is clicked: then Escape and again.
  for (let wait = 300; !b.lines.includes('MENU about') && wait <= 2400; wait *= 2) {
    await xd('mousemove', c.x + 15, c.y + Math.round(s.bar / 2), 'click', 1);
    await h.sleep(wait);
    await xd('mousemove', c.x + 30, c.y + s.bar + 14, 'click', 1);
    if (await h.until(() => b.lines.includes('MENU about'), 'MENU about', 2000).catch(() => false)) break;
    await xd('key', 'Escape');
  }
  await b.expectLine(/^MENU about$/);
  assert.deepEqual(menuLines(b), ['MENU about'], 'chosen once');
});

test('the keyboard walks the bar; the backend\'s items send their ids, disabled ones nothing', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await send(b, ['MENUBEGIN', 'MENU File', 'ITEM off\tOff\t\td', 'ITEM new\tNew', 'SUB more\tMore', 'ITEM deep\tDeep',
    'SUBEND', 'MENUEND']);
  // F10 opens the first menu; Right twice reaches File (after the application menu and Edit).
  const choose = async (...keys) => {
    await xd('key', 'F10');
    await h.sleep(200);
    for (const k of ['Right', 'Right', ...keys]) await xd('key', k);
  };
  await choose('Down', 'Return');
  await b.expectLine(/^MENU new$/);
  await choose('Down', 'Down', 'Right', 'Return');
  await b.expectLine(/^MENU deep$/);
  assert.deepEqual(menuLines(b), ['MENU new', 'MENU deep'], 'the disabled item is skipped');
});

test('key equivalents choose items once the page lets the key go; a page may keep a key', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await send(b, ['MENUBEGIN', 'MENU File', 'ITEM k\tKay\tcmd+shift+k', 'ITEM j\tJay\tcmd+j', 'ITEM off\tOff\tcmd+u\td',
    'ITEM o\tOpt\talt+o', 'MENUEND']);
  b.eval(`document.addEventListener('keydown', (e) => { if (e.ctrlKey && e.key === 'j') e.preventDefault(); })`);
  await b.sync();
  for (const k of ['ctrl+shift+k', 'ctrl+j', 'ctrl+u', 'ctrl+alt+o', 'ctrl+k']) await xd('key', k);
  await send(b, []);
  assert.deepEqual(menuLines(b), ['MENU k', 'MENU o']);
});

test('a window\'s own bar replaces the application bar in that window only', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  const w2 = await h.openProbeWindow(b, x.display, 'w2', { size: '400x200' });
  await send(b, ['MENUBEGIN', 'MENU App', 'ITEM a\tAppItem\tcmd+e', 'MENUEND',
    'MENUBEGIN@w2', 'MENU Own', 'ITEM o\tOwnItem\tcmd+e', 'MENUEND']);
  await focus(w2.id);
  await xd('key', 'ctrl+e');
  await b.expectLine(/^MENU o$/);
  await focus(s.main.id);
  await xd('key', 'ctrl+e');
  await b.expectLine(/^MENU a$/);
  // Back to the application bar once the window's own is reset.
  await send(b, ['MENURESET@w2']);
  await focus(w2.id);
  await xd('key', 'ctrl+e');
  await b.expectLine(/^MENU a$/);
  assert.deepEqual(menuLines(b), ['MENU o', 'MENU a', 'MENU a']);
  // A bar described before its window opens is the window's bar once it opens.
  await send(b, ['MENUBEGIN@later', 'MENU Early', 'ITEM early\tEarly\tcmd+e', 'MENUEND']);
  const later = await h.openProbeWindow(b, x.display, 'later');
  assert.deepEqual(await b.get('item@later:early'), { exists: true, label: 'Early', checked: false, enabled: true });
  await focus(later.id);
  await xd('key', 'ctrl+e');
  await b.expectLine(/^MENU early$/);
});

test('check marks and labels change only through the backend', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await send(b, ['MENUBEGIN', 'MENU File', 'ITEM chk\tToggle\tcmd+t\tc', 'MENUEND']);
  await xd('key', 'ctrl+t');
  await b.expectLine(/^MENU chk$/);
  assert.deepEqual(await b.get('item:chk'), { exists: true, label: 'Toggle', checked: true, enabled: true });
  await send(b, ['MENUUPD chk\tToggled\t0']);
  assert.deepEqual(await b.get('item:chk'), { exists: true, label: 'Toggled', checked: false, enabled: true });
  await send(b, ['MENUUPD chk\t\t\t0']);
  await xd('key', 'ctrl+t');
  await send(b, []);
  assert.deepEqual(menuLines(b), ['MENU chk'], 'a disabled item has no key equivalent');
});

test('Edit menu items act on the focused page', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await xd('key', 'ctrl+a');
  b.eval(`probe.report('sel', {text: String(getSelection())})`);
  assert.match((await b.expectReport('sel')).text, /probe page/);
});

test('a right click in the page shows the backend\'s context menu; choosing an item sends CTX', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await send(b, ['CTXBEGIN', 'ITEM first\tFirst', 'SEP', 'ITEM second\tSecond', 'CTXEND']);
  const c = (await h.frameGeometry(x.display, s.main.id)).client;
  const [px, py] = [c.x + 200, c.y + s.bar + 150];
  await xd('mousemove', px, py, 'click', 3);
  await h.sleep(400);
  // The menu opens with its top-left corner at the pointer.
  await xd('mousemove', px + 25, py + 16, 'click', 1);
  await b.expectLine(/^CTX first$/);
  // Suppressed with no custom menu: a right click opens nothing, so the next left
  // click reaches the page.
  await send(b, ['CTXCLEAR', 'CTXSUPPRESS 1']);
  b.eval(`document.addEventListener('mousedown', (e) => probe.report('down', {button: e.button}))`);
  await b.sync();
  await xd('mousemove', px, py, 'click', 3);
  await h.sleep(300);
  await xd('mousemove', px + 25, py + 16, 'click', 1);
  const buttons = [(await b.expectReport('down')).button, (await b.expectReport('down')).button];
  assert.deepEqual(buttons, [2, 0]);
  assert.deepEqual(menuLines(b), ['CTX first']);
});

test('About opens the About panel unless the backend asked to hear it; Quit ends the host', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  await xd('key', 'F10');
  await h.sleep(200);
  await xd('key', 'Down', 'Return');
  const about = await h.findWindow(x.display, 'About Main');
  await focus(about.id);
  await xd('key', 'Escape');
  await h.untilValue(() => h.windowTitles(x.display), (t) => !t.includes('About Main'), 'the About panel closed');
  await send(b, ['ABOUTHOOK 1']);
  await focus(s.main.id);
  await xd('key', 'F10');
  await h.sleep(200);
  await xd('key', 'Down', 'Return');
  await b.expectLine(/^MENU about$/);
  await xd('key', 'ctrl+q');
  assert.equal(await s.host.waitExit(), 0);
});
