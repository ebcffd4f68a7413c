'use strict';
// The media proxy against a direct fetch: a page reads 100 MB from a local server,
// once through quib-media and once directly, alternating; throughput and the time
// to the first byte, medians of several rounds.
//   node bench/e2e/media.js [rounds] [megabytes]
const http = require('node:http');
const { h, median, withDisplay, fmt } = require('./common');

const ROUNDS = Number(process.argv[2] || 5);
const MB = Number(process.argv[3] || 100);
const CHUNK = Buffer.alloc(1 << 20, 7);

function serve() {
  const server = http.createServer((req, res) => {
    res.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': MB * CHUNK.length,
      'access-control-allow-origin': '*' });
    let left = MB;
    const pump = () => {
      while (left > 0) {
        left--;
        if (!res.write(CHUNK)) { res.once('drain', pump); return; }
      }
      res.end();
    };
    pump();
  });
  return new Promise((r) => server.listen(0, '127.0.0.1', () => r(server)));
}

withDisplay(async (display) => {
  const server = await serve();
  const url = `http://127.0.0.1:${server.address().port}/big.bin`;
  const s = await h.startSession({ display });
  try {
    const b = s.backend;
    await h.hello(b);
    const run = async (proxied) => {
      const tag = 'm' + Math.random().toString(36).slice(2);
      b.eval(`(async () => {
        const t0 = performance.now();
        const r = await fetch(${proxied ? `quib.proxyURL(${JSON.stringify(url)})` : JSON.stringify(url)});
        const reader = r.body.getReader();
        let first = null, n = 0;
        for (;;) {
          const { done, value } = await reader.read();
          if (done) break;
          if (first === null) first = performance.now() - t0;
          n += value.length;
        }
        probe.report('${tag}', { ms: performance.now() - t0, first, n });
      })()`);
      return b.expectReport(tag, 120000);
    };
    const proxy = [];
    const direct = [];
    for (let i = -1; i < ROUNDS; i++) {
      const p = await run(true);
      const d = await run(false);
      if (p.n !== MB * CHUNK.length || d.n !== MB * CHUNK.length) throw new Error(`short read: ${p.n}, ${d.n}`);
      if (i >= 0) {
        proxy.push(p);
        direct.push(d);
      }
    }
    const rate = (xs) => median(xs.map((r) => (r.n / 1048576) / (r.ms / 1000)));
    const first = (xs) => median(xs.map((r) => r.first));
    const rp = rate(proxy);
    const rd = rate(direct);
    console.log(`${MB} MB, median of ${ROUNDS}: quib-media ${fmt(rp, 0)} MB/s (first byte ${fmt(first(proxy), 1)} ms), ` +
      `direct ${fmt(rd, 0)} MB/s (first byte ${fmt(first(direct), 1)} ms), ratio ${fmt(rp / rd, 2)} (target >= 0.8)`);
  } finally {
    await s.close();
    server.close();
  }
}).catch((e) => { console.error(e); process.exit(1); });
