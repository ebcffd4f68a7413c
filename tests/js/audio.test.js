'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./harness');

async function loaded(opts = {}) {
  const h = load({ reply: (m) => (m === 'sampler.bytes' ? [true, { b64: 'AAAA' }] : undefined), ...opts });
  await h.window.__quibSampler.load('kick', '/snd/a b.wav');
  return h;
}
// Source node numbers in start order, and the sources stopped with their stop times.
const starts = (h) => h.audioLog.filter((e) => e[0] === 'start').map((e) => e[1]);
const stops = (h) => h.audioLog.filter((e) => e[0] === 'stop').map((e) => [e[1], e[2]]);

test('the host loads from a file URL, else asks the backend for the bytes', async () => {
  let asked;
  const ok = await loaded({ nativeFetch: async (u) => { asked = u; return { ok: true, arrayBuffer: async () => new ArrayBuffer(8) }; } });
  assert.equal(asked, 'file:///snd/a%20b.wav');
  assert.equal(ok.last('sampler.bytes'), undefined);
  assert.deepEqual(ok.last('sampler.hostResult').params, { name: 'kick', ok: true });

  const fallback = await loaded({ nativeFetch: async () => ({ ok: false, status: 404 }) });
  assert.deepEqual(fallback.last('sampler.bytes').params, { name: 'kick' });
  assert.deepEqual(fallback.last('sampler.hostResult').params, { name: 'kick', ok: true });

  const broken = load({ reply: (m) => (m === 'sampler.bytes' ? [false, null] : undefined) });
  await broken.window.__quibSampler.load('snare', '/x.wav');
  assert.equal(broken.last('sampler.hostResult').params.ok, false);
});

test('the 33rd voice fades out the oldest before it starts', async () => {
  const h = await loaded();
  const s = h.window.__quibSampler;
  for (let i = 1; i <= 32; i++) s.play('v' + i, 'kick', 1, 0, 1, false);
  assert.deepEqual(stops(h), []);
  const first = starts(h)[0];
  s.play('v33', 'kick', 1, 0, 1, false);
  assert.deepEqual(stops(h), [[first, 10.05]]); // context time 10 plus the fade
  const fade = h.audioLog.findIndex((e) => e[0] === 'target' && e[2] === 0);
  const started = h.audioLog.findLastIndex((e) => e[0] === 'start');
  assert.ok(fade >= 0 && fade < started);
  // A voice that is fading no longer counts: the next one takes the second oldest.
  s.play('v34', 'kick', 1, 0, 1, false);
  assert.deepEqual(stops(h).map((e) => e[0]), [first, starts(h)[1]]);
});

test('playing an id again replaces its voice; unload cuts at once', async () => {
  const h = await loaded();
  const s = h.window.__quibSampler;
  s.play('a', 'kick', 1, 0, 1, true);
  s.play('a', 'kick', 1, 0, 1, true);
  const [old, current] = starts(h);
  assert.deepEqual(stops(h), [[old, 10.05]]);
  s.play('b', 'nothing', 1, 0, 1, false); // not loaded: ignored
  assert.equal(starts(h).length, 2);
  s.unload('kick');
  assert.deepEqual(stops(h).slice(1).map((e) => e[0]).sort(), [old, current].sort());
  assert.ok(stops(h).slice(1).every((e) => e[1] === undefined), 'no fade when unloading');
});

test('page chain balance', () => {
  const h = load();
  const ctx = new h.window.AudioContext();
  const chain = h.quib.audio.pageChain(ctx);
  const cases = [[0.5, 0.5, 1], [-0.25, 1, 0.75], [2, 0, 1], [-3, 1, 0], [0, 1, 1], ['0.5', 1, 1], [NaN, 1, 1]];
  for (const [v, left, right] of cases) {
    h.audioLog.length = 0;
    assert.equal(chain.balance(v), true);
    assert.deepEqual(h.audioLog.map((e) => [e[2], e[3]]), [[left, 0.015], [right, 0.015]], String(v));
  }
});

test('page chain filters are built in order and retuned or rebuilt', () => {
  const h = load();
  const ctx = new h.window.AudioContext();
  const chain = h.quib.audio.pageChain(ctx);
  const defs = [{ freq: 200, gain: 3 }, { type: 'gain', gain: 0.5 }, { type: 'lowpass' }];
  chain.filters(defs);
  defs[0].freq = 999; // the chain keeps its own copies
  const nodes = [chain.input.outs[0]];
  while (nodes.length < 3) nodes.push(nodes.at(-1).outs[0]);
  assert.deepEqual(nodes.map((n) => n.kind === 'biquad' ? [n.type, n.frequency.value, n.Q.value, n.gain.value] : [n.kind, n.gain.value]),
    [['peaking', 200, 1, 3], ['gain', 0.5], ['lowpass', 1000, 1, 0]]);
  h.audioLog.length = 0;
  chain.filter(0, { gain: -2 });
  assert.ok(h.audioLog.some((e) => e[0] === 'target' && e[2] === -2 && e[3] === 0.015));
  chain.filter(0, { type: 'highshelf' });
  assert.equal(chain.input.outs[0].type, 'highshelf');
  assert.notEqual(chain.input.outs[0], nodes[0]);
  assert.equal(chain.filter(9, { gain: 1 }), true);
  chain.clear();
  assert.equal(chain.input.outs[0].outs[0].kind, 'splitter'); // input straight to the balance stage
});
