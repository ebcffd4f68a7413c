'use strict';
// Page-call round trip and sequential calls per second through a real page: the page
// awaits each call before making the next. Under quibex the scripted backend answers
// each CALL at once; the bare window echoes each message back from its handler.
//   node bench/e2e/roundtrip.js [calls]
const { startHost, startBare, withDisplay, fmt } = require('./common');

const N = Number(process.argv[2] || 10000);
const WARM = 500;

async function hostRun(display) {
  const s = await startHost(display, 'calls.html');
  try {
    const b = s.backend;
    await b.expectCall('client.hello', undefined, 60000);
    b.onLine = (line) => {
      if (!line.endsWith('["{\\"method\\":\\"ping\\"}","file://"]')) return false;
      b.sock.write('RET ' + line.slice(5, line.indexOf(' ', 5)) + ' 0 {}\n');
      return true;
    };
    b.eval(`runCalls(${N}, ${WARM})`);
    return (await b.expectCall('result', undefined, 300000)).params;
  } finally {
    await s.close();
  }
}

async function bareRun(display) {
  const b = startBare(display, 'calls.html', `?n=${N}&warm=${WARM}`);
  try {
    return JSON.parse((await b.line(/^\{/, 300000)).text);
  } finally {
    await b.close();
  }
}

withDisplay(async (display) => {
  const host = await hostRun(display);
  const bare = await bareRun(display);
  const rate = (r) => (r.n / r.totalMs) * 1000;
  for (const [name, r] of [['host', host], ['bare', bare]]) {
    console.log(`${name}: ${r.n} calls in ${fmt(r.totalMs)} ms, median ${fmt(r.medianMs, 3)} ms, p90 ${fmt(r.p90Ms, 3)} ms (of batch means), ${fmt(rate(r), 0)} calls/s`);
  }
  console.log(`page calls: median round trip host ${fmt(host.medianMs, 3)} ms, bare WebKitGTK ${fmt(bare.medianMs, 3)} ms, ratio ${fmt(host.medianMs / bare.medianMs, 2)} (target < 1 ms); ` +
    `sequential calls/s host ${fmt(rate(host), 0)}, bare WebKitGTK ${fmt(rate(bare), 0)}, ratio ${fmt(rate(host) / rate(bare), 2)} (target >= 5000/s)`);
}).catch((e) => { console.error(e); process.exit(1); });
