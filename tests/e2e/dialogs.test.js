'use strict';
// Dialogs on the real host under openbox: DLG's panels and alerts and pages'
// alert, confirm, prompt and file inputs, answered by the test auto-dialog or by
// a person's keyboard (xdotool); dialogs that belong to a closing window.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['xdotool', 'xdotool']]);

const { x } = h.setUp({ skip, windowManager: true });

const xd = (...args) => h.xrun(x.display, 'xdotool', args.map(String));

// A host on the probe page whose home and working directory are a fresh folder
// holding `files` (names ending in "/" are folders).
async function session(t, { env = {}, files = [] } = {}) {
  const dir = h.tempDir('qbx-dlg-');
  for (const f of files) {
    if (f.endsWith('/')) fs.mkdirSync(path.join(dir, f));
    else fs.writeFileSync(path.join(dir, f), 'content of ' + f);
  }
  const s = await h.startSession({
    display: x.display, page: path.join(h.PAGES, 'probe.html'), args: ['Main'], cwd: dir, env: { HOME: dir, ...env },
  });
  t.after(() => s.close());
  await h.hello(s.backend);
  s.dir = dir;
  s.mainId = (await h.findWindow(x.display, 'Main')).id;
  s.seen = new Set([s.mainId]);
  return s;
}

// The host's visible top-level windows. A search that meets a window going away
// fails; it is made again, so the main window is always among them.
async function hostWindows(s) {
  return h.until(async () => {
    const ids = (await h.xdotool(x.display, ['search', '--onlyvisible', '--pid', String(s.host.proc.pid)])).split('\n')
      .filter(Boolean);
    return ids.includes(s.mainId) && ids;
  }, 'the host\'s windows');
}

// Waits for a dialog not seen before, in front with the keyboard.
async function nextDialog(s) {
  const id = await h.until(async () => (await hostWindows(s)).find((w) => !s.seen.has(w)), 'a new dialog');
  s.seen.add(id);
  await xd('windowactivate', '--sync', id);
  await h.untilValue(() => h.activeWindow(x.display), (a) => a === Number(id), `dialog ${id} in front`);
  return id;
}

async function gone(s, id) {
  await h.until(async () => !(await hostWindows(s)).includes(id), `dialog ${id} to close`);
}

// The JSON of the backend request's answer.
const got = (b, n) => b.answer(n);

// Types a path into a file panel's location field and presses Return until the
// panel answers (the first Return may only take the field's completion).
async function typePath(p, answered) {
  await xd('key', 'ctrl+l');
  await xd('type', '--delay', '20', p);
  for (let i = 0; i < 5; i++) {
    await xd('key', 'Return');
    try {
      return await h.until(answered, 'the panel to answer', 2000);
    } catch (e) { /* the completion took it: again */ }
  }
  throw new Error('the panel did not take ' + p);
}

// Runs a page script that reports `tag` with {v: <expression's value>}; the value
// arrives once the page's dialog is answered.
function pageReport(b, tag, expr, win) {
  b.eval(`probe.report('${tag}', {v: ${expr}})`, win);
  return b.expectReport(tag);
}

test('the auto-dialog accepts save panels and page dialogs', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_TEST_AUTODLG: 'ok' } });
  const b = s.backend;
  b.send('DLG q1 save\ttxt\treport.txt');
  assert.equal(await got(b, 1), path.join(s.dir, 'report.txt'));
  // Without a name the panel proposes one.
  b.send('DLG q2 save');
  assert.equal(await got(b, 2), path.join(s.dir, 'Untitled'));

  assert.deepEqual(await pageReport(b, 'alert', "(alert('Hello'), 'answered')"), { tag: 'alert', v: 'answered' });
  assert.equal((await pageReport(b, 'confirm', "confirm('Sure?')")).v, true);
  assert.equal((await pageReport(b, 'prompt', "prompt('Name?', 'draft')")).v, 'draft');

  // A page's own call answered through DLG: the path reaches the page's promise.
  b.eval("quib.api.call('dialog.saveFile', {name: 'page.txt'}).then((v) => probe.report('saved', {v}))");
  const call = await b.expectCall('dialog.saveFile');
  b.send(`DLG ${call.id} save\t\t${call.params.name}`);
  assert.equal((await b.expectReport('saved')).v, path.join(s.dir, 'page.txt'));
  assert.equal(b.lines.filter((l) => l.startsWith('GOT')).length, 2, 'a page call is answered in the page only');
});

test('the auto-dialog set to cancel dismisses them', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_TEST_AUTODLG: 'cancel' } });
  const b = s.backend;
  b.send('DLG q1 save\ttxt\treport.txt');
  assert.equal(await got(b, 1), null);
  assert.equal((await pageReport(b, 'confirm', "confirm('Sure?')")).v, false);
  assert.equal((await pageReport(b, 'prompt', "prompt('Name?', 'draft')")).v, null);
  assert.equal((await pageReport(b, 'alert', "(alert('x'), 1)")).v, 1);
  assert.equal(fs.existsSync(path.join(s.dir, 'report.txt')), false);
});

test('the backend\'s alerts wait for a person even with the auto-dialog on', { skip }, async (t) => {
  const s = await session(t, { env: { QUIBEX_TEST_AUTODLG: 'ok' } });
  const b = s.backend;
  b.send('DLG q1 alert\tStay up');
  const alert = await nextDialog(s);
  // Two page alerts come and go; any look the backend's alert had armed was due before the second.
  for (const tag of ['first', 'second']) await pageReport(b, tag, `(alert('${tag}'), 1)`);
  assert.ok((await hostWindows(s)).includes(alert), 'the backend\'s alert is still open');
  assert.ok(!b.lines.some((l) => l.startsWith('GOT 1 ')), 'nobody answered it');
  await xd('windowactivate', '--sync', alert);
  await xd('key', 'Return');
  assert.equal(await got(b, 1), true);
});

test('a person answers alerts, confirms and prompts with the keyboard', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  const cases = [
    ['DLG q1 confirm\tDelete it?\tThere is no undo.\tDelete\tKeep', ['Return'], null, true],
    ['DLG q2 confirm\tDelete it?', ['Escape'], null, false],
    ['DLG q3 prompt\tName?\tdraft\tRename', ['ctrl+a'], 'new "name"', 'new "name"'],
    ['DLG q4 prompt\tName?\tdraft', ['ctrl+a', 'BackSpace'], '', ''],
    ['DLG q5 prompt\tName?\tdraft', ['Escape'], null, null],
    ['DLG q6 alert', ['Escape'], null, true],
  ];
  for (const [line, keys, typed, want] of cases) {
    const n = /^DLG q(\d+)/.exec(line)[1];
    b.send(line);
    const id = await nextDialog(s);
    for (const k of keys) await xd('key', k);
    if (typed !== null) {
      if (typed) await xd('type', '--delay', '20', typed);
      await xd('key', 'Return');
    }
    assert.deepEqual(await got(b, n), want, line);
    await gone(s, id);
  }
});

// Presses keys until the panel answers (a folder that is still loading takes none).
async function pressUntil(keys, answered) {
  for (let i = 0; i < 5; i++) {
    for (const k of keys) await xd('key', k);
    try {
      return await h.until(answered, 'the panel to answer', 2000);
    } catch (e) { /* not yet */ }
  }
  throw new Error('the panel did not take ' + keys.join(' '));
}

test('a person chooses a file and a folder in the panels', { skip }, async (t) => {
  const s = await session(t, { files: ['a.txt', 'sub/'] });
  const b = s.backend;
  const answered = (n) => () => b.lines.find((l) => l.startsWith(`GOT ${n} `));

  b.send('DLG q1 open\ttxt');
  await nextDialog(s);
  await typePath(path.join(s.dir, 'a.txt'), answered(1));
  assert.equal(await got(b, 1), path.join(s.dir, 'a.txt'));

  b.send('DLG q2 dir');
  await nextDialog(s);
  await xd('key', 'alt+Home');  // from the home folder, not the recent files
  await typePath(path.join(s.dir, 'sub'), answered(2));
  assert.equal(await got(b, 2), path.join(s.dir, 'sub'));

  b.send('DLG q3 open');
  await nextDialog(s);
  await xd('key', 'Escape');
  assert.equal(await got(b, 3), null);
});

test('open, save and folder panels fit on a 1280x800 screen, buttons and all', { skip }, async (t) => {
  // On a display of its own without a window manager: openbox would shrink a panel
  // too tall for the screen itself, and not every window manager does.
  const bare = await h.startDisplay();
  t.after(() => bare.stop());
  const dir = h.tempDir('qbx-dlg-');
  const s = await h.startSession({ display: bare.display, args: ['Main'], env: { HOME: dir } });
  t.after(async () => { await s.close(); h.removeDir(dir); });
  await h.hello(s.backend);
  const main = (await h.findWindow(bare.display, 'Main')).id;
  for (const [n, kind] of [[1, 'save'], [2, 'open'], [3, 'dir']]) s.backend.send(`DLG q${n} ${kind}`);
  const panels = await h.until(async () => {
    const ids = (await h.xdotool(bare.display, ['search', '--onlyvisible', '--pid', String(s.host.proc.pid)]))
      .split('\n').filter((id) => id && id !== main);
    return ids.length === 3 && ids;
  }, 'three panels');
  const onScreen = (f) => f.x >= 0 && f.y >= 0 && f.x + f.w <= 1280 && f.y + f.h <= 800;
  for (const id of panels) await h.untilValue(() => h.frameGeometry(bare.display, id), onScreen, `panel ${id} on the screen`, 3000);
});

test('an extension filter shows the files of every case of it, and several are chosen', { skip }, async (t) => {
  const s = await session(t, { files: ['a.txt', 'b.TXT', 'c.Txt', 'd.png', 'e.txt.png'] });
  const b = s.backend;
  b.send('DLG q1 openmulti\ttxt');
  await nextDialog(s);
  await xd('key', 'alt+Home');
  // Everything the panel shows, chosen at once.
  await pressUntil(['ctrl+a', 'Return'], () => b.lines.find((l) => l.startsWith('GOT 1 ')));
  assert.deepEqual((await got(b, 1)).sort(), ['a.txt', 'b.TXT', 'c.Txt'].map((f) => path.join(s.dir, f)));
});

test('a file input gets the files chosen, names with "%" as they are', { skip }, async (t) => {
  const s = await session(t, { files: ['50%41 b.txt', 'plain.txt'] });
  const b = s.backend;
  b.eval(`const i = document.createElement('input'); i.type = 'file'; document.body.append(i);
    i.onchange = () => probe.report('files', {files: [...i.files].map((f) => [f.name, f.size])});
    i.addEventListener('cancel', () => probe.report('files', {files: null}));
    i.click(); probe.report('clicked', {})`);
  await b.expectReport('clicked');
  await nextDialog(s);
  const chosen = () => b.calls().find((c) => c.params && c.params.tag === 'files');
  await typePath(path.join(s.dir, '50%41 b.txt'), chosen);
  const size = fs.statSync(path.join(s.dir, '50%41 b.txt')).size;
  assert.deepEqual((await b.expectReport('files')).files, [['50%41 b.txt', size]]);
});

test('a dialog answers once when the window it belongs to closes', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  // The backend's own request outlives the window it showed over.
  const w2 = await h.openProbeWindow(b, x.display, 'w2');
  s.seen.add(w2.id);
  await xd('windowactivate', '--sync', w2.id);
  b.send('DLG q1 confirm\tStill here?');
  const confirm = await nextDialog(s);
  b.send('WINCLOSE w2');
  await b.expectLine(/^WINCLOSED w2$/);
  assert.ok((await hostWindows(s)).includes(confirm));
  await xd('windowactivate', '--sync', confirm);
  await xd('key', 'Return');
  assert.equal(await got(b, 1), true);

  // A page's alert and a page call's prompt go with their windows.
  const w3 = await h.openProbeWindow(b, x.display, 'w3');
  s.seen.add(w3.id);
  b.eval("alert('from w3')", 'w3');
  const alert = await nextDialog(s);
  const w4 = await h.openProbeWindow(b, x.display, 'w4');
  s.seen.add(w4.id);
  b.eval("quib.api.call('dialog.prompt', {message: 'Name?'})", 'w4');
  const call = await b.expectCall('dialog.prompt');
  b.send(`DLG ${call.id} prompt\tName?`);
  const prompt = await nextDialog(s);
  b.send('WINCLOSE w3');
  b.send('WINCLOSE w4');
  await gone(s, alert);
  await gone(s, prompt);
  await b.sync();  // the host goes on
  assert.ok(!b.lines.some((l) => /^GOT /.test(l) && !l.startsWith('GOT 1 ')));
});

test('a page\'s dialog is titled by its origin\'s host, a file page\'s by the application', { skip }, async (t) => {
  const s = await session(t);
  const b = s.backend;
  const site = await h.serve(h.PAGES);
  t.after(() => site.close());
  const title = (id) => h.xdotool(x.display, ['getwindowname', id]);

  // The application's name, as the backend's alerts show it.
  b.send('DLG q1 alert\tx');
  const own = await nextDialog(s);
  const appName = await title(own);
  assert.ok(appName, 'the alert has a title');
  await xd('key', 'Return');
  assert.equal(await got(b, 1), true);
  await gone(s, own);

  // A file page's origin has no host.
  const fromFile = pageReport(b, 'file', "prompt('Name?', 'draft')");
  const p = await nextDialog(s);
  assert.equal(await title(p), appName);
  await xd('key', 'Return');
  assert.equal((await fromFile).v, 'draft');
  await gone(s, p);

  // A page from a web server: its host, not the application's name.
  b.send(`WINOPEN web\t${site.url}/probe.html\tWeb\t300x150`);
  await h.hello(b, 'web');
  s.seen.add((await h.findWindow(x.display, 'Web')).id);
  const fromWeb = pageReport(b, 'web', "confirm('Sure?')", 'web');
  const c = await nextDialog(s);
  assert.equal(await title(c), '127.0.0.1');
  await xd('key', 'Escape');
  assert.equal((await fromWeb).v, false);
});
