'use strict';
// Windows through the real host under Xvfb with openbox:
// - the time from WINOPEN to the new window's first page call (window, web view, bridge
//   and page load), for the 1st and the last of N windows opened one after another and
//   left open;
// - memory per extra window: the proportional set size of the host and its WebKit
//   processes (/proc/<pid>/smaps_rollup over the process tree), before and after opening
//   the N windows, the difference divided by N;
// - WINCLOSE to WINCLOSED, and window operations per second (WINOP moves alternating
//   between two places, timed to a page round trip).
//   node bench/window_bench.js [windows] [operations] [settle-seconds]
const fs = require('node:fs');
const path = require('node:path');
const h = require('../tests/e2e/harness');
const common = require('./e2e/common');

const WINDOWS = Number(process.argv[2] || 20);
const OPS = Number(process.argv[3] || 2000);
const SETTLE = Number(process.argv[4] || 3) * 1000;
const PROBE = path.join(h.PAGES, 'probe.html');

const now = () => performance.now();
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const fmt = (x, d = 1) => x.toFixed(d);
const mb = (kb) => kb / 1024;

// PSS in kB of a process and all its descendants, with one "n x name MB" entry per process name.
function treePss(root) {
  const { kb, byName } = common.treePss(root);
  const list = [...byName].map(([name, p]) => `${p.n} x ${name} ${fmt(mb(p.kb))} MB`);
  return { kb, list };
}

async function run(display) {
  const s = await h.startSession({ display });
  try {
    const b = s.backend;
    const pid = s.host.proc.pid;
    await h.hello(b);
    await h.sleep(SETTLE);
    const before = treePss(pid);

    const ids = [];
    const open = [];
    for (let i = 0; i < WINDOWS; i++) {
      const id = 'bench' + i;
      const t0 = now();
      b.send(`WINOPEN ${id}\t${PROBE}\t${id}\t400x300`);
      const first = h.parseCall(await b.expectLine((l) => l.startsWith(`CALL ${id}:`), 60000));
      open.push(now() - t0);
      ids.push(id);
      // Answered as a backend would, so the page finishes loading before the next one.
      const hello = first.method === 'client.hello' ? first : await b.expectCall('client.hello', (c) => c.win === id, 60000);
      b.send(`RET ${hello.id} 0 {"ok":true}`);
      await b.expectCall('probe.ready', (c) => c.win === id, 60000);
    }
    await h.sleep(SETTLE);
    const after = treePss(pid);

    const t2 = now();
    for (let i = 0; i < OPS; i++) b.send(`WINOP pos ${100 + (i % 2) * 50} 100`);
    await b.sync();
    const opsMs = now() - t2;

    const close = [];
    for (const id of ids) {
      const t1 = now();
      b.send(`WINCLOSE ${id}`);
      await b.expectLine(new RegExp(`^WINCLOSED ${id}$`), 60000);
      close.push(now() - t1);
    }
    return {
      first: open[0], last: open[open.length - 1], median: median(open),
      before, after, perWindowKb: (after.kb - before.kb) / WINDOWS,
      close: median(close), rate: (OPS / opsMs) * 1000,
    };
  } finally {
    await s.close();
  }
}

(async () => {
  if (!fs.existsSync(h.HOST_BIN)) throw new Error(`missing ${h.HOST_BIN}: build first (cmake --build build)`);
  const x = await h.startDisplay({ windowManager: true });
  try {
    const r = await run(x.display);
    console.log(`${WINDOWS} windows left open, ${OPS} moves, ${SETTLE / 1000} s settling before each memory reading`);
    console.log(`WINOPEN to the window's first page call: 1st ${fmt(r.first)} ms, ${WINDOWS}th ${fmt(r.last)} ms, median ${fmt(r.median)} ms`);
    console.log(`memory before (PSS): ${fmt(mb(r.before.kb))} MB (${r.before.list.join(', ')})`);
    console.log(`memory after ${WINDOWS} windows (PSS): ${fmt(mb(r.after.kb))} MB (${r.after.list.join(', ')})`);
    console.log(`WINCLOSE to WINCLOSED: median ${fmt(r.close, 2)} ms; window operations ${fmt(r.rate, 0)}/s`);
    console.log(`windows: first call after WINOPEN ${fmt(r.first)} ms (1st), ${fmt(r.last)} ms (${WINDOWS}th); ` +
      `memory per extra window ${fmt(mb(r.perWindowKb))} MB PSS`);
  } finally {
    await x.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
