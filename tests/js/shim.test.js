'use strict';
// The bridge shim (core/js/quib_shim.js): the calls of one turn go out in one
// message, and answers given together settle each call once, in order.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const SOURCE = fs.readFileSync(path.join(__dirname, '../../core/js/quib_shim.js'), 'utf8');

// A window with the shim; `sent` holds the texts it posts. post(text) may throw.
function load(post = () => {}) {
  const sent = [];
  const w = {
    webkit: { messageHandlers: { quib: { postMessage(text) { post(text); sent.push(text); } } } },
    queueMicrotask,
  };
  w.window = w;
  vm.createContext(w);
  vm.runInContext(SOURCE.replace('@QUIB_WIN@', 'w1'), w);
  const log = [];
  // Makes a call whose settling lands in log as [tag, ok, value].
  const plain = (v) => (v instanceof Error ? String(v) : JSON.parse(JSON.stringify(v)));
  const call = (tag, payload = '{}') => w.__invoke(payload).then(
    (v) => log.push([tag, true, plain(v)]), (v) => log.push([tag, false, plain(v)]));
  return { w, sent, log, call };
}

const turn = () => new Promise((r) => setImmediate(r));
// An answer as the host writes one: lengths in UTF-16 units.
const answer = (n, ok, json) => (ok ? '1' : '0') + n + ':' + json.length + ':' + json;

test('the calls of one turn go out in one message, each under its own number', async () => {
  const s = load();
  s.call('a', '{"m":"a"}');
  s.call('b', 'x:😀');
  s.call('c', '');
  assert.deepEqual(s.sent, [], 'posted before the turn ended');
  await turn();
  assert.deepEqual(s.sent, ['*1:9:{"m":"a"}2:4:x:😀3:0:']);
  s.call('d', 'alone');
  await turn();
  assert.equal(s.sent[1], '4:alone');
  assert.equal(s.w.__QUIB_WIN, 'w1');
});

test('more than a thousand calls of one turn go out in several messages', async () => {
  const s = load();
  for (let i = 0; i < 2500; i++) s.call(i, 'p');
  await turn();
  const numbers = s.sent.map((t) => t.slice(1).split('p').filter(Boolean).map((r) => Number(r.split(':')[0])));
  assert.deepEqual(numbers.map((n) => n.length), [1000, 1000, 500]);
  assert.deepEqual(numbers.flat(), Array.from({ length: 2500 }, (_, i) => i + 1));
});

test('answers given together settle each call once, in the order given', async () => {
  const s = load();
  for (const tag of ['a', 'b', 'c', 'd']) s.call(tag);
  await turn();
  s.w.__quibAnswers('-' + answer(3, true, '"😀"') + answer(1, false, '{"e":1}') + answer(3, true, '"again"') +
    answer(9, true, '1') + answer(2, true, 'not json'));
  await turn();
  assert.deepEqual(s.log, [['c', true, '😀'], ['a', false, { e: 1 }], ['b', true, null]]);
  s.w.__quibResolve(4, true, '[4]');
  s.w.__quibResolve(4, true, '[5]');
  await turn();
  assert.deepEqual(s.log.pop(), ['d', true, [4]]);
  assert.equal(s.log.length, 3);
});

test('a malformed answer text settles what comes before the fault and returns', async () => {
  const bad = ['', '-', '-1', '-11', '-11:', '-11:2', '-11:x:ab', '-11:-5:abcdef', '-11:99:ab', '-1:1:a', 'x', '+:::'];
  for (const tail of bad) {
    const s = load();
    s.call('first');
    s.call('second');
    await turn();
    s.w.__quibAnswers('-' + answer(1, true, '1') + tail);
    s.w.__quibAnswers(42);
    await turn();
    assert.deepEqual(s.log, [['first', true, 1]], JSON.stringify(tail));
  }
});

test('asked for a way back, the page posts one, or sends the calls its reactions make in the batch form', async () => {
  const s = load();
  s.call('a');
  s.call('b');
  await turn();
  s.w.__quibAnswers('+' + answer(1, true, '1'));
  await turn();
  assert.deepEqual(s.sent.slice(1), ['*']);

  s.w.__invoke('{}').then(() => s.call('next', 'n'));
  await turn();
  s.w.__quibAnswers('+' + answer(3, true, '3'));
  await turn();
  // A call alone would keep its way back for its own answer, and an answer
  // waiting for a shared one could wait for good.
  assert.deepEqual(s.sent.slice(2), ['3:{}', '*4:1:n']);
});

test('calls whose message cannot be posted are rejected with the error', async () => {
  const s = load(() => { throw new TypeError('no handler'); });
  s.call('a');
  s.call('b');
  await turn();
  assert.deepEqual(s.log, [['a', false, 'TypeError: no handler'], ['b', false, 'TypeError: no handler']]);
});
