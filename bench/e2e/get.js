'use strict';
// GET round trip through the real host under Xvfb with openbox: the time from a GET
// line leaving the backend to its GOT line arriving, one question at a time, for the
// windows, screens and mouse keys (the main window and one further window open).
//   node bench/e2e/get.js [queries per key]
const path = require('node:path');
const { h, startHost, now, fmt } = require('./common');

const N = Number(process.argv[2] || 10000);
const WARM = 200;
const KEYS = ['windows', 'screens', 'mouse'];

const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * p))];

async function run(display) {
  const s = await startHost(display, 'empty.html', ['Bench']);
  try {
    const b = s.backend;
    await b.waitConnected(60000);
    b.send(`WINOPEN w2\t${path.join(h.PAGES, 'probe.html')}\tSecond\t300x200`);
    await h.findWindow(display, 'Second', 60000);
    const results = {};
    let pending = null;
    // Answers are taken off the wire as they arrive, without keeping them.
    b.onLine = (line) => {
      if (!line.startsWith('GOT ')) return false;
      if (pending) pending(line);
      return true;
    };
    const ask = (id, key) => new Promise((resolve) => {
      pending = resolve;
      b.sock.write(`GET ${id} ${key}\n`);
    });
    for (const key of KEYS) {
      for (let i = 0; i < WARM; i++) await ask('w' + i, key);
      const times = [];
      for (let i = 0; i < N; i++) {
        const t0 = now();
        const line = await ask('q' + i, key);
        times.push(now() - t0);
        if (!line.startsWith(`GOT q${i} `)) throw new Error('answer out of order: ' + line.slice(0, 80));
      }
      times.sort((a, c) => a - c);
      results[key] = { median: percentile(times, 0.5), p99: percentile(times, 0.99) };
    }
    return results;
  } finally {
    await s.close();
  }
}

(async () => {
  const x = await h.startDisplay({ windowManager: true });
  try {
    const r = await run(x.display);
    for (const key of KEYS) console.log(`GET ${key}: ${N} queries, median ${fmt(r[key].median, 3)} ms, p99 ${fmt(r[key].p99, 3)} ms`);
    console.log('GET round trip (median / p99 ms): ' +
      KEYS.map((k) => `${k} ${fmt(r[k].median, 3)} / ${fmt(r[k].p99, 3)}`).join(', '));
  } finally {
    await x.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
