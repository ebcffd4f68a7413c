'use strict';
// Page calls through a real page, against a bare WebKitGTK window and the socket alone:
// - sequential: the page awaits each call before making the next (round trip, calls/s);
// - pipelined: the page keeps a fixed number of calls in flight (calls/s);
// - socket echo: a plain program sends the host's CALL line to the same scripted
//   backend and reads its RET line back, one at a time: the socket's and the
//   backend's share of a host round trip.
// Under quibex the scripted backend answers each CALL at once; the bare window echoes
// each message back from its handler. The three alternate for several rounds and the
// figures are the medians over the rounds.
//   node bench/e2e/roundtrip.js [sequential calls] [rounds] [pipelined calls] [in flight]
const { execFile } = require('node:child_process');
const path = require('node:path');
const { h, median, startHost, startBare, withDisplay, fmt, ECHO_BIN } = require('./common');

const N = Number(process.argv[2] || 10000);
const ROUNDS = Number(process.argv[3] || 5);
const PIPE = Number(process.argv[4] || 20000);
const INFLIGHT = Number(process.argv[5] || 1000);
const WARM = 500;
const LIMIT = 1.3; // host round trip <= LIMIT x bare + socket echo
const GOAL = 3; // calls/s in flight, host / bare

// The scripted backend's answer to the benchmark's calls.
function answerPings(b) {
  b.onLine = (line) => {
    if (!line.endsWith('["{\\"method\\":\\"ping\\"}","file://"]')) return false;
    b.sock.write('RET ' + line.slice(5, line.indexOf(' ', 5)) + ' 0 {}\n');
    return true;
  };
}

async function hostRun(display) {
  const s = await startHost(display, 'calls.html');
  try {
    const b = s.backend;
    await b.expectCall('client.hello', undefined, 60000);
    answerPings(b);
    b.eval(`runCalls(${N}, ${WARM}, ${PIPE}, ${INFLIGHT})`);
    return (await b.expectCall('result', undefined, 600000)).params;
  } finally {
    await s.close();
  }
}

async function bareRun(display) {
  const b = startBare(display, 'calls.html', `?n=${N}&warm=${WARM}&pipe=${PIPE}&inflight=${INFLIGHT}`);
  try {
    return JSON.parse((await b.line(/^\{/, 600000)).text);
  } finally {
    await b.close();
  }
}

async function echoRun() {
  const dir = h.tempDir('qbx-bench-');
  const b = new h.Backend(path.join(dir, 'b.sock'));
  await b.listen();
  answerPings(b);
  try {
    const out = await new Promise((resolve, reject) => {
      execFile(ECHO_BIN, [b.path, String(N), String(WARM)], { timeout: 600000 },
        (err, stdout, stderr) => (err ? reject(new Error('socket_echo: ' + (stderr || err.message))) : resolve(stdout)));
    });
    return JSON.parse(out);
  } finally {
    b.close();
    h.removeDir(dir);
  }
}

withDisplay(async (display) => {
  const rate = (r) => (r.n / r.totalMs) * 1000;
  const runs = { host: [], bare: [], echo: [] };
  for (let i = 0; i < ROUNDS; i++) {
    const host = await hostRun(display);
    const bare = await bareRun(display);
    const echo = await echoRun();
    runs.host.push(host);
    runs.bare.push(bare);
    runs.echo.push(echo);
    console.log(`round ${i + 1}: round trip host ${fmt(host.seq.medianMs, 3)} ms, bare ${fmt(bare.seq.medianMs, 3)} ms, ` +
      `socket echo ${fmt(echo.medianMs, 3)} ms; sequential calls/s host ${fmt(rate(host.seq), 0)}, bare ${fmt(rate(bare.seq), 0)}; ` +
      `pipelined calls/s host ${fmt(rate(host.pipe), 0)}, bare ${fmt(rate(bare.pipe), 0)}`);
  }
  const med = (list, f) => median(list.map(f));
  const host = med(runs.host, (r) => r.seq.medianMs);
  const bare = med(runs.bare, (r) => r.seq.medianMs);
  const echo = med(runs.echo, (r) => r.medianMs);
  const limit = LIMIT * bare + echo;
  const seqHost = med(runs.host, (r) => rate(r.seq));
  const seqBare = med(runs.bare, (r) => rate(r.seq));
  const pipeHost = med(runs.host, (r) => rate(r.pipe));
  const pipeBare = med(runs.bare, (r) => rate(r.pipe));
  console.log(`page calls, medians of ${ROUNDS} rounds: sequential calls/s host ${fmt(seqHost, 0)}, bare ${fmt(seqBare, 0)}`);
  console.log(`page-call round trip: ${fmt(host, 3)} ms vs floor (bare WebKitGTK ${fmt(bare, 3)} ms, socket echo ` +
    `${fmt(echo, 3)} ms): host / (${LIMIT} x bare + echo) = ${fmt(host / limit, 2)} (target ≤ 1)`);
  console.log(`calls/s with ${INFLIGHT} in flight: ${fmt(pipeHost, 0)} vs floor (bare WebKitGTK) ${fmt(pipeBare, 0)} ` +
    `= ${fmt(pipeHost / pipeBare, 2)}x (goal ≥ ${GOAL}x)`);
}).catch((e) => { console.error(e); process.exit(1); });
