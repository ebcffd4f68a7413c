'use strict';
// The tray item on the desktop: a StatusNotifierItem on a private session bus,
// read and clicked by a test watcher, its menu exported over dbusmenu; the XEmbed
// tray where no watcher is on the bus; and no bus at all.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');
const t = require('./tray_support');

const { x } = h.setUp();

// A host on its own bus with a watcher (or none), past its first page call.
async function traySession(tt, { watcher = true, ownWatcher = true, xembed = false } = {}) {
  // Left for the harness to remove at the end: the host's web process writes
  // caches here until it stops.
  const dir = h.tempDir();
  const bus = await h.startBus(dir);
  tt.after(() => bus.stop());
  const w = watcher ? await t.startWatcher(bus, { own: ownWatcher }) : null;
  if (w) tt.after(() => w.stop());
  const tray = xembed ? await t.startXembedTray(x.display) : null;
  if (tray) tt.after(() => tray.stop());
  const s = await h.startSession({ display: x.display, env: t.trayEnv(dir, bus.address) });
  tt.after(() => s.close());
  await h.hello(s.backend);
  return { dir, bus, w, tray, s, b: s.backend };
}

const registered = (w) => w.expectEvent((e) => e.event === 'registered', 'registration');

// Every menu item of a layout by label, depth first.
function itemsByLabel(node, out = {}) {
  for (const c of node.children) {
    if (c.props.label !== undefined) out[c.props.label] = c;
    itemsByLabel(c, out);
  }
  return out;
}

// No TRAYCLICK or TRAY line has come before the page answers a round trip.
async function noClickLines(b) {
  await b.sync();
  const stray = b.lines.filter((l, i) => !b.taken[i] && /^TRAY(CLICK)?\b/.test(l));
  assert.deepEqual(stray, []);
}

test('TRAYEND registers an item with its title, tooltip and image; TRAYREMOVE takes it off the bus', async (tt) => {
  const { dir, w, b, s } = await traySession(tt);
  const wide = t.writePng(path.join(dir, 'wide.png'), 36, 18, [255, 0, 0, 255]);
  b.send(`TRAYBEGIN Weather\t${wide}\t1\tSunny all day`);
  b.send('TRAYEND');
  const reg = await registered(w);
  assert.match(reg.service, /^org\.kde\.StatusNotifierItem-\d+-/);
  const props = await h.untilValue(() => w.ask('props', { service: reg.service }),
    (p) => p.IconPixmap.length > 0, 'the image');
  assert.equal(props.Title, 'Weather');
  assert.equal(props.XAyatanaLabel, 'Weather', 'panels that show a label show the title');
  assert.deepEqual(props.ToolTip, ['', [], 'Sunny all day', '']);
  assert.equal(props.ItemIsMenu, false);
  assert.equal(props.Menu, '/NO_DBUSMENU');
  assert.equal(props.Status, 'Active');
  assert.deepEqual(props.IconPixmap.map(([pw, ph]) => [pw, ph]), [[36, 18], [72, 36]]);
  assert.equal(props.IconPixmap[0][2].slice(0, 8), 'ffff0000', 'opaque red, ARGB in network order');

  // Images are 18 points high, their proportions kept; an update changes the same item.
  const images = [
    // [file size, colour, pixmap sizes]
    [[18, 36], [0, 0, 255, 128], [[9, 18], [18, 36]]],
    [[1, 1], [0, 255, 0, 255], [[18, 18], [36, 36]]],
    [[5000, 1], [0, 255, 0, 255], [[512, 18], [1024, 36]]],
  ];
  for (const [[iw, ih], colour, sizes] of images) {
    const file = t.writePng(path.join(dir, `i${iw}x${ih}.png`), iw, ih, colour);
    b.send(`TRAYBEGIN Weather\t${file}\t1\tSunny all day`);
    b.send('TRAYEND');
    const p = await h.untilValue(() => w.ask('props', { service: reg.service }),
      (q) => q.IconPixmap.length && q.IconPixmap[0][0] === sizes[0][0] && q.IconPixmap[0][1] === sizes[0][1],
      `an image of ${iw}x${ih}`);
    assert.deepEqual(p.IconPixmap.map(([pw, ph]) => [pw, ph]), sizes, `${iw}x${ih}`);
  }
  await w.expectEvent((e) => e.member === 'NewIcon', 'NewIcon');

  // A theme icon is named for the panel; a name no theme has, or a file that is no
  // image, leaves the item without one.
  const cases = [
    // [icon field, IconName, has pixmap]
    ['sf:document-open-symbolic', 'document-open-symbolic', false],
    ['sf:star.fill', '', false],
    [wide, '', true],
    [path.join(dir, 'missing.png'), '', false],
    [__filename, '', false],
  ];
  for (const [icon, name, pixmap] of cases) {
    b.send(`TRAYBEGIN Weather\t${icon}\t0\tSunny all day`);
    b.send('TRAYEND');
    await h.untilValue(() => w.ask('props', { service: reg.service }),
      (q) => q.IconName === name && (q.IconPixmap.length > 0) === pixmap, `icon ${icon}`);
  }
  assert.equal(w.saw((e) => e.event === 'registered'), false, 'updates keep the one item');

  b.send('TRAYBEGIN Rain\t\t1\t');
  b.send('TRAYEND');
  await w.expectEvent((e) => e.member === 'NewTitle', 'NewTitle');
  const label = await w.expectEvent((e) => e.member === 'XAyatanaNewLabel', 'XAyatanaNewLabel');
  assert.deepEqual(label.args, ['Rain', '']);
  const p = await w.ask('props', { service: reg.service });
  assert.equal(p.Title, 'Rain');
  assert.deepEqual(p.ToolTip, ['', [], '', '']);

  b.send('TRAYREMOVE');
  const gone = await w.expectEvent((e) => e.event === 'unregistered', 'the item leaving');
  assert.equal(gone.service, reg.service);
  assert.equal(await w.ask('owner', { name: reg.service }), false);
  assert.doesNotMatch(s.host.stderr, /CRITICAL|WARNING/);
});

test('clicks reach the backend as the tray item is set: TRAYCLICK, the menu, or nothing', async (tt) => {
  const { w, b, s } = await traySession(tt);
  const pid = s.host.proc.pid;

  // No items: Activate is a click; the other buttons do nothing.
  b.send('TRAYBEGIN Plain');
  b.send('TRAYEND');
  const plain = await registered(w);
  await w.ask('call', { service: plain.service, method: 'Activate' });
  await b.expectLine(/^TRAYCLICK$/);
  for (const method of ['ContextMenu', 'SecondaryActivate']) {
    await w.ask('call', { service: plain.service, method });
    await noClickLines(b);
  }

  // Items and click events: the menu is exported for the panel's secondary click,
  // a primary click is the backend's, Control-click and ContextMenu open the menu.
  b.send('TRAYBEGIN Clicks\t\t1\tTip\t1');
  const lines = ['ITEM a\tAlpha', 'SEP', 'SUB s\tMore', 'ITEM b\tBeta_x\tcmd+b\tc', 'SUBEND', 'ITEM d\tDelta\t\td'];
  for (const l of lines) b.send(l);
  b.send('TRAYEND');
  // A change of menu mode is a new item for the panels.
  await w.expectEvent((e) => e.event === 'unregistered' && e.service === plain.service, 'the old item leaving');
  const reg = await registered(w);
  const props = await w.ask('props', { service: reg.service });
  assert.equal(props.ItemIsMenu, false);
  assert.match(props.Menu, /^\/MenuBar\//);
  const layout = await w.ask('layout', { service: reg.service, path: props.Menu });
  assert.equal(layout.root.id, 0);
  const kinds = layout.root.children.map((c) => c.props.type || c.props.label);
  assert.deepEqual(kinds, ['Alpha', 'separator', 'More', 'Delta']);
  const items = itemsByLabel(layout.root);
  assert.equal(items.More.props['children-display'], 'submenu');
  assert.deepEqual(items.Beta__x.props, {
    label: 'Beta__x', 'toggle-type': 'checkmark', 'toggle-state': 1, shortcut: [['Control', 'b']],
  }, 'an underscore is no mnemonic');
  assert.equal(items.Delta.props.enabled, false);

  await w.ask('call', { service: reg.service, method: 'Activate' });
  await b.expectLine(/^TRAYCLICK$/);
  await w.ask('event', { service: reg.service, path: props.Menu, item: items.Alpha.id });
  await b.expectLine(/^TRAY a$/);
  await w.ask('event', { service: reg.service, path: props.Menu, item: items.Beta__x.id });
  await b.expectLine(/^TRAY b$/);
  for (const item of [items.Delta.id, items.More.id, 0]) {
    await w.ask('event', { service: reg.service, path: props.Menu, item });
    await noClickLines(b);
  }

  await w.ask('call', { service: reg.service, method: 'ContextMenu' });
  await t.choosePopupItem(x.display, pid);
  await b.expectLine(/^TRAY a$/);

  await h.xdotool(x.display, ['keydown', 'ctrl']);
  try {
    await w.ask('call', { service: reg.service, method: 'Activate' });
  } finally {
    await h.xdotool(x.display, ['keyup', 'ctrl']);
  }
  await t.choosePopupItem(x.display, pid);
  await b.expectLine(/^TRAY a$/);
  await w.ask('call', { service: reg.service, method: 'SecondaryActivate' });
  await noClickLines(b);

  // Items without click events: the panel opens the menu itself and the backend
  // hears only choices; a panel that calls Activate all the same gets the menu.
  b.send('TRAYBEGIN Menu');
  b.send('ITEM m\tMenu item');
  b.send('TRAYEND');
  await w.expectEvent((e) => e.event === 'unregistered' && e.service === reg.service, 'the old item leaving');
  const menuReg = await registered(w);
  const menuProps = await w.ask('props', { service: menuReg.service });
  assert.equal(menuProps.ItemIsMenu, true);
  const menuItems = itemsByLabel((await w.ask('layout', { service: menuReg.service, path: menuProps.Menu })).root);
  await w.ask('event', { service: menuReg.service, path: menuProps.Menu, item: menuItems['Menu item'].id });
  await b.expectLine(/^TRAY m$/);
  await w.ask('call', { service: menuReg.service, method: 'Activate' });
  await t.choosePopupItem(x.display, pid, { escape: true });
  await w.ask('call', { service: menuReg.service, method: 'ContextMenu' });
  await t.choosePopupItem(x.display, pid);
  await b.expectLine(/^TRAY m$/);
  await noClickLines(b);
  assert.doesNotMatch(s.host.stderr, /CRITICAL|WARNING/);
});

test('MENUUPD changes the exported items in place', async (tt) => {
  const { w, b } = await traySession(tt);
  b.send('TRAYBEGIN Upd');
  for (const l of ['ITEM a\tAlpha', 'SUB s\tMore', 'ITEM b\tBeta', 'SUBEND']) b.send(l);
  b.send('TRAYEND');
  const reg = await registered(w);
  const { Menu } = await w.ask('props', { service: reg.service });
  const layout = async () => itemsByLabel((await w.ask('layout', { service: reg.service, path: Menu })).root);
  const ids = Object.fromEntries(Object.values(await layout()).map((i) => [i.props.label, i.id]));

  // [MENUUPD fields, label after, the item's properties after (absent = default)]
  const steps = [
    ['b\tBravo', 'Bravo', {}],
    ['b\t\t1', 'Bravo', { 'toggle-type': 'checkmark', 'toggle-state': 1 }],
    ['b\t\t\t0', 'Bravo', { 'toggle-type': 'checkmark', 'toggle-state': 1, enabled: false }],
    ['b\tB_2\t0\t1', 'B__2', {}],
    ['b\t\t\ttrue', 'B__2', { enabled: false }],
  ];
  for (const [fields, label, want] of steps) {
    b.send('MENUUPD ' + fields);
    const ev = await w.expectEvent((e) => e.member === 'ItemsPropertiesUpdated', `the update ${fields}`);
    assert.ok(JSON.stringify(ev.args).includes(`${ids.Beta}`), fields);
    const item = (await layout())[label];
    assert.ok(item, `${fields}: an item labelled ${label}`);
    assert.equal(item.id, ids.Beta, 'the same item, changed in place');
    const { label: _, ...rest } = item.props;
    // enabled true is the default, which an item may leave out.
    const set = Object.entries(rest).filter(([k, v]) => !(k === 'enabled' && v === true));
    assert.deepEqual(Object.fromEntries(set), want, fields);
  }
  // An id the tray does not hold, and a window-scoped update, change nothing here.
  b.send('MENUUPD nosuch\tX\t1\t0');
  b.send('MENUUPD@main a\tNope');
  await b.sync();
  assert.equal((await layout()).Alpha.props.enabled, undefined);
  assert.equal((await layout()).Nope, undefined);
});

test('without a watcher the item is an XEmbed tray icon, and moves to a watcher that comes', async (tt) => {
  const { w, tray, b, s } = await traySession(tt, { ownWatcher: false, xembed: true });
  const pid = s.host.proc.pid;
  b.send('TRAYBEGIN Icon\t\t1\tTip');
  b.send('TRAYEND');
  let icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking');
  const click = async (button) => {
    await h.xdotool(x.display, ['mousemove', String(icon.x + 12), String(icon.y + 12)]);
    await h.xdotool(x.display, ['click', String(button)]);
  };
  await click(1);
  await b.expectLine(/^TRAYCLICK$/);
  for (const button of [2, 3]) {
    await click(button);
    await noClickLines(b);
  }

  b.send('TRAYBEGIN Icon\t\t1\tTip\t1');
  b.send('ITEM a\tAlpha');
  b.send('TRAYEND');
  await click(3);
  await t.choosePopupItem(x.display, pid);
  await b.expectLine(/^TRAY a$/);
  await click(1);
  await b.expectLine(/^TRAYCLICK$/);

  b.send('TRAYBEGIN Icon');
  b.send('ITEM a\tAlpha');
  b.send('TRAYEND');
  for (const button of [1, 3]) {
    await click(button);
    await t.choosePopupItem(x.display, pid);
    await b.expectLine(/^TRAY a$/);
  }
  await noClickLines(b);
  assert.equal(w.saw((e) => e.event === 'registered'), false);

  // A watcher appears: the item registers there and leaves the XEmbed tray; it
  // comes back when the watcher goes.
  await w.ask('own');
  const reg = await registered(w);
  await tray.expectEvent((e) => e.event === 'undocked' && e.window === icon.window, 'the icon leaving');
  assert.equal((await w.ask('props', { service: reg.service })).ItemIsMenu, true);
  await w.ask('unown');
  icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking again');
  await click(1);
  await t.choosePopupItem(x.display, pid);
  await b.expectLine(/^TRAY a$/);

  b.send('TRAYREMOVE');
  await tray.expectEvent((e) => e.event === 'undocked' && e.window === icon.window, 'the icon going');
  assert.match(s.host.stderr,
    /no StatusNotifierWatcher on the session bus; the tray item goes to the XEmbed system tray/);
});

test('traypos answers the icon\'s place only while an XEmbed tray shows it', async (tt) => {
  const { w, b, s } = await traySession(tt, { ownWatcher: false });
  // traypos and the docked icon's rectangle as the X server has it, side by side.
  const both = async (icon) => {
    const g = await h.xwininfo(x.display, icon.window);
    return [await b.get('traypos'), { x: g.x, y: g.y, width: g.width, height: g.height }];
  };
  const same = ([a, b]) => JSON.stringify(a) === JSON.stringify(b);
  b.send('TRAYBEGIN Where');
  b.send('TRAYEND');
  await b.sync();
  assert.equal((await b.get('debug:tray')).exists, true);
  assert.equal(await b.get('traypos'), null, 'no tray shows the icon yet');
  const tray = await t.startXembedTray(x.display);
  tt.after(() => tray.stop());
  let icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking');
  await h.untilValue(() => both(icon), same, 'the docked icon\'s rectangle');
  // A panel draws a StatusNotifierItem where it likes and tells nobody.
  await w.ask('own');
  await registered(w);
  await tray.expectEvent((e) => e.event === 'undocked', 'the icon leaving');
  assert.equal(await b.get('traypos'), null);
  await w.ask('unown');
  icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking again');
  await h.untilValue(() => both(icon), same, 'the rectangle again');
  await tray.stop();
  await h.untilValue(() => b.get('traypos'), (p) => p === null, 'null once the tray is gone');
  assert.doesNotMatch(s.host.stderr, /CRITICAL|WARNING/);
});

test('with no session bus, or a watcher that never answers, tray commands neither hang nor fail', async (tt) => {
  const dir = h.tempDir();
  const tray = await t.startXembedTray(x.display);
  tt.after(() => tray.stop());
  const s = await h.startSession({ display: x.display, env: t.trayEnv(dir, `unix:path=${dir}/no-bus`) });
  tt.after(() => s.close());
  const b = s.backend;
  await h.hello(b);
  b.send('TRAYBEGIN Busless\t\t1\tTip');
  b.send('ITEM a\tAlpha');
  b.send('TRAYEND');
  const icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking without a bus');
  b.send('MENUUPD a\tAleph\t1\t1');
  await h.xdotool(x.display, ['mousemove', String(icon.x + 12), String(icon.y + 12), 'click', '1']);
  await t.choosePopupItem(x.display, s.host.proc.pid);
  await b.expectLine(/^TRAY a$/);
  b.send('TRAYREMOVE');
  await tray.expectEvent((e) => e.event === 'undocked', 'the icon going');
  b.send('TRAYBEGIN Again');
  b.send('TRAYEND');
  await tray.expectEvent((e) => e.event === 'docked', 'a new icon');
  await b.sync();
  assert.match(s.host.stderr, /the tray item goes to the XEmbed system tray/);

  // A watcher that takes the registration and never answers it.
  const bus = await h.startBus(dir);
  tt.after(() => bus.stop());
  const w = await t.startWatcher(bus, { stall: true });
  tt.after(() => w.stop());
  const s2 = await h.startSession({ display: x.display, env: t.trayEnv(dir, bus.address) });
  tt.after(() => s2.close());
  await h.hello(s2.backend);
  s2.backend.send('TRAYBEGIN Stalled');
  s2.backend.send('TRAYEND');
  await w.expectEvent((e) => e.event === 'stalled', 'the registration');
  s2.backend.send('TITLE still answering');
  s2.backend.send('TRAYREMOVE');
  s2.backend.send('TRAYBEGIN Stalled again');
  s2.backend.send('TRAYEND');
  await s2.backend.sync();
  await h.findWindow(x.display, 'still answering');
  assert.equal(s2.host.exited, null);
  // Unanswered for 10 seconds, the registration gives way to the XEmbed tray.
  await tray.expectEvent((e) => e.event === 'docked', 'the unregistered item in the XEmbed tray', 25000);
  assert.match(s2.host.stderr,
    /StatusNotifierWatcher did not take the tray item \(.+\); the tray item goes to the XEmbed system tray/);
});

test('the session bus going away leaves the host running, with the item in the XEmbed tray', async (tt) => {
  const { bus, w, tray, b, s } = await traySession(tt, { xembed: true });
  b.send('TRAYBEGIN Bus\t\t1\tTip');
  b.send('ITEM a\tAlpha');
  b.send('TRAYEND');
  await registered(w);
  await bus.stop();
  const icon = await tray.expectEvent((e) => e.event === 'docked', 'the icon docking once the bus is gone');
  b.send('MENUUPD a\tAleph');
  b.send('TRAYBEGIN Bus\t\t1\tTip\t1');
  b.send('ITEM a\tAlpha');
  b.send('TRAYEND');
  await h.xdotool(x.display, ['mousemove', String(icon.x + 12), String(icon.y + 12), 'click', '1']);
  await b.expectLine(/^TRAYCLICK$/);
  assert.equal(s.host.exited, null);
});
