'use strict';
// A backend that sends window commands of every kind, with malformed, huge, negative
// and non-finite numbers, to open, closing and unknown windows, as fast as it can:
// the host stays up, keeps up, and still answers the page afterwards.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

const PROBE = path.join(h.PAGES, 'probe.html');
const SECONDS = Number(process.env.QUIBEX_SOAK_SECONDS || 6);

const { x } = h.setUp({ windowManager: true });

// A small fixed-seed generator, so a failing run can be repeated.
function generator(seed) {
  let s = seed >>> 0;
  const next = () => { s = (s * 1664525 + 1013904223) >>> 0; return s / 2 ** 32; };
  return { next, pick: (list) => list[Math.floor(next() * list.length)] };
}

function commands({ next, pick }) {
  const num = () => pick(['0', '1', '-5', '3.5', '100', '99999', '2147483648', '1e300', '-1e300', 'nan', 'inf', '', 'x',
    String(Math.floor(next() * 2000) - 500)]);
  const at = () => { const id = pick(['a', 'b', 'c', 'main', '']); return id === 'main' ? ' ' : `@${id} `; };
  const verb = () => pick(['show', 'show 0', 'hide', 'hidewin', 'minimize', 'restore', 'zoom', 'fullscreen', 'fullscreen 1',
    'fullscreen 0', 'ontop 1', 'ontop 0', 'level floating', 'level desktop', 'level overlay', 'clickthrough 1', 'clickthrough 0',
    'allspaces 1', 'allspaces 0', `minsize ${num()}x${num()}`, `zoomfactor ${num()}`, `pos ${num()} ${num()}`,
    `spos ${num()} ${num()} ${num()} px`, `pxsize ${num()} ${num()}`, `fsscreen ${num()}`, 'center', 'onscreen', 'rescue 0',
    'geom 1', 'geom 0', 'resizable 0', 'resizable 1', 'presence 0', 'presence 1', 'bogus']);
  const chrome = () => [pick(['0', '1', '']), pick(['all', 'none', 'close', '']), pick(['0', '1', '']), pick(['', 'none', 'hud']),
    pick(['0', '1', '']), pick(['0', '1', '']), '', pick(['', 'default', `${num()},${num()}`])].join('\t');
  const often = [
    () => `WINOP${at()}${verb()}`,
    () => `SIZE${at()}${num()} ${num()}`,
    () => `TITLE${at()}t${num()}`,
    () => `CHROME${at()}${chrome()}`,
  ];
  // Each window has a web process of its own: opened and closed at a pace a person could follow.
  const rarely = [
    () => 'WINOPEN ' + [pick(['a', 'b', 'c']), PROBE, '', `${num()}x${num()}`, pick(['', '0']), '', '', '', '', '',
      pick(['', '10', 'nan']), pick(['', '20']), '', '', pick(['', 'a', 'main']), pick(['', '1'])].join('\t'),
    () => `WINCLOSE ${pick(['a', 'b', 'c'])}`,
  ];
  return () => (next() < 0.02 ? pick(rarely) : pick(often))();
}

for (const seed of [1, 2]) {
  test(`window commands of every kind as fast as they come (seed ${seed})`, async () => {
    const s = await h.mainSession(x.display);
    try {
      const b = s.backend;
      const g = generator(seed);
      const make = commands(g);
      const end = Date.now() + SECONDS * 1000;
      let sent = 0;
      while (Date.now() < end && !s.host.exited) {
        for (let i = 0; i < 20; i++, sent++) b.send(make());
        await h.sleep(Math.floor(g.next() * 20));
      }
      assert.equal(s.host.exited, null, `the host is up after ${sent} commands; stderr:\n${s.host.stderr.slice(-2000)}`);
      b.send('WINOP presence 1');
      b.send('WINOP fullscreen 0');
      b.send('WINOP show');
      await b.sync();
      assert.doesNotMatch(s.host.stderr, /X Window System error|CRITICAL/);
    } finally {
      await s.close();
    }
  });
}
