'use strict';
// Navigation decision latency: from a page's navigation to the start of the load
// it asked for, over a chain of main-frame navigations (pages/nav.html: each page
// marks "go" and at once sets location.href to the next).
//   - policy alone: file pages, which the host's policy lets through without a
//     question (the backend is connected);
//   - backend at once: pages from a local web server on 127.0.0.1, where the host
//     asks NAVQ first and the scripted backend answers "NAVR <id> allow" as soon
//     as the question arrives;
// each beside the same chain in the bare WebKitGTK window, which has no policy
// hook. The mark is the page's call as it reaches the backend (the bare window's
// message as it prints it); the start is the NAV "start" line (the bare window's
// STARTED line). Figures are medians over the navigations after a warm-up.
//   node bench/e2e/navigation.js [navigations] [warm-up]
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const readline = require('node:readline');
const { h, median, now, withDisplay, fmt, PAGES } = require('./common');

const BARE_BIN = process.env.QUIBEX_BARE_BIN || path.join(h.ROOT, 'build/bench/bare_webkit');

const N = Number(process.argv[2] || 200);
const WARM = Number(process.argv[3] || 10);
const TOTAL = N + WARM;

function serve() {
  const page = fs.readFileSync(path.join(PAGES, 'nav.html'));
  const server = http.createServer((req, res) => {
    if (!req.url.startsWith('/nav.html')) { res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' });
    res.end(page);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/nav.html`,
    close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }),
  })));
}

// Latencies from each mark to the next start, past the warm-up.
function pairUp(events) {
  const out = [];
  let go = null;
  for (const [at, kind] of events) {
    if (kind === 'go') go = at;
    else if (kind === 'start' && go !== null) {
      out.push(at - go);
      go = null;
    }
  }
  return out.slice(WARM);
}

async function hostRun(display, url, answer) {
  const dir = h.tempDir('qbx-bench-');
  const backend = new h.Backend(path.join(dir, 'b.sock'));
  await backend.listen();
  const events = [];
  let finished;
  const done = new Promise((r) => { finished = r; });
  backend.onLine = (line) => {
    const at = now();
    if (line.startsWith('NAVQ ')) {
      if (answer) backend.sock.write(`NAVR ${line.slice(5, line.indexOf(' ', 5))} allow\n`);
      return true;
    }
    if (line.startsWith('NAV {"window":"main","kind":"start"')) events.push([at, 'start']);
    else if (line.startsWith('CALL ') && line.includes('\\"method\\":\\"bench.go\\"')) events.push([at, 'go']);
    else if (line.startsWith('CALL ') && line.includes('\\"method\\":\\"bench.done\\"')) finished();
    return true;
  };
  // The host takes a file page by its path, without a query: a page of its own
  // starts the chain.
  let first = `${url}?i=0&n=${TOTAL}`;
  if (url.startsWith('file://')) {
    first = path.join(dir, 'start.html');
    fs.writeFileSync(first, `<!doctype html><script>location.replace(${JSON.stringify(`${url}?i=0&n=${TOTAL}`)})</script>`);
  }
  const host = new h.Host([first, backend.path], { display });
  backend.context = () => host.describe();
  try {
    const ended = host.exitInfo.then((e) => { throw new Error('host ended: ' + JSON.stringify(e) + '\n' + host.describe()); });
    if (!(await h.within(Promise.race([done.then(() => true), ended]), 600000))) throw new Error('the chain did not finish');
    return pairUp(events);
  } finally {
    await host.stop();
    backend.close();
    h.removeDir(dir);
  }
}

async function bareRun(display, url) {
  const proc = new h.Host([`${url}?i=0&n=${TOTAL}`], { display, bin: BARE_BIN }).proc;
  const events = [];
  let finished;
  const done = new Promise((r) => { finished = r; });
  readline.createInterface({ input: proc.stdout }).on('line', (l) => {
    const at = now();
    if (l === 'STARTED') events.push([at, 'start']);
    else if (l === 'go') events.push([at, 'go']);
    else if (l === 'done') finished();
  });
  try {
    if (!(await h.within(done.then(() => true), 600000))) throw new Error('the bare chain did not finish');
    return pairUp(events);
  } finally {
    try { process.kill(-proc.pid, 'SIGTERM'); } catch (e) { /* gone */ }
    await h.within(proc.exitInfo, 2000);
    try { process.kill(-proc.pid, 'SIGKILL'); } catch (e) { /* gone */ }
  }
}

withDisplay(async (display) => {
  const web = await serve();
  const file = 'file://' + path.join(PAGES, 'nav.html');
  try {
    const r = {};
    r.bareFile = await bareRun(display, file);
    r.hostFile = await hostRun(display, file, false);
    r.bareWeb = await bareRun(display, web.url);
    r.hostWeb = await hostRun(display, web.url, true);
    for (const [k, v] of Object.entries(r)) {
      if (v.length < N) throw new Error(`${k}: ${v.length} navigations measured, ${N} expected`);
      const s = [...v].sort((a, b) => a - b);
      console.log(`${k}: median ${fmt(median(v), 2)} ms, p90 ${fmt(s[Math.floor(s.length * 0.9)], 2)} ms over ${v.length}`);
    }
    console.log(`navigation to load start, median of ${N}: policy alone (file pages) host ${fmt(median(r.hostFile), 2)} ms, ` +
      `bare WebKitGTK ${fmt(median(r.bareFile), 2)} ms; backend answering NAVR at once (http pages) host ` +
      `${fmt(median(r.hostWeb), 2)} ms, bare WebKitGTK ${fmt(median(r.bareWeb), 2)} ms`);
  } finally {
    await web.close();
  }
}).catch((e) => { console.error(e); process.exit(1); });
