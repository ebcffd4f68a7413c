'use strict';
// Hot-key latency through the real host under Xvfb with openbox: from the key
// press entering the X server (XTest, from another client) to the HOTKEY line
// reaching the backend. Both ends read the same monotonic clock.
//   node bench/e2e/hotkey.js [presses]
const readline = require('node:readline');
const { h, startHost, fmt } = require('./common');

const N = Number(process.argv[2] || 200);
const WARM = 20;

// Presses Control+Shift+K on request; answers with the monotonic time (ns)
// just before the press went to the server.
const PRESSER = `
import sys, time
from Xlib import display, X, XK
from Xlib.ext import xtest
d = display.Display()
code = {n: d.keysym_to_keycode(XK.string_to_keysym(n)) for n in ('Control_L', 'Shift_L', 'k')}
print('ready', flush=True)
for _ in sys.stdin:
    xtest.fake_input(d, X.KeyPress, code['Control_L'])
    xtest.fake_input(d, X.KeyPress, code['Shift_L'])
    d.sync()
    t = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
    xtest.fake_input(d, X.KeyPress, code['k'])
    d.sync()
    xtest.fake_input(d, X.KeyRelease, code['k'])
    xtest.fake_input(d, X.KeyRelease, code['Shift_L'])
    xtest.fake_input(d, X.KeyRelease, code['Control_L'])
    d.sync()
    print(t, flush=True)
`;

async function run(display) {
  const s = await startHost(display, 'empty.html', ['Bench']);
  const presser = h.launch(h.SYSTEM_PYTHON, ['-c', PRESSER],
    { stdio: ['pipe', 'pipe', 'inherit'], env: { ...process.env, DISPLAY: display } });
  try {
    const b = s.backend;
    await b.waitConnected(60000);
    const sent = [];
    let wake = null;
    readline.createInterface({ input: presser.stdout }).on('line', (l) => {
      sent.push(l);
      if (wake) wake();
    });
    const nextSent = async () => {
      while (!sent.length) await new Promise((r) => { wake = r; });
      return sent.shift();
    };
    if ((await nextSent()) !== 'ready') throw new Error('the presser did not start');
    b.send('HKREG r bench\tcmd+shift+k');
    await b.expectLine(/^GOT r \{"ok":true\}$/, 60000);
    let heard = null;
    b.onLine = (line) => {
      if (line !== 'HOTKEY bench') return false;
      if (heard) heard(process.hrtime.bigint());
      return true;
    };
    const times = [];
    for (let i = 0; i < WARM + N; i++) {
      const arrived = new Promise((r) => { heard = r; });
      presser.stdin.write('\n');
      const [t1, t0] = await Promise.all([arrived, nextSent()]);
      if (i >= WARM) times.push(Number(t1 - BigInt(t0)) / 1e6);
    }
    times.sort((a, c) => a - c);
    return { median: times[times.length >> 1], p99: times[Math.min(times.length - 1, Math.floor(times.length * 0.99))] };
  } finally {
    presser.stdin.destroy();
    await h.stopGroup(presser);
    await s.close();
  }
}

(async () => {
  const x = await h.startDisplay({ windowManager: true });
  try {
    const r = await run(x.display);
    console.log(`hot key, ${N} presses: p99 ${fmt(r.p99, 3)} ms`);
    console.log(`hot-key latency (key press to HOTKEY), median over ${N}: ${fmt(r.median, 3)} ms`);
  } finally {
    await x.stop();
  }
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
