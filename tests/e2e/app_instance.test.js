'use strict';
// One running instance per bundle: a later start of the same bundle hands its links and
// files (or a plain relaunch) to the running host on the session bus and ends, without a
// backend or a socket of its own. Each test runs its own private session bus.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp({ windowManager: true });

// A bundle whose qbx notes each backend it starts, on a private session bus.
async function setUp(t, { name = 'Opener', plist = { CFBundleIdentifier: 'org.example.Opener' }, bus = true } = {}) {
  // Left for the harness to remove at the end: hosts write caches here until they stop.
  const dir = h.tempDir();
  const session = bus ? await h.startBus(dir) : null;
  if (session) t.after(() => session.stop());
  const runs = path.join(dir, 'backends.log');
  const qbx = `#!/bin/sh\n[ "$1" = run ] || exit 64\necho "$$" >> "${runs}"\nexec "${process.execPath}" "$2"\n`;
  const bundle = h.makeBundle(dir, { name, plist, qbx });
  const env = h.sessionEnv(dir, session);
  return {
    dir, bundle, env,
    backends: () => (fs.existsSync(runs) ? fs.readFileSync(runs, 'utf8').split('\n').filter(Boolean).length : 0),
    // A first start: a host with its backend relayed to the test.
    async first({ args = [] } = {}) {
      const relayDir = fs.mkdtempSync(path.join(dir, 'relay-'));
      const b = await h.startBundle({ display: x.display, bundle, dir: relayDir, args, env });
      t.after(() => b.close());
      await b.ready();
      await h.hello(b.relay);
      return b;
    },
    // A later start with these arguments; resolves with its exit code and stderr.
    async again(args, { cwd, tmp } = {}) {
      const host = new h.Host(args, { display: x.display, bin: bundle.bin, cwd,
        env: { ...env, E2E_RELAY: path.join(dir, 'nobody.sock'), ...(tmp ? { TMPDIR: tmp } : {}) } });
      t.after(() => host.stop());
      const code = await host.waitExit();
      return { code, stderr: host.stderr };
    },
  };
}

const linesOf = (b, re) => b.relay.lines.filter((l) => re.test(l));

test('a later start hands its links and files to the running host and ends', async (t) => {
  const s = await setUp(t);
  const b = await s.first();
  const work = path.join(s.dir, 'work');
  const tmp2 = path.join(s.dir, 'tmp2');
  fs.mkdirSync(work);
  fs.mkdirSync(tmp2);
  const odd = path.join(s.dir, 'a "quoted"\nname ü.txt');
  const again = await s.again(['--open', 'opener://item?q=a%20b&x=1', 'notes.txt', odd, 'mailto:me@example.org'],
    { cwd: work, tmp: tmp2 });
  assert.equal(again.code, 0, again.stderr);
  assert.equal(again.stderr, '');

  const files = await b.relay.expectLine(/^OPENFILES (.*)$/);
  assert.deepEqual(JSON.parse(files[1]), [path.join(work, 'notes.txt'), odd]);
  // Links first, one line each as given, then the files in one line.
  const order = b.relay.lines.filter((l) => /^OPEN(URL|FILES) /.test(l));
  assert.deepEqual(order, ['OPENURL opener://item?q=a%20b&x=1', 'OPENURL mailto:me@example.org', 'OPENFILES ' + files[1]]);
  // No second backend, and nothing made in the later start's temporary directory.
  assert.equal(s.backends(), 1);
  assert.deepEqual(fs.readdirSync(tmp2), []);
  assert.equal(b.host.exited, null);

  // A link that cannot travel on one line is dropped; the next request still arrives.
  const broken = await s.again(['--open', 'opener://a\nb']);
  assert.equal(broken.code, 0, broken.stderr);
  const next = await s.again(['--open', 'opener://next']);
  assert.equal(next.code, 0, next.stderr);
  await b.relay.expectLine(/^OPENURL opener:\/\/next$/);
  assert.deepEqual(linesOf(b, /^OPENURL opener:\/\/a/), []);
  assert.match(b.host.stderr, /dropped a wire line with a raw line break/);

  b.relay.send('QUIT');
  assert.equal(await b.host.waitExit(), 0);
});

test('the first start\'s own links and files reach its backend', async (t) => {
  const s = await setUp(t);
  const file = path.join(s.dir, 'doc.txt');
  const b = await s.first({ args: ['--open', file, 'opener://launch'] });
  await b.relay.expectLine(/^OPENURL opener:\/\/launch$/);
  assert.deepEqual(JSON.parse((await b.relay.expectLine(/^OPENFILES (.*)$/))[1]), [file]);

  // A later start with nothing to open is a relaunch, not an open request.
  const again = await s.again([]);
  assert.equal(again.code, 0, again.stderr);
  await b.relay.sync();
  assert.equal(linesOf(b, /^OPEN/).length, 2);
});

test('a lone link or existing file is opened without --open; another lone argument is said to be ignored', async (t) => {
  const s = await setUp(t);
  const b = await s.first({ args: ['opener://first'] });
  await b.relay.expectLine(/^OPENURL opener:\/\/first$/);
  const work = path.join(s.dir, 'work');
  fs.mkdirSync(work);
  fs.writeFileSync(path.join(work, 'here.txt'), '');
  // [the one argument, its line at the running host (null: none), the later start's stderr]
  const cases = [
    ['opener://open/this', 'OPENURL opener://open/this', /^$/],
    ['here.txt', `OPENFILES ${JSON.stringify([path.join(work, 'here.txt')])}`, /^$/],
    ['missing.txt', null, /^quibex: this start ignores its argument "missing\.txt"/],
    ['--verbose', null, /^quibex: this start ignores its argument "--verbose"/],
  ];
  for (const [arg, line, stderr] of cases) {
    const again = await s.again([arg], { cwd: work });
    assert.equal(again.code, 0, again.stderr);
    assert.match(again.stderr, stderr, arg);
    if (line) await b.relay.expectLine((l) => l === line);
  }
  await b.relay.sync();
  assert.equal(linesOf(b, /^OPEN/).length, 3, 'a start that opens nothing is a relaunch');
  assert.equal(s.backends(), 1);
});

test('a relaunch shows the main window that closing hid; otherwise it brings the application back', async (t) => {
  const s = await setUp(t);
  const b = await s.first();
  const d = x.display;
  const main = await h.findWindow(d, 'Opener');
  const mapped = (yes) => h.untilValue(() => h.xwininfo(d, main.id).then((i) => i.mapped), (m) => m === yes,
    `main window ${yes ? 'mapped' : 'unmapped'}`);

  b.relay.send('WINOP hideonclose 1');
  await b.relay.sync();
  await h.xrun(d, 'xdotool', ['windowactivate', '--sync', main.id]);
  await h.xrun(d, 'xdotool', ['key', 'alt+F4']);
  await mapped(false);
  let again = await s.again([]);
  assert.equal(again.code, 0, again.stderr);
  await mapped(true);

  // Without hide-on-close the desktop's default: the hidden application comes back.
  b.relay.send('WINOP hideonclose 0');
  b.relay.send('WINOP hide');
  await mapped(false);
  again = await s.again([]);
  assert.equal(again.code, 0, again.stderr);
  await mapped(true);
  assert.equal(s.backends(), 1);
});

test('bundles of the same name elsewhere are different applications', async (t) => {
  const s1 = await setUp(t, { plist: {} });
  const b1 = await s1.first();
  // Another Opener.app on the same bus, without a bundle identifier either.
  const s2dir = h.tempDir();
  const bundle2 = h.makeBundle(s2dir, { name: 'Opener' });
  const b2 = await h.startBundle({ display: x.display, bundle: bundle2, dir: s2dir, env: s1.env });
  t.after(() => b2.close());
  await b2.ready();
  await h.hello(b2.relay);
  assert.equal(b1.host.exited, null);
  assert.equal(b2.host.exited, null);
});

// Another process holding the bundle's id on the bus; `answers`: it passes for the
// running instance but takes no request.
async function holdName(t, env, name, answers) {
  const holder = h.launch(h.SYSTEM_PYTHON, [path.join(__dirname, 'peers/name_holder.py'), name, answers ? 'answers' : 'mute'],
    { stdio: ['pipe', 'pipe', 'pipe'], env: { ...process.env, ...env } });
  t.after(() => h.stopGroup(holder));
  await new Promise((resolve, reject) => {
    holder.stdout.once('data', resolve);
    holder.exitInfo.then(() => reject(new Error('the name holder ended')));
  });
}

test('a request the running instance does not take is reported, and no backend starts', async (t) => {
  const s = await setUp(t);
  await holdName(t, s.env, 'org.example.Opener', true);
  const again = await s.again(['--open', 'opener://lost']);
  assert.equal(again.code, 1);
  assert.match(again.stderr, /^quibex: Opener is running, but did not take this request: .*org\.gtk\.Application/);
  assert.equal(s.backends(), 0);
});

test('an id held by something that is no running instance: the start runs on its own with its request', async (t) => {
  const s = await setUp(t);
  await holdName(t, s.env, 'org.example.Opener', false);
  const b = await s.first({ args: ['--open', 'opener://mine'] });
  await b.relay.expectLine(/^OPENURL opener:\/\/mine$/);
  assert.match(b.host.stderr, /quibex: this start runs on its own, without a running instance to hand over to/);
});

test('without a session bus every start runs on its own, quietly', async (t) => {
  const s = await setUp(t, { bus: false });
  const b1 = await s.first();
  const b2 = await s.first();
  assert.equal(s.backends(), 2);
  for (const b of [b1, b2]) {
    b.relay.send('QUIT');
    assert.equal(await b.host.waitExit(), 0);
    assert.equal(b.host.stderr, '');
  }
});

test('the example bundle\'s desktop entry declares its links and files, matches its windows and starts the host with them', async (t) => {
  const s = await setUp(t);
  // The example bundle, built around the host under test, with the relay as its backend.
  const build = path.join(s.dir, 'build');
  fs.mkdirSync(build);
  fs.copyFileSync(h.HOST_BIN, path.join(build, 'quibex'));
  fs.chmodSync(path.join(build, 'quibex'), 0o755);
  await h.xrun(x.display, path.join(h.ROOT, 'examples/hello/make-bundle.sh'), [build]);
  const app = path.join(build, 'Hello.app');
  fs.copyFileSync(path.join(__dirname, 'relay_entry.js'), path.join(app, 'Contents/Resources/app/entry.js'));
  const entries = fs.readdirSync(path.join(app, 'Contents')).filter((f) => f.endsWith('.desktop'));
  assert.equal(entries.length, 1);
  const desktop = path.join(app, 'Contents', entries[0]);
  const text = fs.readFileSync(desktop, 'utf8');
  const field = (k) => (new RegExp(`^${k}=(.*)$`, 'm').exec(text) || [])[1];
  assert.ok(field('MimeType').split(';').includes('x-scheme-handler/hello'), text);
  assert.ok(field('MimeType').split(';').includes('text/plain'), text);
  assert.match(field('Exec'), / --open %U$/);

  const relay = new h.Backend(path.join(s.dir, 'hello-relay.sock'), 'relay');
  await relay.listen();
  const host = new h.Host([], { display: x.display, bin: path.join(app, 'Contents/MacOS/quibex'),
    env: { ...s.env, E2E_RELAY: relay.path } });
  t.after(async () => { await host.stop(); relay.close(); });
  await relay.waitConnected();
  // The entry matches the host's windows and shows the icon they show.
  const win = (await h.findWindow(x.display, 'Hello')).id;
  const props = await h.xprop(x.display, win, 'WM_CLASS', '_GTK_APPLICATION_ID');
  assert.equal(/WM_CLASS\(STRING\) = "[^"]*", "([^"]*)"/.exec(props)[1], field('StartupWMClass'));
  assert.equal(/_GTK_APPLICATION_ID\(UTF8_STRING\) = "([^"]*)"/.exec(props)[1], entries[0].replace(/\.desktop$/, ''));
  assert.equal(field('Icon'), path.join(app, 'Contents/Resources/Hello.svg'));
  assert.ok(fs.existsSync(field('Icon')));
  assert.doesNotMatch(host.stderr, /CFBundleIconFile/, 'the bundle\'s icon is read');

  const file = path.join(s.dir, 'letter.txt');
  fs.writeFileSync(file, 'hello');
  await h.run('gio', ['launch', desktop, 'hello://greet', file], { ...s.env, DISPLAY: x.display, NO_AT_BRIDGE: '1' });
  await relay.expectLine(/^OPENURL hello:\/\/greet$/);
  assert.deepEqual(JSON.parse((await relay.expectLine(/^OPENFILES (.*)$/))[1]), [file]);
  assert.equal(host.exited, null);
});
