'use strict';
// Rebuilding the application bar: the time from the first line of a bar of 20 menus
// of 30 items each to the answer of a request sent right behind it. Commands run one
// at a time in order, so the answer comes once the bar is built and shown in every
// window. The same request without a bar in front of it is the baseline.
//   node bench/e2e/menubar.js [rounds] [windows]
const path = require('node:path');
const { h, median, now, withDisplay, fmt } = require('./common');

const ROUNDS = Number(process.argv[2] || 50);
const WINDOWS = Number(process.argv[3] || 1);

function barLines(round) {
  const lines = ['MENUBEGIN'];
  for (let m = 0; m < 20; m++) {
    lines.push(`MENU Menu ${m}`);
    for (let i = 0; i < 30; i++) lines.push(`ITEM m${m}i${i}\tItem ${i} of round ${round}\tcmd+shift+${i % 10}\t${i % 3 ? '' : 'c'}`);
  }
  lines.push('MENUEND');
  return lines.join('\n') + '\n';
}

async function timed(b, text, n) {
  const t0 = now();
  b.sock.write(text + `RET q${n} 0 {}\n`);
  await b.expectLine(new RegExp(`^GOT ${n} `), 60000);
  return now() - t0;
}

withDisplay(async (display) => {
  const s = await h.startSession({ display });
  try {
    const b = s.backend;
    await h.hello(b);
    for (let i = 1; i < WINDOWS; i++) {
      b.send(`WINOPEN w${i}\t${path.join(h.PAGES, 'probe.html')}\tW${i}`);
      await h.hello(b, `w${i}`);
    }
    const bar = [];
    const base = [];
    for (let r = -3; r < ROUNDS; r++) {
      const tb = await timed(b, barLines(r), 2 * (r + 10));
      const t0 = await timed(b, '', 2 * (r + 10) + 1);
      if (r >= 0) {
        bar.push(tb);
        base.push(t0);
      }
    }
    const mb = median(bar);
    const m0 = median(base);
    console.log(`bar of 20 menus x 30 items in ${WINDOWS} window(s), median of ${ROUNDS}: ${fmt(mb, 2)} ms to the answer behind it, ` +
      `${fmt(m0, 2)} ms without it; rebuild ${fmt(mb - m0, 2)} ms`);
  } finally {
    await s.close();
  }
}).catch((e) => { console.error(e); process.exit(1); });
