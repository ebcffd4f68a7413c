'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./harness');

const b64 = (s) => Buffer.from(s).toString('base64');

test('request bodies and headers', async () => {
  const cases = [
    [{ body: 'a=1' }, { bodyText: 'a=1' }],
    [{ body: new URLSearchParams({ q: 'x y' }) }, { bodyText: 'q=x+y' }],
    [{ body: new Uint8Array([0, 255, 7]).subarray(1) }, { bodyB64: '/wc=' }],
    [{ body: new Uint8Array([104, 105]).buffer }, { bodyB64: 'aGk=' }],
    [{ body: new Blob(['hi']) }, { bodyB64: 'aGk=' }],
    [{ body: 42 }, { bodyText: '42' }],
    [{ headers: new Headers({ 'X-A': '1' }) }, { headers: { 'x-a': '1' } }],
    [{ headers: [['X-B', '2']], method: 'POST', redirect: 'manual' }, { headers: { 'X-B': '2' }, method: 'POST', redirect: 'manual' }],
  ];
  const h = load();
  for (const [i, [init, fields]] of cases.entries()) {
    h.quib.fetch(new URL('http://h/p'), init);
    await h.tick();
    assert.deepEqual(h.last('fetch').params, { url: 'http://h/p', id: 'f' + (i + 1), stream: false, ...fields });
  }
});

test('a plain answer becomes a Response with url and redirected', async () => {
  const h = load({ reply: () => [true, {
    status: 201, statusText: 'Made', headers: { 'content-type': 'text/plain' },
    bodyB64: b64('héllo'), url: 'http://h/final', redirected: true,
  }] });
  const res = await h.quib.fetch('http://h/');
  assert.deepEqual([res.status, res.statusText, res.headers.get('content-type')], [201, 'Made', 'text/plain']);
  assert.deepEqual([res.url, res.redirected], ['http://h/final', true]);
  assert.equal(await res.text(), 'héllo');
});

test('an answer without bytes gives a null body', async () => {
  for (const head of [{ status: 200 }, { status: 200, bodyB64: '' }, { status: 204, bodyB64: b64('x') }]) {
    const h = load({ reply: () => [true, head] });
    assert.equal((await h.quib.fetch('u')).body, null);
  }
});

test('a streamed body is pulled chunk by chunk until done', async () => {
  const chunks = [{ bodyB64: b64('ab') }, { bodyB64: b64('cd') }, { done: true }];
  const h = load({ reply: (m) => (m === 'fetch' ? [true, { status: 200 }] : m === 'fetch.pull' ? [true, chunks.shift()] : undefined) });
  const res = await h.quib.fetch('u', { stream: true });
  assert.equal(h.last('fetch').params.stream, true);
  assert.equal(await res.text(), 'abcd');
  assert.deepEqual(h.sent.filter((e) => e.method === 'fetch.pull').map((e) => e.params), [{ id: 'f1' }, { id: 'f1' }, { id: 'f1' }]);
});

test('statuses without content get no stream and no pull', async () => {
  for (const status of [204, 205, 304]) {
    const h = load({ reply: () => [true, { status }] });
    const res = await h.quib.fetch('u', { stream: true });
    await h.tick();
    assert.equal(res.body, null);
    assert.equal(h.last('fetch.pull'), undefined);
  }
});

test('cancelling a stream tells the backend', async () => {
  const h = load({ reply: (m) => [true, m === 'fetch' ? { status: 200 } : { bodyB64: b64('x') }] });
  const res = await h.quib.fetch('u', { stream: true });
  await res.body.cancel();
  assert.deepEqual(h.last('fetch.cancel').params, { id: 'f1' });
});

test('a rejected head rejects the fetch with the backend value', async () => {
  const h = load({ reply: () => [false, { error: 'offline' }] });
  await assert.rejects(h.quib.fetch('u'), (e) => e.error === 'offline');
});
