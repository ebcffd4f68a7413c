'use strict';
// Bundle mode: the host inside Name.app makes the socket, starts the backend with qbx,
// reads Info.plist and cleans up after itself.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

const USAGE = /usage: \S+ <html-file-or-url> <socket-path> \[title\] \[WxH\]/;

// A fresh directory with a private TMPDIR inside, so the socket directory can be watched.
function place(t) {
  const dir = h.tempDir();
  const tmp = path.join(dir, 'tmp');
  fs.mkdirSync(tmp);
  t.after(() => h.removeDir(dir));
  return { dir, tmp };
}

async function run(t, bundleOpts, { env = {}, args = [] } = {}) {
  const { dir, tmp } = place(t);
  const bundle = h.makeBundle(dir, bundleOpts);
  const b = await h.startBundle({ display: x.display, bundle, dir, args, env: { TMPDIR: tmp, ...env } });
  t.after(() => b.close());
  return { ...b, bundle, dir, tmp };
}

test('the host makes a private socket, starts "qbx run entry.js" and shows the bundle page', async (t) => {
  const b = await run(t, {
    name: 'Foo Test',
    plist: { CFBundleVersion: '1.2.3', QuibexWindowSize: '700x500' },
  });
  const info = await b.ready();
  assert.deepEqual(info.argv, ['run', b.bundle.entry]);
  const sockRe = new RegExp('^' + b.tmp + '/quibex-[A-Za-z0-9]{6}/app\\.sock$');
  assert.match(info.socket, sockRe);
  const sockDir = path.dirname(info.socket);
  assert.equal(fs.statSync(sockDir).mode & 0o777, 0o700);

  const c = await h.hello(b.relay);
  assert.match(c.id, /^main:\d+$/);
  assert.equal(c.origin, 'file://');
  b.relay.eval("probe.report('where', {path: decodeURIComponent(location.pathname)})");
  assert.equal((await b.relay.expectReport('where')).path,
    path.join(b.bundle.app, 'Contents/Resources/app/frontend/index.html'));

  const w = await h.findWindow(x.display, 'Foo Test');
  const bar = await h.measureMenuBar(b.relay, x.display, w.id);
  assert.deepEqual([w.width, w.height - bar], [700, 500]);

  b.relay.send('QUIT');
  assert.equal(await b.host.waitExit(), 0);
  assert.equal(fs.existsSync(sockDir), false, 'the socket directory was left behind');
});

test('the backend closing its socket ends the host and removes the socket directory', async (t) => {
  // One argument still means bundle mode.
  const b = await run(t, {}, { args: ['/some/file.txt'] });
  const info = await b.ready();
  await h.hello(b.relay);
  b.relay.end();
  assert.equal(await b.host.waitExit(), 0);
  assert.equal(fs.existsSync(path.dirname(info.socket)), false);
});

test('QuibexUrl names the page instead of the index file', async (t) => {
  const site = await h.serve(h.PAGES);
  t.after(() => site.close());
  const b = await run(t, { index: null, pages: [], plist: { QuibexUrl: site.url + '/probe.html' } });
  await b.ready();
  const c = await h.hello(b.relay);
  assert.equal(c.origin, 'http://127.0.0.1:' + site.port);
});

test('lines the page sends before the backend connects arrive in order', async (t) => {
  const b = await run(t, { index: 'early.html' }, { env: { E2E_RELAY_DELAY_MS: '2500' } });
  await b.ready();
  for (let i = 0; i < 20; i++) await b.relay.expectCall('early', (c) => c.params.i === i);
  const calls = b.relay.calls();
  const order = calls.filter((c) => c.method === 'early').map((c) => c.params.i);
  assert.deepEqual(order, [...Array(20).keys()]);
  const first = calls.findIndex((c) => c.method === 'early');
  const helloAt = calls.findIndex((c) => c.method === 'client.hello');
  assert.ok(helloAt >= 0 && helloAt < first, 'client.hello is the page\'s first call');
  assert.equal(new Set(calls.map((c) => c.id)).size, calls.length, 'call ids repeat');
});

test('user agent and inject script: the environment over Info.plist and inject.js', async (t) => {
  const inject = "quib.api.call('injected', {from: 'file'})";
  const cases = [
    // [name, env, expected user agent (null = the default one), expected inject source]
    ['Info.plist and inject.js', {}, 'PlistUA/1', 'file'],
    ['environment set', { QUIBEX_UA: 'EnvUA/2', QUIBEX_INJECT: "quib.api.call('injected', {from: 'env'})" },
      'EnvUA/2', 'env'],
    ['QUIBEX_UA set but empty keeps the default', { QUIBEX_UA: '', QUIBEX_INJECT: '' }, null, 'file'],
  ];
  for (const [name, env, ua, from] of cases) {
    const b = await run(t, { plist: { QuibexUserAgent: 'PlistUA/1' }, inject }, { env });
    await b.ready();
    await h.hello(b.relay);
    assert.equal((await b.relay.expectCall('injected')).params.from, from, name);
    b.relay.eval("probe.report('ua', {ua: navigator.userAgent})");
    const got = (await b.relay.expectReport('ua')).ua;
    if (ua) assert.equal(got, ua, name);
    else assert.ok(got && got !== 'PlistUA/1', `${name}: ${got}`);
    await b.relay.sync();
    assert.equal(b.relay.calls().filter((c) => c.method === 'injected').length, 1, name);
    b.relay.send('QUIT');
    assert.equal(await b.host.waitExit(), 0);
  }
});

test('QuibexNoMainWindow runs without a page and without a window', async (t) => {
  const b = await run(t, { name: 'Windowless', index: null, pages: [], plist: { QuibexNoMainWindow: true } });
  const info = await b.ready();
  b.relay.send('RET q5 0 {"up":true}');
  assert.equal((await b.relay.expectLine(/^GOT 5 .*/))[0], 'GOT 5 {"up":true}');
  assert.ok(!(await h.windowTitles(x.display)).includes('Windowless'));
  assert.equal(b.relay.calls().length, 0);
  b.relay.send('QUIT');
  assert.equal(await b.host.waitExit(), 0);
  assert.equal(fs.existsSync(path.dirname(info.socket)), false);
});

test('a bundle that cannot start says why and ends with 1', async (t) => {
  const deep = path.join(h.tempDir(), 'd'.repeat(60), 'e'.repeat(60));
  fs.mkdirSync(deep, { recursive: true });
  t.after(() => h.removeDir(path.dirname(path.dirname(deep))));
  const cases = [
    // [name, bundle options, env, stderr patterns]
    ['qbx is missing', { qbx: null }, {}, [/launcher: cannot spawn backend: \S/, USAGE]],
    ['qbx is not executable', { qbx: 'chmod' }, {}, [/launcher: cannot spawn backend: \S/, USAGE]],
    ['no index file and no QuibexUrl', { index: null }, {},
      [/quibex: \S+\.app has no page to show: there is no Contents\/Resources\/app\/frontend\/index\.html, and its Info\.plist names no QuibexUrl\n/, USAGE]],
    ['no index file and no Info.plist', { index: null, plist: null }, {},
      [/, and Contents\/Info\.plist is missing\n/, USAGE]],
    ['no index file and an Info.plist that is no property list', { index: null, plist: 'garbage' }, {},
      [/, and Contents\/Info\.plist cannot be read\n/, USAGE]],
    ['no temporary folder for the socket', {}, { TMPDIR: '/nonexistent/tmp' },
      [/quibex: cannot make the socket folder in \/nonexistent\/tmp\/: No such file or directory\n/, USAGE]],
    ['the socket path would not fit a socket address', {}, { TMPDIR: deep },
      [/launcher: cannot listen on \S+: \S/, USAGE]],
    ['the backend fails before it connects', {}, { E2E_RELAY_EXIT: '3' },
      [/launcher: the backend exited before it connected \(exit status 3\)/]],
    ['the backend is killed before it connects', { qbx: '#!/bin/sh\nkill -9 $$\n' }, {},
      [/launcher: the backend exited before it connected \(signal 9\)/]],
  ];
  for (const [name, opts, env, patterns] of cases) {
    const { dir, tmp } = place(t);
    const bundle = h.makeBundle(dir, opts.qbx === 'chmod' ? {} : opts);
    if (opts.qbx === 'chmod') fs.chmodSync(path.join(path.dirname(bundle.bin), 'qbx'), 0o644);
    const plist = path.join(bundle.app, 'Contents/Info.plist');
    if (opts.plist === null) fs.rmSync(plist);
    if (opts.plist === 'garbage') fs.writeFileSync(plist, 'not a property list');
    const b = await h.startBundle({ display: x.display, bundle, dir, env: { TMPDIR: tmp, ...env } });
    try {
      assert.equal(await b.host.waitExit(), 1, `${name}: ${b.host.stderr}`);
      for (const p of patterns) assert.match(b.host.stderr, p, name);
    } finally {
      await b.close();
    }
  }
});

test('a bundle without a display ends with 3', async (t) => {
  const b = await run(t, {}, { env: { DISPLAY: undefined } });
  assert.equal(await b.host.waitExit(), 3);
  assert.match(b.host.stderr, /display server/);
});

test('a backend that hands over to a child and exits with 0 is waited for', async (t) => {
  const b = await run(t, {}, { env: { E2E_RELAY_HANDOFF: '1' } });
  await b.ready();
  await h.hello(b.relay);
  assert.equal(b.host.exited, null);
  assert.doesNotMatch(b.host.stderr, /exited before it connected/);
  b.relay.send('QUIT');
  assert.equal(await b.host.waitExit(), 0);
});

test('SIGTERM, SIGINT and SIGHUP end the host as QUIT does, socket directory removed', async (t) => {
  for (const sig of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
    const b = await run(t, {});
    const info = await b.ready();
    await h.hello(b.relay);
    process.kill(b.host.proc.pid, sig);
    assert.equal(await b.host.waitExit(), 0, sig);
    assert.equal(fs.existsSync(path.dirname(info.socket)), false, `${sig}: the socket directory was left behind`);
  }
});

// An executable for another processor: a bare ELF header for 64-bit ARM.
function foreignExecutable() {
  const hdr = Buffer.alloc(64);
  Buffer.from([0x7f, 0x45, 0x4c, 0x46, 2, 1, 1, 0]).copy(hdr, 0);
  hdr.writeUInt16LE(2, 16); // executable
  hdr.writeUInt16LE(process.arch === 'arm64' ? 62 : 183, 18); // x86-64 on ARM, else AArch64
  hdr.writeUInt32LE(1, 20);
  hdr.writeUInt16LE(64, 52);
  hdr.writeUInt16LE(56, 54);
  return hdr;
}

test('a backend built for another processor is reported, with or without a display', async (t) => {
  for (const withDisplay of [false, true]) {
    const { dir, tmp } = place(t);
    const bundle = h.makeBundle(dir, {});
    fs.writeFileSync(path.join(path.dirname(bundle.bin), 'qbx'), foreignExecutable(), { mode: 0o755 });
    const env = { TMPDIR: tmp, ...(withDisplay ? {} : { DISPLAY: undefined }) };
    const b = await h.startBundle({ display: x.display, bundle, dir, env });
    t.after(() => b.close());
    if (withDisplay) {
      // The alert waits for its OK.
      const alert = await h.until(async () => (await h.xdotool(x.display,
        ['search', '--onlyvisible', '--class', 'quibex'])).split('\n')[0], 'the alert');
      assert.equal(b.host.exited, null);
      // No window manager here: the keyboard follows the pointer.
      await h.xdotool(x.display, ['mousemove', '--window', alert, '20', '20']);
      await h.xdotool(x.display, ['key', 'Return']);
    }
    assert.equal(await b.host.waitExit(), 1, b.host.stderr);
    assert.match(b.host.stderr, /quibex: This app was built for another processor/);
  }
});
