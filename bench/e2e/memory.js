'use strict';
// Memory of the host with its WebKit processes against a bare WebKitGTK window, both on
// an empty page: the proportional set size summed over the process and its descendants,
// a few seconds after the page's first message. The two alternate, one at a time; the
// figure is the median over the runs.
//   node bench/e2e/memory.js [runs] [settle-seconds]
const { h, median, startHost, startBare, treePss, withDisplay, fmt } = require('./common');

const RUNS = Number(process.argv[2] || 3);
const SETTLE = Number(process.argv[3] || 3) * 1000;
const GOAL_MB = 6; // host - floor

async function hostRun(display) {
  const s = await startHost(display, 'empty.html');
  try {
    await s.backend.expectLine(/^CALL /, 60000);
    await h.sleep(SETTLE);
    return treePss(s.pid);
  } finally {
    await s.close();
  }
}

async function bareRun(display) {
  const b = startBare(display, 'empty.html');
  try {
    await b.line(/^READY$/);
    await h.sleep(SETTLE);
    return treePss(b.pid);
  } finally {
    await b.close();
  }
}

const mb = (kb) => kb / 1024;

withDisplay(async (display) => {
  const host = [];
  const bare = [];
  for (let i = 0; i < RUNS; i++) {
    host.push(await hostRun(display));
    bare.push(await bareRun(display));
    console.log(`run ${i + 1}: host ${fmt(mb(host[i].kb))} MB (${host[i].procs.join(', ')}); ` +
      `bare ${fmt(mb(bare[i].kb))} MB (${bare[i].procs.join(', ')})`);
  }
  const hp = median(host.map((r) => r.kb));
  const bp = median(bare.map((r) => r.kb));
  const hu = median(host.map((r) => r.privateKb));
  const bu = median(bare.map((r) => r.privateKb));
  console.log(`private memory: host ${fmt(mb(hu))} MB, bare WebKitGTK ${fmt(mb(bu))} MB, difference ${fmt(mb(hu - bu))} MB`);
  console.log(`memory of one window (PSS, process tree), median of ${RUNS}: ${fmt(mb(hp))} MB vs floor (bare WebKitGTK) ` +
    `${fmt(mb(bp))} MB = +${fmt(mb(hp - bp))} MB (goal ≤ floor + ${GOAL_MB} MB)`);
}).catch((e) => { console.error(e); process.exit(1); });
