'use strict';
// SHELL, LOGIN, POWER, SOUND and SPOTLIGHT against the real desktop services, each
// started by the test: the trash of a temporary HOME, its autostart folder, logind
// (python-dbusmock) on a private system bus, PulseAudio with a null sink.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['dbus-daemon', 'dbus'], ['gdbus', 'libglib2.0-bin']],
  [['dbusmock', 'python3-dbusmock']]);

let asked = 0;
async function ask(b, cmd, rest) {
  const id = 'c' + (++asked);
  b.send(rest === undefined ? `${cmd} ${id}` : `${cmd} ${id} ${rest}`);
  return b.answer(id);
}

describe('desktop commands', { skip }, () => {
  const { x, dir, bus, s } = h.setUp({ dir: 'qbx-desk-', bus: true,
    session: (p) => ({ env: { ...h.sessionEnv(p.dir, p.bus), PULSE_SERVER: 'unix:/nonexistent' } }) });

  // The host's mapped windows of the popup-menu type, with their geometry.
  const menus = async () => {
    const ids = (await h.xdotool(x.display, ['search', '--onlyvisible', '--pid', String(s.host.proc.pid)])
      .catch(() => '')).split('\n').filter(Boolean);
    const out = [];
    for (const id of ids) {
      if (/POPUP_MENU/.test(await h.xprop(x.display, id, '_NET_WM_WINDOW_TYPE').catch(() => ''))) out.push(await h.xwininfo(x.display, id));
    }
    return out;
  };
  const closeMenu = async () => {
    await h.xdotool(x.display, ['key', 'Escape']);
    await h.untilValue(menus, (l) => l.length === 0, 'the menu closed');
  };

  test('trash moves the file into the freedesktop trash of HOME; nothing else is moved', async () => {
    const b = s.backend;
    const file = path.join(dir, 'old notes.txt');
    fs.writeFileSync(file, 'bye');
    const cwdBefore = fs.readdirSync(process.cwd()).sort();
    assert.deepEqual(await ask(b, 'SHELL', 'trash\t~/old notes.txt'), { ok: true, error: null });
    assert.equal(fs.existsSync(file), false);
    const trash = path.join(dir, '.local/share/Trash');
    assert.deepEqual(fs.readdirSync(path.join(trash, 'files')), ['old notes.txt']);
    assert.match(fs.readFileSync(path.join(trash, 'info', 'old notes.txt.trashinfo'), 'utf8'), /Path=.*old%20notes\.txt/);
    const cases = [
      ['trash\t', { ok: false, error: 'not an absolute path' }],
      ['trash\t.', { ok: false, error: 'not an absolute path' }],
      ['trash\thttps://example.com/x', { ok: false, error: 'not a file URL' }],
      ['frobnicate\t/tmp', { ok: false, error: 'unknown shell op' }],
      ['open\t~/missing.txt', { ok: false, error: 'no such file' }],
      ['reveal\t/no/such/place', { ok: false, error: 'no such file' }],
    ];
    for (const [rest, want] of cases) assert.deepEqual(await ask(b, 'SHELL', rest), want, rest);
    assert.deepEqual(fs.readdirSync(process.cwd()).sort(), cwdBefore, 'the working folder is untouched');
    const gone = await ask(b, 'SHELL', `trash\t${file}`);
    assert.equal(gone.ok, false);
    assert.equal(typeof gone.error, 'string');
    const missing = await ask(b, 'SHELL', 'open\tfile:///no/such/file.txt');
    assert.deepEqual(missing, { ok: false, error: 'no application registered for URL' });
  });

  test('file search walks HOME: names match without case or accents, at most 100', async () => {
    const b = s.backend;
    const docs = path.join(dir, 'docs', 'deep', 'er');
    fs.mkdirSync(docs, { recursive: true });
    fs.writeFileSync(path.join(docs, 'Résumé Final.pdf'), '');
    fs.writeFileSync(path.join(dir, 'docs', 'resume-draft.txt'), '');
    fs.mkdirSync(path.join(dir, '.hidden'), { recursive: true });
    fs.writeFileSync(path.join(dir, '.hidden', 'resume-secret.txt'), '');
    const got = await ask(b, 'SPOTLIGHT', 'RESUME');
    assert.equal(got.ok, true);
    assert.deepEqual(got.paths.sort(), [path.join(dir, 'docs', 'resume-draft.txt'), path.join(docs, 'Résumé Final.pdf')].sort());
    const many = path.join(dir, 'many');
    fs.mkdirSync(many);
    for (let i = 0; i < 250; i++) fs.writeFileSync(path.join(many, `match-${i}`), '');
    const capped = await ask(b, 'SPOTLIGHT', 'match-');
    assert.equal(capped.paths.length, 100);
    assert.deepEqual(await ask(b, 'SPOTLIGHT', 'zzz-nothing-zzz'), { ok: true, paths: [] });
  });

  test('without an audio server a named sound answers false; the beep answers true', async () => {
    const b = s.backend;
    assert.deepEqual(await ask(b, 'SOUND', 'bell'), { ok: false });
    assert.deepEqual(await ask(b, 'SOUND'), { ok: true });
  });

  test('POWER without logind or a screen saver cannot hold anything', async () => {
    const b = s.backend;
    assert.deepEqual(await ask(b, 'POWER', 'on\t1\twatching'), { ok: false, active: false });
    assert.deepEqual(await ask(b, 'POWER', 'off\t0\t'), { ok: true, active: false });
  });

  test("QUICKLOOK shows the host's own preview without a previewer and closes it; SHARE opens one menu", async () => {
    const b = s.backend;
    const a = path.join(dir, 'a.txt');
    fs.writeFileSync(a, 'alpha');
    fs.writeFileSync(path.join(dir, 'b.txt'), 'beta');
    b.send(`QUICKLOOK ${a}\t${path.join(dir, 'b.txt')}`);
    await h.findWindow(x.display, 'a.txt (1 of 2)');
    b.send('QUICKLOOK');
    await h.untilValue(() => h.windowTitles(x.display), (t) => !t.includes('a.txt (1 of 2)'), 'the preview closed');
    b.send('SHARE 10\t20\t\t\t');  // nothing to share: no menu
    b.send('SHARE@nosuch 10\t20\thello\t\t');
    await b.sync();
    assert.deepEqual(await menus(), []);
    b.send(`SHARE 10\t20\thello\thttps://example.com\t${a}`);
    const [first] = await h.untilValue(menus, (l) => l.length === 1, 'the share menu');
    // The next SHARE replaces the menu still open.
    b.send('SHARE 200\t200\thello\t\t');
    await h.untilValue(menus, (l) => l.length === 1 && l[0].x !== first.x, 'one menu, the new one');
    await closeMenu();
    assert.equal(s.host.exited, null);
  });

  test('SHARE at a point outside the view opens its menu at the nearest point inside', async () => {
    const b = s.backend;
    const frame = await h.xwininfo(x.display, (await h.findWindow(x.display, 'quibex')).id);
    const shareAt = async (px, py) => {
      b.send(`SHARE ${px}\t${py}\thello\t\t`);
      const [m] = await h.untilValue(menus, (l) => l.length === 1, `the share menu at ${px}, ${py}`);
      await closeMenu();
      return m;
    };
    const origin = await shareAt(0, 0);
    assert.deepEqual(await shareAt(-2147483648, -2147483648), origin);
    // The view's far corner: the menu opens by the window's bottom right corner
    // (moved up or left only as far as the screen's edge asks).
    const far = await shareAt(2147483647, 2147483647);
    const inside = (v, start, size) => v > start + size / 2 && v <= start + size;
    assert.ok(inside(far.x, frame.x, frame.width) && inside(far.y, frame.y, frame.height), JSON.stringify({ far, frame }));
    assert.equal(s.host.exited, null);
  });

  test('LOGIN in command-line mode is unsupported', async () => {
    assert.deepEqual(await ask(s.backend, 'LOGIN', 'set 1'), { status: 'unsupported', ok: false, error: null });
  });
});

describe('power through logind', { skip }, () => {
  const { x, dir, system } = h.setUp({ dir: 'qbx-power-', system: true,
    more: { logind: (p) => h.startMock(p.system.address, 'logind') } });

  const inhibitors = async () => {
    const out = await h.gdbusCall(system.address, 'org.freedesktop.login1', '/org/freedesktop/login1',
      'org.freedesktop.login1.Manager.ListInhibitors');
    return [...out.matchAll(/\('([^']*)', '([^']*)', '([^']*)', '([^']*)'/g)].map((m) => m.slice(1, 5));
  };

  test('on holds one idle inhibition, on again replaces it, off and the end of the host release it', async () => {
    const s = await h.startSession({ display: x.display, env: { DBUS_SYSTEM_BUS_ADDRESS: system.address, HOME: dir } });
    try {
      const b = s.backend;
      await h.hello(b);
      assert.deepEqual(await ask(b, 'POWER', 'on\t0\tbackup'), { ok: true, active: true });
      assert.deepEqual(await inhibitors(), [['idle', 'quibex', 'backup', 'block']]);
      assert.deepEqual(await ask(b, 'POWER', 'on\t0\t'), { ok: true, active: true });
      await h.untilValue(inhibitors, (l) => l.length === 1 && l[0][2] === 'quibex app', 'one inhibition, replaced');
      assert.deepEqual(await ask(b, 'POWER', 'off\t0\t'), { ok: true, active: false });
      await h.untilValue(inhibitors, (l) => l.length === 0, 'released');
      assert.deepEqual(await ask(b, 'POWER', 'on\t0\tlast'), { ok: true, active: true });
      // A reason that is not UTF-8 is refused; what is held stays held.
      b.send(Buffer.concat([Buffer.from('POWER bad on\t0\tback'), Buffer.from([0xff])]));
      assert.equal(await b.expectLine((l) => l.startsWith('GOT bad ')), 'GOT bad {"ok":false,"active":true}');
      assert.deepEqual(await inhibitors(), [['idle', 'quibex', 'last', 'block']]);
      assert.doesNotMatch(s.host.stderr, /CRITICAL/);
    } finally {
      await s.close();
    }
    await h.untilValue(inhibitors, (l) => l.length === 0, 'released when the host ended');
  });
});

describe('file search through the file index', { skip: skip || (!h.hasCommand('tracker3') && 'needs tracker3 (tracker)') }, () => {
  const INDEX = 'org.freedesktop.Tracker3.Miner.Files';
  // tracker3 serving an index in dir that holds two files there and one elsewhere.
  async function startIndex() {
    const env = { ...process.env, ...h.sessionEnv(dir, bus) };
    const index = h.launch('tracker3', ['endpoint', '--session', '--dbus-service', INDEX, '--ontology', 'nepomuk',
      '--database', path.join(dir, 'index')], { stdio: ['ignore', 'ignore', 'ignore'], env });
    await h.until(() => h.hasOwner(bus.address, INDEX), 'the file index');
    const u = (name) => `file://${encodeURI(path.join(dir, name))}`;
    await h.run('tracker3', ['sparql', '--dbus-service', INDEX, '--update', '-q', `INSERT DATA {
      <${u('Résumé.pdf')}> a nfo:FileDataObject ; nie:url "${u('Résumé.pdf')}" ; nfo:fileName "Résumé.pdf" .
      <${u('notes.txt')}> a nfo:FileDataObject ; nie:url "${u('notes.txt')}" ; nfo:fileName "notes.txt" .
      <urn:quibex:notes> a nfo:Document ; nie:isStoredAs <${u('notes.txt')}> ; nie:plainTextContent "the quarterly budget" .
      <file:///elsewhere/resume.txt> a nfo:FileDataObject ; nie:url "file:///elsewhere/resume.txt" ; nfo:fileName "resume.txt" .
    }`], h.sessionEnv(dir, bus));
    return { stop: () => h.stopGroup(index) };
  }
  const { x, dir, bus } = h.setUp({ dir: 'qbx-index-', bus: true, more: { index: startIndex } });

  test('names and indexed text match; only what lies in HOME is answered', async () => {
    const s = await h.startSession({ display: x.display, env: h.sessionEnv(dir, bus) });
    try {
      await h.hello(s.backend);
      // Not on disk: the answers can only have come from the index.
      assert.deepEqual(await ask(s.backend, 'SPOTLIGHT', 'RESUME'), { ok: true, paths: [path.join(dir, 'Résumé.pdf')] });
      assert.deepEqual(await ask(s.backend, 'SPOTLIGHT', 'budget'), { ok: true, paths: [path.join(dir, 'notes.txt')] });
      assert.deepEqual(await ask(s.backend, 'SPOTLIGHT', 'zzz'), { ok: true, paths: [] });
    } finally {
      await s.close();
    }
  });
});

describe('keeping the display awake through the screen saver', { skip }, () => {
  const { x, dir, bus } = h.setUp({ dir: 'qbx-saver-', bus: true });
  test('on inhibits with the reason, off and the next on uninhibit', async () => {
    const log = path.join(dir, 'saver.log');
    const SAVER = 'org.freedesktop.ScreenSaver';
    const mock = h.launch(h.SYSTEM_PYTHON, ['-m', 'dbusmock', '-l', log, SAVER, '/org/freedesktop/ScreenSaver', SAVER],
      { stdio: ['ignore', 'ignore', 'ignore'], env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: bus.address } });
    let s;
    try {
      await h.until(() => h.hasOwner(bus.address, SAVER), 'the screen saver mock');
      await h.gdbusCall(bus.address, SAVER, '/org/freedesktop/ScreenSaver', 'org.freedesktop.DBus.Mock.AddMethod',
        SAVER, 'Inhibit', 'ss', 'u', 'ret = 4242');
      await h.gdbusCall(bus.address, SAVER, '/org/freedesktop/ScreenSaver', 'org.freedesktop.DBus.Mock.AddMethod',
        SAVER, 'UnInhibit', 'u', '', '');
      s = await h.startSession({ display: x.display, env: h.sessionEnv(dir, bus) });
      await h.hello(s.backend);
      assert.deepEqual(await ask(s.backend, 'POWER', 'on\t1\tslides'), { ok: true, active: true });
      assert.deepEqual(await ask(s.backend, 'POWER', 'on\t1\t'), { ok: true, active: true });
      assert.deepEqual(await ask(s.backend, 'POWER', 'off\t1\t'), { ok: true, active: false });
      const calls = async () => fs.readFileSync(log, 'utf8').split('\n').filter((l) => /Inhibit/.test(l));
      const got = await h.untilValue(calls, (c) => c.length === 4, 'two inhibits and two releases')
        .catch((e) => { throw new Error(e.message + fs.readFileSync(log, 'utf8') + s.host.stderr); });
      assert.match(got[0], /Inhibit "quibex" "slides"/);
      assert.match(got[1], /UnInhibit 4242/);
      assert.match(got[2], /Inhibit "quibex" "quibex app"/);
      assert.match(got[3], /UnInhibit 4242/);
    } finally {
      if (s) await s.close();
      await h.stopGroup(mock);
    }
  });
});

describe('a file index that never answers', { skip }, () => {
  const { x, dir, bus } = h.setUp({ dir: 'qbx-hung-index-', bus: true });
  test('the search is still answered, within its bound, with an empty list', async () => {
    const env = h.sessionEnv(dir, bus);
    const peer = await h.startSilentPeer(bus.address, 'org.freedesktop.Tracker3.Miner.Files');
    let s;
    try {
      fs.writeFileSync(path.join(dir, 'findme.txt'), '');
      s = await h.startSession({ display: x.display, env });
      await h.hello(s.backend);
      s.backend.send('SPOTLIGHT hung findme');
      const line = await s.backend.expectLine((l) => l.startsWith('GOT hung '), 30000);
      assert.equal(line, 'GOT hung {"ok":true,"paths":[]}');
      // Answered once: the next answer is the next question's.
      s.backend.send('SOUND after');
      assert.match(await s.backend.expectLine((l) => l.startsWith('GOT ')), /^GOT after /);
    } finally {
      if (s) await s.close();
      await peer.stop();
    }
  });
});

describe('the login item in a bundle', () => {
  const { x } = h.setUp();

  test('set 1 writes the autostart entry, set 0 removes it', async (t) => {
    const dir = h.tempDir('qbx-login-');
    const bundle = h.makeBundle(dir, { name: 'Notes', plist: { CFBundleIdentifier: 'com.example.Notes' } });
    const config = path.join(dir, 'config');
    const b = await h.startBundle({ display: x.display, bundle, dir,
      env: { HOME: dir, XDG_CONFIG_HOME: config, DBUS_SESSION_BUS_ADDRESS: undefined, XDG_RUNTIME_DIR: dir } });
    t.after(() => b.close());
    await b.ready();
    const r = b.relay;
    const entry = path.join(config, 'autostart', 'com.example.Notes.desktop');
    assert.deepEqual(await ask(r, 'LOGIN', 'status'), { status: 'disabled', ok: true, error: null });
    assert.deepEqual(await ask(r, 'LOGIN', 'set 1'), { status: 'enabled', ok: true, error: null });
    const text = fs.readFileSync(entry, 'utf8');
    assert.match(text, /^\[Desktop Entry\]\nType=Application\nName=Notes\n/);
    assert.ok(text.includes(`Exec="${bundle.bin}"\n`), text);
    assert.deepEqual(await ask(r, 'LOGIN', 'set 1'), { status: 'enabled', ok: true, error: null });
    assert.deepEqual(await ask(r, 'LOGIN', 'set 0'), { status: 'disabled', ok: true, error: null });
    assert.equal(fs.existsSync(entry), false);
    assert.deepEqual(await ask(r, 'LOGIN', 'set 0'), { status: 'disabled', ok: true, error: null });
  });
});
