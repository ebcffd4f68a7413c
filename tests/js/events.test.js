'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load, plain } = require('./harness');

test('a throwing handler is reported and the others still run', () => {
  for (const withReport of [true, false]) {
    const h = load({ reportError: withReport });
    const got = [];
    h.quib.api.on('ping', () => { throw new Error('boom'); });
    h.quib.api.on('ping', (d) => got.push(d));
    h.window.__emit({ event: 'ping', data: 1 });
    assert.deepEqual(got, [1]);
    if (withReport) assert.equal(h.reported[0].message, 'boom');
    else assert.throws(h.timers[0], { message: 'boom' });
  }
});

test('subscribing or unsubscribing during a dispatch leaves that dispatch alone', () => {
  const h = load();
  const got = [];
  const off = h.quib.api.on('e', () => { got.push('a'); off(); h.quib.api.on('e', () => got.push('late')); });
  h.quib.api.on('e', () => got.push('b'));
  h.window.__emit({ event: 'e' });
  assert.deepEqual(got, ['a', 'b']);
  h.window.__emit({ event: 'e' });
  assert.deepEqual(got, ['a', 'b', 'b', 'late']);
});

test('off removes one registration at a time', () => {
  const h = load();
  let n = 0;
  const fn = () => n++;
  h.quib.api.on('e', fn);
  h.quib.api.on('e', fn);
  h.quib.api.off('e', fn);
  h.window.__emit({ event: 'e' });
  assert.equal(n, 1);
});

test('event names that are Object members are ordinary events', () => {
  const h = load();
  h.window.__emit({ event: 'constructor', data: 1 }); // no handlers: nothing happens
  let got;
  h.quib.api.on('__proto__', (d) => (got = d));
  h.window.__emit({ event: '__proto__', data: 2 });
  assert.equal(got, 2);
});

test('convenience registrations hand over the expected field of the data', () => {
  const data = { id: 'i', paths: ['/p'], url: 'u', dark: true };
  const cases = [
    ['window-state', (q, f) => q.win.onState(f), data], ['drop', (q, f) => q.win.onDrop(f), data.paths],
    ['menu', (q, f) => q.menu.on(f), 'i'], ['contextmenu', (q, f) => q.menu.onContext(f), 'i'],
    ['hotkey', (q, f) => q.hotkey.on(f), 'i'], ['audio-tap', (q, f) => q.audioTap.on(f), data],
    ['theme', (q, f) => q.theme.on(f), true], ['open-url', (q, f) => q.app.onOpenUrl(f), 'u'],
    ['open-files', (q, f) => q.app.onOpenFiles(f), data.paths], ['notification-click', (q, f) => q.app.onNotificationClick(f), 'i'],
    ['notification-action', (q, f) => q.app.onNotificationAction(f), data], ['screens-changed', (q, f) => q.app.onScreensChanged(f), data],
    ['media-key', (q, f) => q.app.onMediaKey(f), data], ['tray', (q, f) => q.tray.on(f), 'i'],
    ['trayclick', (q, f) => q.tray.onClick(f), undefined], ['clipboard-change', (q, f) => q.clipboard.onChange(f), data],
  ];
  for (const [event, register, expected] of cases) {
    const h = load();
    const got = [];
    const off = register(h.quib, (...a) => got.push(a));
    h.window.__emit({ event, data });
    off();
    h.window.__emit({ event, data });
    assert.deepEqual(got, [expected === undefined ? [] : [expected]], event);
  }
});

test('clipboard.onChange starts the watch only when none runs', () => {
  const h = load();
  const watches = () => h.calls().filter((e) => e.method === 'clip.watch').length;
  h.quib.clipboard.onChange(() => {});
  h.quib.clipboard.onChange(() => {});
  assert.equal(watches(), 1);
  h.quib.clipboard.unwatch();
  h.quib.clipboard.onChange(() => {});
  assert.equal(watches(), 2);
});

test('promptMissing', async (t) => {
  const need = (feature, install) => ({ ok: false, feature, detail: feature + ' detail', install });
  const speech = need('Speech', { command: 'sudo apt install -y libespeak1 espeak', packages: ['espeak'] });
  const ocr = need('OCR', { command: 'sudo apt install tesseract-ocr', packages: ['tesseract-ocr', 'espeak'] });
  const cases = [
    // name, entries, confirm answer, clip.write ok, expected dialog, expected command, copied
    ['all there', [{ ok: true }], true, true, null, null, false],
    ['package matched as a word', [speech, { ok: true }, ocr], true, true, 'dialog.confirm',
      'sudo apt install -y libespeak1 espeak tesseract-ocr', true],
    ['first package not in the command', [need('X', { command: 'pkcon install x-tools', packages: ['x'] })], true, true,
      'dialog.confirm', 'pkcon install x-tools', true],
    ['declined', [speech], false, true, 'dialog.confirm', 'sudo apt install -y libespeak1 espeak', false],
    ['clipboard refused', [speech], true, false, 'dialog.confirm', 'sudo apt install -y libespeak1 espeak', false],
    ['nothing to install', [need('Y'), need('Z')], true, true, 'dialog.alert', null, false],
  ];
  for (const [name, entries, confirm, clipOk, dialog, command, copied] of cases) {
    await t.test(name, async () => {
      const replies = { 'system.requirements': [true, entries], 'dialog.confirm': [true, confirm], 'dialog.alert': [true, null], 'clip.write': [clipOk, null] };
      const h = load({ reply: (m) => replies[m] });
      const out = plain(await h.quib.system.promptMissing(['a']));
      assert.deepEqual(h.last('system.requirements').params, { ids: ['a'] });
      assert.equal(out.copied, copied);
      assert.deepEqual(out.missing, plain(entries.filter((e) => !e.ok)));
      const shown = h.calls().find((e) => e.method.startsWith('dialog.'));
      assert.equal(shown ? shown.method : null, dialog);
      if (!shown) return;
      const lines = shown.params.detail.split('\n\n');
      assert.equal(lines[0], '• ' + out.missing[0].feature + ' — ' + out.missing[0].feature + ' detail');
      if (command) assert.equal(lines.at(-1), command);
      assert.equal(shown.params.message, out.missing.length === 1 ? out.missing[0].feature + ' needs a system package'
        : 'Some features need system packages');
      if (dialog === 'dialog.confirm') assert.deepEqual([shown.params.ok, shown.params.cancel], ['Copy install command', 'Not now']);
      const clip = h.last('clip.write');
      assert.deepEqual(clip && clip.params, confirm && command ? { text: command } : undefined);
    });
  }
});
