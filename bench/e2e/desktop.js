'use strict';
// Desktop services through the real host: SAY latency for a short phrase (the SAY
// line to its answer, which comes once the PulseAudio null sink has played the
// utterance; about 340 ms of it is the sound itself), and the time to answer a
// file search over a home folder of 100,000 files.
//   node bench/e2e/desktop.js [says] [files]
const fs = require('node:fs');
const path = require('node:path');
const h = require('../../tests/e2e/harness');

const SAYS = Number(process.argv[2] || 20);
const FILES = Number(process.argv[3] || 100000);
const now = () => performance.now();
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

(async () => {
  const x = await h.startDisplay();
  const dir = h.tempDir('qbx-bench-desk-');
  const home = path.join(dir, 'home');
  let pulse;
  let s;
  try {
    // 100 folders of FILES/100 files; one in a thousand matches the query.
    for (let d = 0; d < 100; d++) {
      const sub = path.join(home, `folder-${d}`);
      fs.mkdirSync(sub, { recursive: true });
      for (let i = 0; i < FILES / 100; i++) fs.writeFileSync(path.join(sub, i % 1000 === 7 ? `report-${d}-${i}.txt` : `file-${i}.dat`), '');
    }
    pulse = await h.startPulse(dir, { ticking: true });
    s = await h.startSession({ display: x.display, env: { HOME: home, PULSE_SERVER: pulse.server } });
    await h.hello(s.backend);
    const b = s.backend;
    const times = [];
    for (let i = 0; i <= SAYS; i++) {
      const t0 = now();
      b.send(`SAY s${i} hi`);
      const line = await b.expectLine((l) => l.startsWith(`GOT s${i} `), 30000);
      if (line !== `GOT s${i} {"ok":true}`) throw new Error('SAY failed: ' + line);
      if (i > 0) times.push(now() - t0);  // the first one also makes eSpeak ready
    }
    const searches = [];
    let found = 0;
    for (let i = 0; i < 5; i++) {
      const t0 = now();
      b.send(`SPOTLIGHT f${i} zzz-no-match`);
      await b.expectLine((l) => l.startsWith(`GOT f${i} `), 60000);
      searches.push(now() - t0);
    }
    b.send('SPOTLIGHT r REPORT');
    found = JSON.parse((await b.expectLine((l) => l.startsWith('GOT r '), 60000)).slice(6)).paths.length;
    console.log(`SAY "hi": ${SAYS} utterances, median ${median(times).toFixed(1)} ms (min ${Math.min(...times).toFixed(1)})`);
    console.log(`SPOTLIGHT over ${FILES} files, no match (whole walk): median ${median(searches).toFixed(1)} ms; a query with ${found} matches answered too`);
    console.log(`desktop services: SAY latency ${median(times).toFixed(1)} ms, file search over ${FILES} files ${median(searches).toFixed(1)} ms`);
  } finally {
    if (s) await s.close();
    if (pulse) await pulse.stop();
    await x.stop();
    h.removeDir(dir);
  }
})().catch((e) => { console.error(e); process.exit(1); });
