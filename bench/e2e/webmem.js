'use strict';
// Memory of the web process alone: a window's WebKitWebProcess on an empty page,
// for one or more builds of the host and the bare WebKitGTK window, one at a time
// in turn, a few seconds after the page has loaded. Per process, from
// /proc/<pid>/smaps_rollup: PSS; USS (private pages); private dirty pages and
// anonymous memory, where a page library's heap lands. USS and PSS move by tens
// of MB with the other web processes on the machine (WebKit's library pages are
// private while no other process maps them); the last two do not. Medians over
// the runs, and each build's median difference from the bare window run just
// after it.
//   node bench/e2e/webmem.js [runs] [settle-seconds] [name=path-to-quibex ...]
// Without builds named it measures build/quibex as "host".
const fs = require('node:fs');
const { h, median, measureHost, measureBare, processChildren, withDisplay, fmt } = require('./common');

const RUNS = Number(process.argv[2] || 5);
const SETTLE = Number(process.argv[3] || 3) * 1000;
const builds = process.argv.slice(4).map((a) => {
  const i = a.indexOf('=');
  return { name: a.slice(0, i), bin: a.slice(i + 1) };
});
if (!builds.length) builds.push({ name: 'host', bin: h.HOST_BIN });

// The descendants of `root` whose name starts with `prefix`.
function descendants(root, prefix) {
  const children = processChildren();
  const out = [];
  const walk = (pid) => {
    for (const c of children.get(pid) || []) {
      try {
        if (fs.readFileSync(`/proc/${c}/comm`, 'utf8').startsWith(prefix)) out.push(c);
      } catch (e) { /* ended meanwhile */ }
      walk(c);
    }
  };
  walk(root);
  return out;
}

// kB figures of the one web process under `root`.
function webProcess(root) {
  const pids = descendants(root, 'WebKitWebProces');
  if (pids.length !== 1) throw new Error(`expected one web process, found ${pids.length}`);
  const text = fs.readFileSync(`/proc/${pids[0]}/smaps_rollup`, 'utf8');
  const field = (name) => {
    const m = new RegExp('^' + name + ':\\s+(\\d+) kB', 'm').exec(text);
    return m ? Number(m[1]) : 0;
  };
  return {
    pss: field('Pss'),
    uss: field('Private_Clean') + field('Private_Dirty'),
    dirty: field('Private_Dirty'),
    anon: field('Anonymous'),
  };
}

// The page's load finished (a build without the page library makes no call).
const hostRun = (display, bin) => measureHost(display, /^NAV .*"kind":"finish"/, SETTLE, webProcess, { bin });
const bareRun = (display) => measureBare(display, SETTLE, webProcess);

const mb = (kb) => fmt(kb / 1024, 2);
const KINDS = ['uss', 'pss', 'dirty', 'anon'];
const NAMES = { uss: 'USS', pss: 'PSS', dirty: 'private dirty', anon: 'anonymous' };

withDisplay(async (display) => {
  const seen = new Map(builds.map((b) => [b.name, []]));
  const diffs = new Map(builds.map((b) => [b.name, []]));
  const bare = [];
  for (let i = 0; i < RUNS; i++) {
    const row = [];
    for (const b of builds) {
      const r = await hostRun(display, b.bin);
      const floor = await bareRun(display);
      seen.get(b.name).push(r);
      bare.push(floor);
      diffs.get(b.name).push(Object.fromEntries(KINDS.map((k) => [k, r[k] - floor[k]])));
      row.push(`${b.name} anonymous ${mb(r.anon)} (bare ${mb(floor.anon)})`);
    }
    console.log(`run ${i + 1}: ${row.join('; ')} MB`);
  }
  const med = (list, k) => median(list.map((r) => r[k]));
  const all = (list) => KINDS.map((k) => `${NAMES[k]} ${mb(med(list, k))}`).join(' ');
  console.log(`web process, median of ${RUNS} (MB): bare WebKitGTK ${all(bare)}`);
  for (const b of builds) {
    console.log(`  ${b.name}: ${all(seen.get(b.name))}; minus the bare window run after it: ${all(diffs.get(b.name))}`);
  }
}).catch((e) => { console.error(e); process.exit(1); });
