'use strict';
// THUMB's memory and time: a 9000 x 9000 PNG (too large to decode: its type's
// icon stands in), an 8 x 8 PNG asked at size 8192 five times at once, and a
// 6000 x 6000 PNG; the host's peak resident memory (VmHWM) after each.
//   node bench/e2e/thumbs.js
const fs = require('node:fs');
const path = require('node:path');
const { h, now, withDisplay, fmt } = require('./common');
const { writePng } = require('../../tests/e2e/tray_support');

withDisplay(async (display) => {
  const dir = h.tempDir('qbx-bench-thumbs-');
  const s = await h.startSession({ display, env: { TMPDIR: dir } });
  try {
    await h.hello(s.backend);
    const peak = () => Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${s.host.proc.pid}/status`, 'utf8'))[1]) / 1024;
    const files = { huge: path.join(dir, 'huge.png'), tiny: path.join(dir, 'tiny.png'), big: path.join(dir, 'big.png') };
    const black = [0, 0, 0, 255];
    writePng(files.huge, 9000, 9000, black);
    writePng(files.tiny, 8, 8, black);
    writePng(files.big, 6000, 6000, black);
    let n = 0;
    const run = async (label, file, size, count) => {
      const ids = Array.from({ length: count }, () => 't' + (++n));
      const t0 = now();
      for (const id of ids) s.backend.send(`THUMB ${id} ${file}\t${size}`);
      let last;
      for (const id of ids) last = JSON.parse((await s.backend.expectLine((l) => l.startsWith(`GOT ${id} `), 120000)).slice(id.length + 5));
      console.log(`${label}: ${last.width} x ${last.height} in ${fmt(now() - t0, 0)} ms, peak ${fmt(peak())} MB`);
    };
    console.log(`at start: peak ${fmt(peak())} MB`);
    await run('9000 x 9000 PNG at 256', files.huge, 256, 1);
    await run('8 x 8 PNG at 8192, five at once', files.tiny, 8192, 5);
    await run('6000 x 6000 PNG at 256', files.big, 256, 1);
    console.log(`host peak resident memory: ${fmt(peak())} MB`);
  } finally {
    await s.close();
    h.removeDir(dir);
  }
}).catch((e) => { console.error(e); process.exit(1); });
