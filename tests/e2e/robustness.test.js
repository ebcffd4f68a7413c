'use strict';
// The host stays up, responsive and lossless when a backend misbehaves: it stops
// reading, ends its lines with CR LF, sends blank fields, absurdly deep menus or
// window ids that would break wire lines, or pulls the working directory away.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

async function session(t, opts = {}) {
  const s = await h.startSession({ display: x.display, args: ['Robust'], ...opts });
  t.after(() => s.close());
  await h.hello(s.backend);
  return s;
}

// The host is up and its main thread serves commands again.
async function alive(s) {
  await s.backend.sync();
  assert.equal(s.host.exited, null, s.host.describe());
}

test('a backend that stops reading freezes no window, and every line reaches it once it reads again', async (t) => {
  const s = await session(t);
  const b = s.backend;
  b.sock.pause();
  // About 30 MB of page calls, far beyond what the socket holds.
  const n = 300;
  b.eval(`for (let i = 0; i < ${n}; i++) quib.api.call('flood', {i, pad: 'x'.repeat(100000)}).catch(() => {})`);
  // The main thread still carries out commands while nothing is read.
  b.send('TITLE Still Responsive');
  await h.findWindow(x.display, 'Still Responsive');
  b.send('WINOP pos 40 60');
  b.send('TITLE Moved Too');
  await h.findWindow(x.display, 'Moved Too');
  b.sock.resume();
  for (let i = 0; i < n; i++) await b.expectCall('flood', (c) => c.params.i === i, 60000);
  const order = b.calls().filter((c) => c.method === 'flood').map((c) => c.params.i);
  assert.deepEqual(order, [...Array(n).keys()]);
  await alive(s);
});

test('lines ended with CR LF mean the same lines', async (t) => {
  const s = await session(t);
  const b = s.backend;
  b.sock.write('RET q7 0 {"a":1}\r\n');
  assert.equal((await b.expectLine(/^GOT 7 .*/))[0], 'GOT 7 {"a":1}');
  b.sock.write('TITLE Crlf Title\r\n');
  await h.findWindow(x.display, 'Crlf Title');
  b.sock.write(`EVAL probe.report('crlf', {v: 2})\r\n`);
  assert.equal((await b.expectReport('crlf')).v, 2);
  b.sock.write('QUIT\r\n');
  assert.equal(await s.host.waitExit(), 0);
});

test('an empty status answers as success and never reads into the next line', async (t) => {
  const s = await session(t);
  const b = s.backend;
  b.eval("probe.call('blank', 'ask')");
  const c = await b.expectCall('ask');
  // Status and payload are separated by two spaces: the status is empty.
  b.sock.write(`RET ${c.id}  5\n`);
  assert.deepEqual(await b.expectReport('blank'), { tag: 'blank', ok: true, value: 5 });
  b.eval("probe.call('blank2', 'ask2')");
  const c2 = await b.expectCall('ask2');
  b.sock.write(`RET ${c2.id}  \n17\n`);
  assert.deepEqual(await b.expectReport('blank2'), { tag: 'blank2', ok: true, value: null });
  await alive(s);
});

test('menus nested a million levels deep neither crash the host nor make it silent', async (t) => {
  const s = await session(t);
  const b = s.backend;
  const subs = (k) => 'SUB s\n'.repeat(k);
  b.sock.write('MENUBEGIN\nMENU Deep\n' + subs(110000) + 'ITEM i\nMENUEND\n');
  b.sock.write('TRAYBEGIN\n' + subs(1000000) + 'TRAYEND\n');
  b.sock.write('CTXBEGIN\n' + subs(1000000) + 'CTXEND\n');
  await alive(s);
  const said = s.host.stderr.split('\n').filter((l) => l.includes('submenus nested deeper than')).length;
  assert.equal(said, 3, s.host.stderr);
});

test('window ids that would break wire lines are refused with a diagnostic', async (t) => {
  const s = await session(t);
  const b = s.backend;
  const page = path.join(h.PAGES, 'probe.html');
  const bad = ['a b', 'w:2', "it's", 'say"hi"', '*', 'c\rr'];
  for (const id of bad) b.sock.write(`WINOPEN ${id}\t${page}\tRefused ${bad.indexOf(id)}\n`);
  b.send(`WINOPEN fine\t${page}\tAccepted Window`);
  await h.hello(b, 'fine');
  await h.findWindow(x.display, 'Accepted Window');
  const titles = await h.windowTitles(x.display);
  assert.ok(!titles.some((t) => t.startsWith('Refused')), titles.join(', '));
  assert.ok(!b.calls().some((c) => c.win !== 'main' && c.win !== 'fine'));
  const refusals = s.host.stderr.split('\n').filter((l) => l.startsWith('quibex: WINOPEN refused the window id'));
  assert.equal(refusals.length, bad.length, s.host.stderr);
  await alive(s);
});

test('a window opened on a relative page after the working directory is gone opens blank', async (t) => {
  const dir = h.tempDir();
  fs.mkdirSync(path.join(dir, 'cwd'));
  fs.copyFileSync(path.join(h.PAGES, 'probe.html'), path.join(dir, 'probe.html'));
  fs.copyFileSync(path.join(h.PAGES, 'probe.js'), path.join(dir, 'probe.js'));
  const s = await session(t, { page: path.join(dir, 'probe.html'), cwd: path.join(dir, 'cwd') });
  fs.rmdirSync(path.join(dir, 'cwd'));
  s.backend.send('WINOPEN orphan\tpages/probe.html\tOrphan Window');
  await h.findWindow(x.display, 'Orphan Window');
  await alive(s);
  assert.match(s.host.stderr, /WINOPEN orphan: cannot find the page pages\/probe\.html/);
  s.backend.send('WINCLOSE orphan');
  await s.backend.expectLine(/^WINCLOSED orphan$/);
});

test('QUIBEX_DEBUG=1 says which lines the host cannot use and what pages write to their consoles', async (t) => {
  const page = path.join(h.PAGES, 'probe.html');
  const said = [
    /^quibex: debug: FROB 1 2: unknown command \(said once per command\)$/m,
    /^quibex: debug: WINOP@w9: no window "w9" \(said once per command\)$/m,
    /^quibex: page main: log: hello \(file:\/\/\S+\/probe\.html:\d+\)\nquibex: page main: {3}world$/m,
    /^quibex: page main: uncaught: Error: boom/m,
    /^quibex: page main: uncaught: Unhandled Promise Rejection: Error: nope$/m,
    /^quibex: page w2: warning: from w2/m,
  ];
  for (const debug of [true, false]) {
    const s = await session(t, { env: debug ? { QUIBEX_DEBUG: '1' } : {} });
    const b = s.backend;
    b.send('FROB 1 2');
    b.send('WINOP@w9 show');
    b.send('WINOP@w9 hide');
    b.send(`WINOPEN w2\t${page}\tSecond`);
    await h.hello(b, 'w2');
    b.eval("console.log('hello\\nworld'); setTimeout(() => { throw new Error('boom'); }); Promise.reject(new Error('nope'))");
    b.eval("console.warn('from w2')", 'w2');
    // Each page's messages are on their way once it has answered after them.
    for (const win of ['main', 'w2']) {
      b.eval("setTimeout(() => probe.report('after', {}), 50)", win);
      await b.expectReport('after');
    }
    if (debug) {
      for (const p of said) await h.until(() => p.test(s.host.stderr), `${p} on stderr\n${s.host.stderr}`, 5000);
      assert.equal(s.host.stderr.split('\n').filter((l) => l.startsWith('quibex: debug: WINOP')).length, 1);
    } else {
      await h.sleep(300);
      assert.doesNotMatch(s.host.stderr, /quibex: (debug|page) /);
    }
  }
});
