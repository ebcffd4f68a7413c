'use strict';
// Windows through the real host under Xvfb with openbox: the time from WINOPEN to the
// new window's first page call (window, web view, bridge and page load), from
// WINCLOSE to WINCLOSED, and how many window operations per second the host carries
// out (WINOP moves alternating between two places, timed to a page round trip).
//   node bench/window_bench.js [windows] [operations]
const path = require('node:path');
const h = require('../tests/e2e/harness');

const WINDOWS = Number(process.argv[2] || 20);
const OPS = Number(process.argv[3] || 2000);
const PROBE = path.join(h.PAGES, 'probe.html');

const now = () => performance.now();
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const fmt = (x, d = 1) => x.toFixed(d);

async function run(display) {
  const s = await h.startSession({ display });
  try {
    const b = s.backend;
    await h.hello(b);
    const open = [], close = [];
    for (let i = 0; i < WINDOWS; i++) {
      const id = 'bench' + i;
      const t0 = now();
      b.send(`WINOPEN ${id}\t${PROBE}\t${id}\t400x300`);
      await b.expectCall('client.hello', (c) => c.win === id, 60000);
      open.push(now() - t0);
      const t1 = now();
      b.send(`WINCLOSE ${id}`);
      await b.expectLine(new RegExp(`^WINCLOSED ${id}$`), 60000);
      close.push(now() - t1);
    }
    const t2 = now();
    for (let i = 0; i < OPS; i++) b.send(`WINOP pos ${100 + (i % 2) * 50} 100`);
    await b.sync();
    const opsMs = now() - t2;
    return { open: median(open), close: median(close), rate: (OPS / opsMs) * 1000 };
  } finally {
    await s.close();
  }
}

(async () => {
  const x = await h.startDisplay({ windowManager: true });
  try {
    const r = await run(x.display);
    console.log(`${WINDOWS} windows, ${OPS} moves`);
    console.log(`windows: median WINOPEN to first page call ${fmt(r.open)} ms, WINCLOSE to WINCLOSED ${fmt(r.close, 2)} ms; ` +
      `window operations ${fmt(r.rate, 0)}/s`);
  } finally {
    await x.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
