'use strict';
// The page bridge in windows the backend opens: calls carry the window's id, EVAL reaches
// one window or all of them.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

test('a second window has its own calls, answers and EVAL; "*" reaches every window', async () => {
  const s = await h.startSession({ display: x.display });
  try {
    const b = s.backend;
    await h.hello(b);
    b.send(`WINOPEN w2\t${path.join(h.PAGES, 'probe.html')}\tSecond\t400x300`);
    const c = await h.hello(b, 'w2');
    assert.match(c.id, /^w2:\d+$/);
    assert.equal(c.origin, 'file://');

    b.eval("probe.report('star', {win: quib.win.id})", '*');
    const wins = [(await b.expectReport('star')).win, (await b.expectReport('star')).win];
    assert.deepEqual(wins.sort(), ['main', 'w2']);

    b.eval("probe.report('only', {win: quib.win.id})", 'w2');
    assert.equal((await b.expectReport('only')).win, 'w2');

    // The same call in both windows; each answer goes to its own window.
    b.eval("probe.call('both', 'probe.ask', {win: quib.win.id})", '*');
    const asks = [await b.expectCall('probe.ask'), await b.expectCall('probe.ask')];
    for (const a of asks) {
      assert.equal(a.win, a.params.win);
      b.send(`RET ${a.id} 0 {"for":"${a.win}"}`);
    }
    const answers = [];
    for (let i = 0; i < 2; i++) {
      const r = await b.expectCall('report', (c) => c.params.tag === 'both');
      answers.push([r.win, r.params.value.for]);
    }
    assert.deepEqual(answers.sort(), [['main', 'main'], ['w2', 'w2']]);

    await b.sync('w2');
    await b.sync('main');
    assert.equal(b.calls().filter((c) => c.params && c.params.tag === 'only').length, 1);

    b.send('WINCLOSE w2');
    await b.expectLine(/^WINCLOSED w2$/);
    b.eval("probe.report('after-close', {win: quib.win.id})", '*');
    assert.equal((await b.expectReport('after-close')).win, 'main');
    await b.sync();
    assert.equal(b.calls().filter((c) => c.params && c.params.tag === 'after-close').length, 1);
  } finally {
    await s.close();
  }
});
