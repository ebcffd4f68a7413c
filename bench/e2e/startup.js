'use strict';
// Start-up: from spawning the process to the page's first message arriving outside the
// page (the host's first CALL line; the bare window's first script message).
//   node bench/e2e/startup.js [runs]
const { median, now, startHost, startBare, withDisplay, fmt } = require('./common');

const RUNS = Number(process.argv[2] || 7);
const GOAL = 1.02; // host / floor

withDisplay(async (display) => {
  const host = [];
  const bare = [];
  // One unmeasured run of each warms the file cache; then they alternate.
  for (let i = -1; i < RUNS; i++) {
    const s = await startHost(display, 'empty.html');
    await s.backend.expectLine(/^CALL /, 60000);
    const tHost = now() - s.t0;
    await s.close();

    const b = startBare(display, 'empty.html');
    const ready = await b.line(/^READY$/);
    const tBare = ready.at - b.t0;
    await b.close();

    if (i >= 0) {
      host.push(tHost);
      bare.push(tBare);
      console.log(`run ${i + 1}: host ${fmt(tHost)} ms, bare ${fmt(tBare)} ms`);
    }
  }
  const mh = median(host);
  const mb = median(bare);
  console.log(`start-up to the first page call, median of ${RUNS}: ${fmt(mh)} ms vs floor (bare WebKitGTK) ${fmt(mb)} ms ` +
    `= ${fmt(mh / mb, 2)}x (goal ≤ ${GOAL}x)`);
}).catch((e) => { console.error(e); process.exit(1); });
