'use strict';
// How the host starts, refuses to start and ends in command-line mode.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

const USAGE = /usage: \S+ <html-file-or-url> <socket-path> \[title\] \[WxH\]/;
const PROBE = path.join(h.PAGES, 'probe.html');
// Which rule failed, then the usage line.
const NO_BUNDLE = new RegExp('^quibex: not an application bundle: \\S+ is not inside a folder whose name ends in ' +
  '\\.app\nusage: \\S+ <html-file-or-url> <socket-path> \\[title\\] \\[WxH\\]\n$');

test('the host ends with 0 on QUIT and when the backend closes the socket', async () => {
  const endings = [
    ['QUIT', (b) => b.send('QUIT')],
    ['end of stream', (b) => b.end()],
    ['QUIT after other lines in the same write', (b) => b.sock.write('TITLE going\nEVAL 1+1\nQUIT\n')],
  ];
  for (const [name, end] of endings) {
    const s = await h.startSession({ display: x.display });
    try {
      await h.hello(s.backend);
      end(s.backend);
      assert.equal(await s.host.waitExit(), 0, name);
    } finally {
      await s.close();
    }
  }
});

test('QUIT with a stray carriage return before CR LF, or in lower case, does not end the host', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    await h.hello(s.backend);
    s.backend.send('QUIT\r\r');
    s.backend.send('quit');
    s.backend.send('QUIT now');
    await s.backend.sync();
    assert.equal(s.host.exited, null);
    s.backend.send('QUIT');
    assert.equal(await s.host.waitExit(), 0);
  } finally {
    await s.close();
  }
});

test('the host refuses to start, with a diagnostic and an exit code', async (t) => {
  const dir = h.tempDir();
  t.after(() => h.removeDir(dir));
  const listening = new h.Backend(path.join(dir, 'ok.sock'));
  await listening.listen();
  t.after(() => listening.close());

  // A path longer than a socket address holds, whose first 103 bytes name a live socket:
  // cutting it would connect to the wrong backend.
  const longName = 'L'.repeat(200);
  const longPath = path.join(dir, longName);
  const cut = new h.Backend(longPath.slice(0, 103));
  await cut.listen();
  t.after(() => cut.close());

  const cases = [
    // [name, args, env, exit code, stderr pattern]
    ['no arguments outside a bundle', [], {}, 1, NO_BUNDLE],
    ['one argument outside a bundle', [PROBE], {}, 1, NO_BUNDLE],
    ['nobody listens on the socket', [PROBE, path.join(dir, 'none.sock')], {}, 1,
      new RegExp('launcher: cannot connect to ' + path.join(dir, 'none.sock') + ': \\S')],
    ['the socket path is a plain file', [PROBE, __filename], {}, 1, /launcher: cannot connect to /],
    ['the socket path is too long', [PROBE, longPath], {}, 1, /launcher: cannot connect to /],
    ['the page file is missing', [path.join(dir, 'missing.html'), listening.path], {}, 1,
      new RegExp('launcher: cannot read ' + path.join(dir, 'missing.html'))],
    ['the page is a relative name that does not exist', ['nosuch/page.html', listening.path], {}, 1,
      /launcher: cannot read nosuch\/page\.html/],
    ['no display', [PROBE, listening.path], { DISPLAY: undefined }, 3, /display server/],
    ['a display nobody serves', [PROBE, listening.path], { DISPLAY: ':4093' }, 3, /display server/],
  ];
  for (const [name, args, env, code, pattern] of cases) {
    const host = new h.Host(args, { display: x.display, env, cwd: dir });
    try {
      assert.equal(await host.waitExit(), code, `${name}: ${host.stderr}`);
      assert.match(host.stderr, pattern, name);
    } finally {
      await host.stop();
    }
  }
  assert.equal(cut.sock, null, 'the host connected to a socket whose path is a prefix of the one it was given');
});

test('--help, -h and --version answer on stdout, without a display, in a bundle too', async (t) => {
  const dir = h.tempDir();
  t.after(() => h.removeDir(dir));
  const inBundle = h.makeBundle(dir).bin;
  const help = /^usage: \S+ <html-file-or-url> <socket-path> \[title\] \[WxH\] \[version\]\n[^]*QUIBEX_DEBUG=1/;
  const version = /^quibex \d+\.\d+\.\d+\n$/;
  const cases = [['--help', help], ['-h', help], ['--version', version]];
  for (const bin of [h.HOST_BIN, inBundle])
    for (const [arg, out] of cases) {
      const host = new h.Host([arg], { bin, unsetDisplay: true });
      assert.equal(await host.waitExit(), 0, `${arg}: ${host.stderr}`);
      assert.match(host.stdout, out, arg);
      assert.equal(host.stderr, '', arg);
    }
});

test('without a display the host says so before it connects to the backend', async (t) => {
  const dir = h.tempDir();
  t.after(() => h.removeDir(dir));
  const b = new h.Backend(path.join(dir, 'b.sock'));
  await b.listen();
  t.after(() => b.close());
  const host = new h.Host([PROBE, b.path], { env: { DISPLAY: undefined } });
  assert.equal(await host.waitExit(), 3);
  assert.match(host.stderr, /^quibex: cannot create the webview window: .*the display server/m);
  assert.match(host.stderr, /^quibex: the app code is likely fine; .*on this machine/m);
  assert.equal(b.sock, null);
});

test('a backend that stops reading does not stop the host from ending', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    await h.hello(s.backend);
    s.backend.sock.pause();
    // Fill the socket with GOT lines the backend never reads.
    const big = '"' + 'y'.repeat(60000) + '"';
    for (let i = 0; i < 40; i++) s.backend.send(`RET q${i} 0 ${big}`);
    s.backend.send('QUIT');
    s.backend.sock.destroy();
    assert.equal(await s.host.waitExit(), 0);
  } finally {
    await s.close();
  }
});

test('a backend that closes while the page keeps calling does not kill the host by a signal', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    await h.hello(s.backend);
    s.backend.eval("setInterval(() => quib.api.call('tick').catch(() => {}), 1)");
    await s.backend.expectCall('tick');
    s.backend.sock.destroy();
    assert.equal(await s.host.waitExit(), 0);
  } finally {
    await s.close();
  }
});

test('QUIBEX_NO_MAIN_WINDOW=1 runs without a window and loads no page', async () => {
  const s = await h.startSession({ display: x.display, page: path.join(h.PAGES, 'missing.html'), args: ['Nowhere'],
    env: { QUIBEX_NO_MAIN_WINDOW: '1' } });
  try {
    s.backend.send('RET q1 0 {"up":true}');
    assert.equal((await s.backend.expectLine(/^GOT .*/s))[0], 'GOT 1 {"up":true}');
    assert.ok(!(await h.windowTitles(x.display)).includes('Nowhere'));
    assert.equal(s.backend.calls().length, 0);
    s.backend.send('QUIT');
    assert.equal(await s.host.waitExit(), 0);
  } finally {
    await s.close();
  }
});
