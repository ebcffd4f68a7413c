'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load, plain } = require('./harness');

// Everything works except: win.close is gated, clip.watch is denied, the drop event is
// unknown to the backend and the media proxy is gated.
function verdicts(asked, overrides = {}) {
  const calls = Object.fromEntries(asked.calls.map((m) => [m, true]));
  const events = Object.fromEntries(asked.events.filter((e) => e !== 'drop').map((e) => [e, true]));
  calls['win.close'] = { why: 'gate', needs: 'xdotool' };
  calls['clip.watch'] = { why: 'denied', feature: 'Clipboard' };
  calls['media.proxy'] = { why: 'gate', needs: ['gst'] };
  return { calls: { ...calls, ...overrides }, events };
}

async function answered() {
  const h = load();
  const changes = [];
  h.quib.capabilities.onChange((d) => changes.push(plain(d)));
  const cap = h.quib.capabilities;
  const before = [cap.can('win.setTitle'), cap.can('fileURL'), plain(cap.get('win.setTitle')), cap.list().length, plain(cap.get('win.nope'))];
  const query = h.last('client.capabilities');
  h.answer(query, verdicts(query.params));
  await cap.ready;
  return { h, cap, changes, before, query };
}

test('nothing works before the first answer; unknown paths are unknown from the start', async () => {
  const { before } = await answered();
  assert.deepEqual(before, [false, false, { ok: false, why: 'pending' }, 0, { ok: false, why: 'unknown' }]);
});

test('verdicts after the first answer', async () => {
  const { cap } = await answered();
  const cases = [
    ['win.setTitle', true, { ok: true }],
    ['quib.win.setTitle', true, { ok: true }],
    ['win.close', false, { ok: false, why: 'gate', needs: ['xdotool'] }],
    ['clipboard.watch', false, { ok: false, why: 'denied', feature: 'Clipboard' }],
    ['clipboard.onChange', false, { ok: false, why: 'denied', feature: 'Clipboard' }], // through clipboard.watch
    ['win.onDrop', false, { ok: false, why: 'gate', needs: [] }],
    ['proxyURL', false, { ok: false, why: 'gate', needs: ['gst'] }],
    ['fileURL', true, { ok: true }],
    ['system.isLinux', true, { ok: true }],
    ['win.*', true, { ok: true }],
    ['clipboard.*', true, { ok: true }],
    ['nothing.*', false, { ok: false, why: 'unknown' }],
    ['capabilities.can', false, { ok: false, why: 'unknown' }],
  ];
  for (const [path, can, get] of cases) {
    assert.equal(cap.can(path), can, path);
    assert.deepEqual(plain(cap.get(path)), get, path);
  }
  const list = cap.list();
  assert.deepEqual([...list], [...list].sort());
  assert.ok(list.includes('win.setTitle') && !list.includes('win.close'));
});

test('a wildcard with nothing working answers for its first path', async () => {
  const { h, cap } = await answered();
  const all = h.last('client.capabilities').params;
  cap.refresh();
  h.answer(h.last('client.capabilities'), verdicts(all, { 'store.get': false, 'store.set': false, 'store.delete': false, 'store.all': { why: 'off' } }));
  await h.tick();
  assert.equal(cap.can('store.*'), false);
  assert.deepEqual(plain(cap.get('store.*')), { ok: false, why: 'off' }); // store.all sorts first
});

test('capabilities-change reports what was added and removed', async () => {
  const { h, cap, changes, query } = await answered();
  assert.equal(changes.length, 1);
  assert.deepEqual(changes[0].removed, []);
  assert.deepEqual(changes[0].added, [...cap.list()]);

  cap.refresh();
  h.answer(h.last('client.capabilities'), null, false); // rejected: nothing changes
  await h.tick();
  cap.refresh();
  h.answer(h.last('client.capabilities'), verdicts(query.params)); // same verdicts: no event
  await h.tick();
  assert.equal(changes.length, 1);

  cap.refresh();
  h.answer(h.last('client.capabilities'), verdicts(query.params, { 'win.close': true, 'log': { why: 'off' } }));
  await h.tick();
  assert.deepEqual(changes[1], { added: ['win.close'], removed: ['log'] });
  assert.equal(cap.can('win.close'), true);
});
