'use strict';
// Who the host is on the X11 desktop. In bundle mode every window, the host's own
// and the dialogs GTK makes, carries the bundle's name as its WM_CLASS class, the
// bundle's application id and the bundle's icon, and the host names itself by
// them (GET frontmost, the clipboard's source). Command-line mode keeps the
// program's own names.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');
const tray = require('./tray_support');

const skip = h.needs([['xprop', 'x11-utils'], ['xdotool', 'xdotool']]);
const GREEN = 0xff20a040;
// An icon in a colour no theme icon has, so the window's icon tells where it came from.
const SVG = '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><rect width="64" height="64" fill="#20a040"/></svg>';

const { x } = h.setUp({ skip, windowManager: true });

const get = h.getAnswer;

// WM_CLASS's two parts and _GTK_APPLICATION_ID of a window.
async function names(xid) {
  const out = await h.xprop(x.display, xid, 'WM_CLASS', '_GTK_APPLICATION_ID');
  const cls = /WM_CLASS\(STRING\) = "([^"]*)", "([^"]*)"/.exec(out) || [];
  const id = /_GTK_APPLICATION_ID\(UTF8_STRING\) = "([^"]*)"/.exec(out);
  return { instance: cls[1], class: cls[2], appId: id ? id[1] : null };
}

// The centre pixel (ARGB) of the first image in a window's _NET_WM_ICON.
async function iconCentre(xid) {
  const out = await h.xrun(x.display, 'xprop', ['-id', String(xid), '-notype', '-f', '_NET_WM_ICON', '32c', '_NET_WM_ICON']);
  const v = (out.split('=')[1] || '').split(',').map(Number);
  const [w, hgt] = v;
  return w > 0 ? v[2 + Math.floor(hgt / 2) * w + Math.floor(w / 2)] >>> 0 : null;
}

// The host's top-level windows on screen that are not in `known`.
async function newWindow(pid, known) {
  return h.until(async () => (await h.xdotool(x.display, ['search', '--onlyvisible', '--pid', String(pid)]))
    .split('\n').filter(Boolean).find((w) => !known.includes(w)), 'a new window of the host');
}

test('a bundle\'s name, application id and icon are on every window, and the host names itself by them', { skip },
  async (t) => {
    const dir = h.tempDir('qbx-ident-');
    const bundle = h.makeBundle(dir, { name: 'Ident Test',
      plist: { CFBundleIdentifier: 'org.example.Ident', CFBundleIconFile: 'AppIcon' } });
    // Named without its extension, as bundles do; the SVG beside it is what the desktop reads.
    fs.writeFileSync(path.join(bundle.app, 'Contents/Resources/AppIcon.svg'), SVG);
    const bus = await h.startBus(dir);
    t.after(() => bus.stop());
    const watcher = await tray.startWatcher(bus);
    t.after(() => watcher.stop());
    const env = { ...h.sessionEnv(dir, bus), QUIBEX_ICON: undefined };
    const s = await h.startBundle({ display: x.display, bundle, dir, env });
    t.after(() => s.close());
    await s.ready();
    const b = s.relay;
    await h.hello(b);
    const pid = s.host.proc.pid;
    const main = (await h.findWindow(x.display, 'Ident Test')).id;
    const other = (await h.openProbeWindow(b, x.display, 'w2', { title: 'Second' })).id;
    b.eval("alert('who')", 'w2');
    const dialog = await newWindow(pid, [main, String(other)]);

    const want = { instance: 'org.example.Ident', class: 'Ident Test', appId: 'org.example.Ident' };
    for (const [what, xid] of [['main', main], ['WINOPEN', other], ['dialog', dialog]]) {
      assert.deepEqual(await names(xid), want, what);
      assert.equal(await iconCentre(xid), GREEN, `${what}: the bundle's icon`);
    }
    await h.xrun(x.display, 'xdotool', ['windowactivate', '--sync', main]);
    await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(main), 'the main window active');
    assert.deepEqual(await get(b, 'frontmost'), { name: 'Ident Test', bundleId: 'org.example.Ident', pid });
    b.send('CLIPWRITE mine');
    assert.deepEqual((await get(b, 'clipboard')).sourceApp, { name: 'Ident Test', bundleId: 'org.example.Ident' });

    // The tile is drawn over the windows' icon until it goes; the bundle's icon is
    // no tile icon of its own.
    assert.deepEqual(await get(b, 'debug:icon'), { set: false, width: 0, height: 0, hasDevDefault: false, env: '' });
    const red = path.join(dir, 'red.svg');
    fs.writeFileSync(red, SVG.replace('#20a040', '#d02020'));
    b.send(`APPICON ${red}`);
    await h.untilValue(() => iconCentre(main), (c) => c === 0xffd02020, 'the tile\'s icon');
    b.send('APPICON');
    await h.untilValue(() => iconCentre(main), (c) => c === GREEN, 'the bundle\'s icon again');

    // The tray item names the application by its id too.
    b.send('TRAYBEGIN Ident\t\t0\ttip');
    b.send('TRAYEND');
    const reg = await watcher.expectEvent((e) => e.event === 'registered', 'registration');
    assert.equal((await watcher.ask('props', { service: reg.service })).Id, 'org.example.Ident');
  });

test('command-line mode keeps the program\'s own names and has no application id', { skip }, async (t) => {
  const dir = h.tempDir('qbx-ident-cli-');
  const s = await h.startSession({ display: x.display, args: ['Plain'], env: h.sessionEnv(dir) });
  t.after(() => s.close());
  await h.hello(s.backend);
  const main = (await h.findWindow(x.display, 'Plain')).id;
  assert.deepEqual(await names(main), { instance: 'quibex', class: 'Quibex', appId: null });
});
