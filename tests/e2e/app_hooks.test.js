'use strict';
// The application's hooks on the real host under openbox: accessory mode keeps every
// window out of task bars and pagers until presence 1; F12 opens the inspector in
// debug mode only.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

const skip = h.needs([['xprop', 'x11-utils'], ['xwininfo', 'x11-utils']]);

const { x } = h.setUp({ skip, windowManager: true });

const skips = (id, on, what) => h.untilValue(() => h.netWmState(x.display, id),
  (st) => st.includes('SKIP_TASKBAR') === on && st.includes('SKIP_PAGER') === on, what);

test('accessory mode: no task-bar or pager entry for any window until presence 1', { skip }, async () => {
  const s = await h.startSession({ display: x.display, args: ['Main'], env: { QUIBEX_ACTIVATION: 'accessory' } });
  try {
    const b = s.backend;
    await h.hello(b);
    // The main window waits for a show command.
    await b.sync();
    assert.ok(!(await h.windowTitles(x.display)).includes('Main'));
    b.send('WINOP show');
    const main = await h.findWindow(x.display, 'Main');
    const other = await h.openProbeWindow(b, x.display, 'other');
    for (const w of [main, other]) await skips(w.id, true, `${w.id} has no entries`);

    b.send('WINOP presence 1');
    for (const w of [main, other]) await skips(w.id, false, `${w.id} has its entries back`);
    const later = await h.openProbeWindow(b, x.display, 'later');
    await b.sync('later');
    assert.deepEqual((await h.netWmState(x.display, later.id)).filter((a) => a.startsWith('SKIP')), []);

    b.send('WINOP presence 0');
    for (const w of [main, other, later]) await skips(w.id, true, `${w.id} is an accessory's again`);
  } finally {
    await s.close();
  }
});

test('a regular application\'s windows keep their task-bar entries', { skip }, async () => {
  const s = await h.mainSession(x.display);
  try {
    const other = await h.openProbeWindow(s.backend, x.display, 'other');
    for (const w of [s.main, other])
      assert.deepEqual((await h.netWmState(x.display, w.id)).filter((a) => a.startsWith('SKIP')), []);
  } finally {
    await s.close();
  }
});

test('F12 opens the inspector of the key window\'s page in debug mode only', { skip }, async () => {
  for (const debug of ['1', '']) {
    const s = await h.mainSession(x.display, { QUIBEX_DEBUG: debug });
    try {
      const b = s.backend;
      const other = await h.openProbeWindow(b, x.display, 'other', { size: '800x600' });
      const height = async (win) => {
        b.eval("probe.report('height', {h: innerHeight})", win);
        return (await b.expectReport('height')).h;
      };
      const before = { main: await height('main'), other: await height('other') };
      b.eval("document.addEventListener('keydown', (e) => probe.report('key', {key: e.key}))", 'other');
      await b.sync('other');
      await h.xrun(x.display, 'xdotool', ['windowactivate', '--sync', other.id]);
      await h.xrun(x.display, 'xdotool', ['key', 'F12', 'a']);
      // The page sees each key before the host; once it has seen the next one, the host has had F12.
      assert.equal((await b.expectReport('key')).key, 'F12');
      assert.equal((await b.expectReport('key')).key, 'a');
      if (debug) {
        // The inspector docks in the window and takes room from its page.
        await h.untilValue(() => height('other'), (v) => v < before.other, 'the inspector of "other"');
      } else {
        assert.equal(await height('other'), before.other);
      }
      assert.equal(await height('main'), before.main);
    } finally {
      await s.close();
    }
  }
});
