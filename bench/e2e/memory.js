'use strict';
// Memory of the host with its WebKit processes against a bare WebKitGTK window, both on
// an empty page: the proportional set size summed over the process and its descendants,
// a few seconds after the page's first message. The two alternate, one at a time. Other
// processes on the machine that map the same libraries lower both sides' PSS from one
// moment to the next, so the figure is the median of each run's difference, host minus
// the bare window just after it; beside it the PSS that counts only the tree's own
// sharing (common.js ownPss; as root), which they do not change.
//   node bench/e2e/memory.js [runs] [settle-seconds]
const { median, measureHost, measureBare, treePss, withDisplay, fmt } = require('./common');

const RUNS = Number(process.argv[2] || 5);
const SETTLE = Number(process.argv[3] || 3) * 1000;
const GOAL_MB = 6; // host - floor

// The host's tree once the page made its first call; the bare window's once it is ready.
const hostRun = (display) => measureHost(display, /^CALL /, SETTLE, treePss);
const bareRun = (display) => measureBare(display, SETTLE, treePss);

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
  const diff = (f) => median(host.map((r, i) => f(r) - f(bare[i])));
  console.log(`differences, host minus bare WebKitGTK, median of ${RUNS}: private ${fmt(mb(diff((r) => r.privateKb)))} MB, ` +
    `resident (RSS) ${fmt(mb(diff((r) => r.rssKb)))} MB`);
  const line = (what, f) => {
    const d = mb(diff(f));
    console.log(`memory of one window (${what}), median of ${RUNS}: ${fmt(mb(median(host.map(f))))} MB vs floor ` +
      `(bare WebKitGTK) ${fmt(mb(median(bare.map(f))))} MB, difference ${d < 0 ? '' : '+'}${fmt(d)} MB ` +
      `(goal ≤ floor + ${GOAL_MB} MB)`);
  };
  if (host.every((r) => r.ownKb !== null)) line('PSS of the tree on its own', (r) => r.ownKb);
  line('PSS, process tree', (r) => r.kb);
}).catch((e) => { console.error(e); process.exit(1); });
