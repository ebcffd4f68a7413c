'use strict';
// The hello example in both modes, its checks of calls and navigations, and closing
// the window, under a window manager.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const h = require('./harness');
const n = require('./nav_support');

const EXAMPLE = path.join(h.ROOT, 'examples/hello');

const { x } = h.setUp({ windowManager: true });

// Closes a window the way a user does: focus it, press Alt+F4, the window manager asks it to close.
async function closeByUser(title) {
  const w = await h.findWindow(x.display, title);
  await h.xdotool(x.display, ['windowactivate', '--sync', w.id]);
  await h.xdotool(x.display, ['key', '--clearmodifiers', 'alt+F4']);
}

test('the example clicks through its page in demo mode and ends with 0', async (t) => {
  const dir = h.tempDir();
  t.after(() => h.removeDir(dir));
  const run = new h.Host([path.join(EXAMPLE, 'backend/entry.js'), '--listen', path.join(dir, 'hello.sock'),
    '--host', h.HOST_BIN, '--demo'], { display: x.display, bin: process.execPath });
  t.after(() => run.stop());
  assert.equal(await run.waitExit(60000), 0, run.stderr);
  const m = /^demo: page state (.*)$/m.exec(run.stdout);
  assert.ok(m, run.stdout);
  const state = JSON.parse(m[1]);
  assert.equal(state.greeting, 'Hello from the backend');
  assert.equal(state.count, 2);
  assert.equal(state.title, 'Hello demo ✓');
});

test('the example bundle starts its backend, and closing its window ends it', async (t) => {
  const dir = h.tempDir();
  t.after(() => h.removeDir(dir));
  const build = path.join(dir, 'build');
  const tmp = path.join(dir, 'tmp');
  fs.mkdirSync(build);
  fs.mkdirSync(tmp);
  fs.symlinkSync(h.HOST_BIN, path.join(build, 'quibex'));
  const app = execFileSync(path.join(EXAMPLE, 'make-bundle.sh'), [build]).toString().trim();
  assert.equal(app, path.join(build, 'Hello.app'));

  const host = new h.Host([], { display: x.display, bin: path.join(app, 'Contents/MacOS/quibex'), env: { TMPDIR: tmp } });
  t.after(() => host.stop());
  const w = await h.findWindow(x.display, 'Hello');
  // A page of 900 x 640 with the menu bar above it.
  assert.equal(w.width, 900);
  assert.ok(w.height > 640 && w.height < 700, `${w.width}x${w.height}`);
  const sockDirs = () => fs.readdirSync(tmp).filter((d) => d.startsWith('quibex-'));
  assert.equal(sockDirs().length, 1);
  await closeByUser('Hello');
  assert.equal(await host.waitExit(), 0, host.stderr);
  assert.deepEqual(sockDirs(), []);
});

// The bundle's backend waits for the test's go: until it connects, the host asks
// nobody, and the start page's jump to the web loads.
test('the example refuses a call from a page not its own and hands a link out to the desktop', async (t) => {
  const dir = h.tempDir();
  const web = await n.site();
  t.after(() => web.close());
  const go = path.join(dir, 'go');
  const bundle = h.makeBundle(dir, { name: 'Hello', pages: [], index: null,
    qbx: `#!/bin/sh\nwhile [ ! -e '${go}' ]; do sleep 0.05; done\nexec "${process.execPath}" "$2"\n` });
  fs.copyFileSync(path.join(EXAMPLE, 'backend/entry.js'), bundle.entry);
  fs.writeFileSync(path.join(path.dirname(bundle.entry), 'frontend/index.html'),
    `<script>location.replace(${JSON.stringify(web.url('/foreign.html'))})</script>`);
  const home = n.desktopHome(dir);
  const env = { ...h.sessionEnv(dir, null), ...home.env };
  const host = new h.Host([], { display: x.display, bin: bundle.bin, env });
  t.after(() => host.stop());

  await h.until(() => web.saw('/foreign.html'), 'the web page to load');
  fs.writeFileSync(go, '');
  const outcome = await h.until(() => web.requests.find((r) => r.path.startsWith('/outcome?')), 'the call\'s outcome');
  const [how, value] = decodeURIComponent(outcome.path.slice('/outcome?'.length)).split(/=(.*)/s);
  assert.equal(how, 'refused', value);
  assert.match(JSON.parse(value).error, /not a page of this application/);

  const outside = web.url('/probe.html?outside');
  await h.until(() => home.opened().includes(outside), 'the desktop to open the link');
  assert.ok(!web.saw('/probe.html?outside'), 'the window never loads it');
});

test('closing the main window ends a command-line host with 0', async () => {
  const s = await h.startSession({ display: x.display, args: ['Close Me'] });
  try {
    await h.hello(s.backend);
    await closeByUser('Close Me');
    assert.equal(await s.host.waitExit(), 0, s.host.stderr);
  } finally {
    await s.close();
  }
});
