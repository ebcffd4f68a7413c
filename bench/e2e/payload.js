'use strict';
// Round trip of a page call carrying a payload each way, from 100 B to 10 MB: the
// page calls "echo" with a string of that size and the backend answers the same
// string back; the time is from the call to the page's promise settling. The floor
// is the bare WebKitGTK window carrying the same call over a Unix socket to the same
// backend (bare_webkit with a socket). Host and floor alternate for several rounds;
// the figures are the medians over the rounds.
//   node bench/e2e/payload.js [rounds] [batches per size]
const path = require('node:path');
const { h, median, startHost, startBare, withDisplay, fmt } = require('./common');

const ROUNDS = Number(process.argv[2] || 5);
const BATCHES = Number(process.argv[3] || 7);
const SIZES = [100, 10e3, 100e3, 1e6, 10e6];
const GOAL = 1.15; // host / floor at 1 MB and 10 MB

const label = (n) => (n >= 1e6 ? `${n / 1e6} MB` : n >= 1e3 ? `${n / 1e3} kB` : `${n} B`);

// The scripted backend, framing lines on bytes: a 10 MB line is neither decoded nor
// rescanned as it arrives, and an echo call is answered with a slice of its own bytes,
// so the backend's share stays small and the same for host and floor.
const ECHO_HEAD = Buffer.from('["{\\"method\\":\\"echo\\",\\"params\\":\\"');
const ECHO_TAIL = Buffer.from('\\"}","');
class EchoBackend extends h.Backend {
  attach(sock) {
    this.sock = sock;
    const parts = [];
    sock.on('data', (d) => {
      let from = 0;
      let lf;
      while ((lf = d.indexOf(10, from)) >= 0) {
        parts.push(d.subarray(from, lf));
        this.take(parts.length === 1 ? parts[0] : Buffer.concat(parts));
        parts.length = 0;
        from = lf + 1;
      }
      if (from < d.length) parts.push(d.subarray(from));
    });
    sock.on('error', () => {});
    sock.on('close', () => {
      this.closed = true;
      for (const w of this.waiters.splice(0)) w.fail('the connection closed');
    });
  }

  take(line) {
    const sp = line.indexOf(32, 5);
    const head = sp + 1;
    const isEcho = line.subarray(0, 5).toString() === 'CALL ' && sp > 0 &&
      line.subarray(head, head + ECHO_HEAD.length).equals(ECHO_HEAD);
    if (!isEcho) {
      this.push(line.toString('utf8'));
      return;
    }
    const tail = line.lastIndexOf(ECHO_TAIL);
    this.sock.cork();
    this.sock.write(`RET ${line.toString('latin1', 5, sp)} 0 "`);
    this.sock.write(line.subarray(head + ECHO_HEAD.length, tail));
    this.sock.write('"\n');
    this.sock.uncork();
  }
}

function check(result, who) {
  if (!Array.isArray(result)) throw new Error(`${who}: ${JSON.stringify(result)}`);
  return result;
}

async function hostRun(display) {
  const s = await startHost(display, 'payload.html', [], { Backend: EchoBackend });
  try {
    await s.backend.expectCall('client.hello', undefined, 60000);
    s.backend.eval(`runPayloads(${JSON.stringify(SIZES)}, ${BATCHES})`);
    return check((await s.backend.expectCall('result', undefined, 600000)).params, 'host');
  } finally {
    await s.close();
  }
}

async function bareRun(display) {
  const dir = h.tempDir('qbx-bench-');
  const backend = new EchoBackend(path.join(dir, 'b.sock'));
  await backend.listen();
  const b = startBare(display, 'payload.html', `?sizes=${SIZES.join(',')}&batches=${BATCHES}`, backend.path);
  try {
    return check(JSON.parse((await b.line(/^[[{]/, 600000)).text), 'bare window');
  } finally {
    await b.close();
    backend.close();
    h.removeDir(dir);
  }
}

withDisplay(async (display) => {
  const host = [];
  const floor = [];
  for (let i = 0; i < ROUNDS; i++) {
    host.push(await hostRun(display));
    floor.push(await bareRun(display));
    console.log(`round ${i + 1} (host / floor, ms): ` +
      SIZES.map((n, k) => `${label(n)} ${fmt(host[i][k].medianMs, 3)} / ${fmt(floor[i][k].medianMs, 3)}`).join(', '));
  }
  const rows = SIZES.map((n, k) => {
    const hm = median(host.map((r) => r[k].medianMs));
    const fm = median(floor.map((r) => r[k].medianMs));
    return { n, hm, fm, ratio: hm / fm };
  });
  console.log(`payload round trip, medians of ${ROUNDS} rounds: ` +
    rows.map((r) => `${label(r.n)} ${fmt(r.hm, 3)} ms vs floor ${fmt(r.fm, 3)} ms = ${fmt(r.ratio, 2)}x`).join('; '));
  for (const r of rows.filter((x) => x.n >= 1e6)) {
    console.log(`payload round trip ${label(r.n)}: ${fmt(r.hm, 1)} ms vs floor ${fmt(r.fm, 1)} ms = ` +
      `${fmt(r.ratio, 2)}x (goal ≤ ${GOAL}x)`);
  }
}).catch((e) => { console.error(e); process.exit(1); });
