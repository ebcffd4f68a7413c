'use strict';
// Shared by the end-to-end benchmarks: the host and the bare WebKitGTK window, each
// started on the same private X server, and the figures printed side by side.
const fs = require('node:fs');
const path = require('node:path');
const readline = require('node:readline');
const h = require('../../tests/e2e/harness');

const BARE_BIN = process.env.QUIBEX_BARE_BIN || path.join(h.ROOT, 'build/bench/bare_webkit');
const ECHO_BIN = process.env.QUIBEX_SOCKET_ECHO_BIN || path.join(h.ROOT, 'build/bench/socket_echo');
const PAGES = path.join(__dirname, 'pages');

for (const bin of [h.HOST_BIN, BARE_BIN, ECHO_BIN]) {
  if (!fs.existsSync(bin)) {
    console.error(`missing ${bin}: build first (cmake --build build)`);
    process.exit(1);
  }
}

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const now = () => performance.now();

// The host on `page` with a scripted backend (h.Backend, or a class of its own);
// `t0` is taken just before the spawn. `bin` runs another build of the host.
async function startHost(display, page, args = [], { Backend = h.Backend, bin, env } = {}) {
  const dir = h.tempDir('qbx-bench-');
  const backend = new Backend(path.join(dir, 'b.sock'));
  await backend.listen();
  const t0 = now();
  const host = new h.Host([path.join(PAGES, page), backend.path, ...args], { display, bin, env });
  backend.context = () => host.describe();
  return {
    t0, backend, host, pid: host.proc.pid,
    async close() {
      await host.stop();
      backend.close();
      h.removeDir(dir);
    },
  };
}

// The bare window on `page` (a file in pages/, with an optional query, and the
// backend's socket when it is to make calls), reading its stdout lines.
function startBare(display, page, query = '', socket, env) {
  const t0 = now();
  const url = page ? 'file://' + path.join(PAGES, page) + query : undefined;
  const args = url ? [url] : [];
  if (url && socket) args.push(socket);
  const proc = new h.Host(args, { display, bin: BARE_BIN, env }).proc;
  const lines = [];
  const waiters = [];
  readline.createInterface({ input: proc.stdout }).on('line', (l) => {
    lines.push([now(), l]);
    for (const w of waiters.splice(0)) w();
  });
  return {
    t0, pid: proc.pid,
    // The first stdout line matching re, with its arrival time.
    async line(re, ms = 60000) {
      const end = Date.now() + ms;
      for (;;) {
        const hit = lines.find(([, l]) => re.test(l));
        if (hit) return { at: hit[0], text: hit[1] };
        if (Date.now() > end) throw new Error('bare_webkit: no line matching ' + re);
        await Promise.race([new Promise((r) => waiters.push(r)), h.sleep(200)]);
      }
    },
    async close() {
      try { process.kill(-proc.pid, 'SIGTERM'); } catch (e) { /* gone */ }
      await h.within(proc.exitInfo, 2000);
      try { process.kill(-proc.pid, 'SIGKILL'); } catch (e) { /* gone */ }
    },
  };
}

// The tree's resident pages, each shared out only among the tree's own mappings of it,
// in kB: the proportional set size as if nothing outside the tree mapped the same
// libraries, which on a busy machine moves PSS by tens of MB from one moment to the
// next. Reads the page frame numbers in /proc/<pid>/pagemap, which only root sees;
// null without them.
function ownPss(pids) {
  const PAGE = 4096;
  const users = new Map();  // frame -> mappings of it in the tree
  const frames = [];
  for (const pid of pids) {
    let smaps;
    let fd;
    try {
      smaps = fs.readFileSync(`/proc/${pid}/smaps`, 'utf8');
      fd = fs.openSync(`/proc/${pid}/pagemap`, 'r');
    } catch (e) { continue; /* ended meanwhile */ }
    try {
      const re = /^([0-9a-f]+)-([0-9a-f]+) [^\n]*\n(?:(?![0-9a-f]+-)[^\n]*\n)*?Rss:\s+(\d+) kB/gm;
      for (let m; (m = re.exec(smaps));) {
        if (m[3] === '0' || m[2].length > 13) continue;  // nothing resident; the vsyscall page
        const first = parseInt(m[1], 16) / PAGE;
        const n = parseInt(m[2], 16) / PAGE - first;
        const buf = Buffer.alloc(n * 8);
        fs.readSync(fd, buf, 0, buf.length, first * 8);
        for (let i = 0; i < n; i++) {
          const hi = buf.readUInt32LE(i * 8 + 4);
          if (!(hi & 0x80000000)) continue;  // not present
          const frame = (hi & 0x7fffff) * 2 ** 32 + buf.readUInt32LE(i * 8);
          if (frame === 0) return null;  // frame numbers hidden: not root
          frames.push(frame);
          users.set(frame, (users.get(frame) || 0) + 1);
        }
      }
    } finally {
      fs.closeSync(fd);
    }
  }
  let kb = 0;
  for (const f of frames) kb += PAGE / 1024 / users.get(f);
  return kb;
}

// Every running process's children, by parent pid.
function processChildren() {
  const children = new Map();
  for (const d of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(d)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${d}/stat`, 'utf8');
      const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(Number(d));
    } catch (e) { /* ended meanwhile */ }
  }
  return children;
}

// Proportional set size, in kB, of a process and all its descendants; with its private
// and its resident memory, which other processes mapping the same libraries change
// less (private) or not at all (resident), and ownPss.
function treePss(root) {
  const children = processChildren();
  let total = 0;
  let priv = 0;
  let rss = 0;
  const procs = [];
  const pids = [];
  const byName = new Map();  // process name -> { n, kb }
  const field = (text, name) => {
    const m = new RegExp('^' + name + ':\\s+(\\d+) kB', 'm').exec(text);
    return m ? Number(m[1]) : 0;
  };
  const walk = (pid) => {
    try {
      const text = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
      const kb = field(text, 'Pss');
      const name = fs.readFileSync(`/proc/${pid}/comm`, 'utf8').trim();
      total += kb;
      priv += field(text, 'Private_Clean') + field(text, 'Private_Dirty');
      rss += field(text, 'Rss');
      pids.push(pid);
      procs.push(`${name} ${(kb / 1024).toFixed(1)} MB`);
      const seen = byName.get(name) || { n: 0, kb: 0 };
      byName.set(name, { n: seen.n + 1, kb: seen.kb + kb });
    } catch (e) { /* ended meanwhile */ }
    for (const c of children.get(pid) || []) walk(c);
  };
  walk(root);
  return { kb: total, privateKb: priv, rssKb: rss, ownKb: ownPss(pids), procs, byName };
}

async function withDisplay(fn) {
  const x = await h.startDisplay();
  try {
    await fn(x.display);
  } finally {
    await x.stop();
  }
}

const fmt = (v, digits = 1) => v.toFixed(digits);

// The host on an empty page: once `ready` matches a backend line and `settle` ms
// have passed, `measure(pid)` is its result. opts go to startHost (bin, env).
async function measureHost(display, ready, settle, measure, opts = {}) {
  const s = await startHost(display, 'empty.html', [], opts);
  try {
    await s.backend.expectLine(ready, 60000);
    await h.sleep(settle);
    return measure(s.pid);
  } finally {
    await s.close();
  }
}

// The bare window on an empty page, measured as measureHost measures the host.
async function measureBare(display, settle, measure) {
  const b = startBare(display, 'empty.html');
  try {
    await b.line(/^READY$/);
    await h.sleep(settle);
    return measure(b.pid);
  } finally {
    await b.close();
  }
}

module.exports = { h, median, now, startHost, startBare, treePss, processChildren, measureHost, measureBare, withDisplay, fmt, PAGES, BARE_BIN, ECHO_BIN };
