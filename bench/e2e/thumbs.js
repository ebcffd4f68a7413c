'use strict';
// THUMB's memory and time: a 12000 x 12000 PNG (too large to decode: its type's
// icon stands in), an 8 x 8 PNG asked at size 8192 five times at once, and a
// 6000 x 6000 PNG; the host's peak resident memory (VmHWM) after each.
//   node bench/e2e/thumbs.js
const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');
const { h, now, withDisplay, fmt } = require('./common');

// A black RGB PNG of w x h, written without holding the pixels.
async function blackPng(file, w, hgt) {
  const chunk = (type, data) => {
    const len = Buffer.alloc(4);
    len.writeUInt32BE(data.length);
    const td = Buffer.concat([Buffer.from(type), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(zlib.crc32(td));
    return Buffer.concat([len, td, crc]);
  };
  const parts = [];
  const deflate = zlib.createDeflate({ level: 1 });
  deflate.on('data', (d) => parts.push(d));
  const row = Buffer.alloc(w * 3 + 1);
  for (let y = 0; y < hgt; y++) if (!deflate.write(row)) await new Promise((r) => deflate.once('drain', r));
  await new Promise((r) => deflate.end(r));
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(hgt, 4);
  ihdr.set([8, 2, 0, 0, 0], 8);
  fs.writeFileSync(file, Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr), chunk('IDAT', Buffer.concat(parts)), chunk('IEND', Buffer.alloc(0))]));
}

withDisplay(async (display) => {
  const dir = h.tempDir('qbx-bench-thumbs-');
  const s = await h.startSession({ display, env: { TMPDIR: dir } });
  try {
    await h.hello(s.backend);
    const peak = () => Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${s.host.proc.pid}/status`, 'utf8'))[1]) / 1024;
    const files = { huge: path.join(dir, 'huge.png'), tiny: path.join(dir, 'tiny.png'), big: path.join(dir, 'big.png') };
    await blackPng(files.huge, 12000, 12000);
    await blackPng(files.tiny, 8, 8);
    await blackPng(files.big, 6000, 6000);
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
    await run('12000 x 12000 PNG at 256', files.huge, 256, 1);
    await run('8 x 8 PNG at 8192, five at once', files.tiny, 8192, 5);
    await run('6000 x 6000 PNG at 256', files.big, 256, 1);
    console.log(`host peak resident memory: ${fmt(peak())} MB`);
  } finally {
    await s.close();
    h.removeDir(dir);
  }
});
