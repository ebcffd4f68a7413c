'use strict';
// Clipboard round trip through the real host under Xvfb: from a CLIPWRITE line
// leaving the backend to the GOT line of the "clipboard" GET sent right behind it,
// for 1 KB of text and a 1 MB PNG image.
//   node bench/e2e/clipboard.js [round trips per kind]
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { h, startHost, now, median, fmt } = require('./common');

const N = Number(process.argv[2] || 200);
const WARM = 10;

async function run(display, dir) {
  const s = await startHost(display, 'empty.html', ['Bench']);
  try {
    const b = s.backend;
    await b.waitConnected(60000);
    const image = path.join(dir, 'big.png');
    // Noise does not compress: about 1 MB of PNG.
    execFileSync('convert', ['-size', '420x420', 'xc:', '+noise', 'Random', 'png:' + image]);
    const size = fs.statSync(image).size;
    const kinds = {
      'text 1 KB': 'x'.repeat(1024),
      [`image ${fmt(size / 1048576, 2)} MB`]: `\t\t${image}`,
    };
    let pending = null;
    b.onLine = (line) => {
      if (!line.startsWith('GOT ')) return false;
      if (pending) pending(line);
      return true;
    };
    const trip = (id, fields) => new Promise((resolve) => {
      pending = resolve;
      b.sock.write(`CLIPWRITE ${fields}\nGET ${id} clipboard\n`);
    });
    const results = {};
    for (const [kind, fields] of Object.entries(kinds)) {
      for (let i = 0; i < WARM; i++) await trip('w' + i, fields);
      const times = [];
      for (let i = 0; i < N; i++) {
        const t0 = now();
        const line = await trip('q' + i, fields);
        times.push(now() - t0);
        if (!line.startsWith(`GOT q${i} {`)) throw new Error('bad answer: ' + line.slice(0, 80));
      }
      results[kind] = median(times);
    }
    return results;
  } finally {
    await s.close();
  }
}

(async () => {
  const x = await h.startDisplay();
  const dir = h.tempDir('qbx-bench-clip-');
  try {
    const r = await run(x.display, dir);
    console.log(`clipboard write-then-read round trip, median over ${N} (ms): ` +
      Object.entries(r).map(([k, v]) => `${k} ${fmt(v, 2)}`).join(', '));
  } finally {
    h.removeDir(dir);
    await x.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
