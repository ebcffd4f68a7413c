'use strict';
// Recording a 1920x1080 display (Xvfb, a page repainting itself every frame):
// frames per second that reach the MP4 and CPU use of the host while recording;
// and the time to recognise a page of text with OCR.
//   node bench/e2e/screen.js [seconds]
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const h = require('../../tests/e2e/harness');

const SECONDS = Number(process.argv[2] || 5);

// A display of its own size; launched through the harness, which stops it at exit
// whatever happens.
function startXvfb() {
  const xvfb = h.launch('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error('Xvfb did not start')), 15000);
    xvfb.stdio[3].on('data', (d) => {
      out += d;
      if (out.includes('\n')) { clearTimeout(timer); resolve({ display: ':' + out.trim(), stop: () => h.stopGroup(xvfb) }); }
    });
  });
}

const cpuSeconds = (pid) => {
  const f = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(f[11]) + Number(f[12])) / 100;  // utime + stime, clock ticks of 1/100 s
};

async function ask(b, line, id) {
  b.send(line);
  const got = await b.expectLine((l) => l.startsWith(`GOT ${id} `), 120000);
  return JSON.parse(got.slice(`GOT ${id} `.length));
}

async function main() {
  const x = await startXvfb();
  const dir = h.tempDir('qbx-screen-bench-');
  const s = await h.startSession({ display: x.display, args: ['Main'], env: { TMPDIR: dir } });
  try {
    await h.hello(s.backend);
    // Something changes in every frame, as a screen being recorded does.
    s.backend.eval("document.body.style.margin=0;let n=0;(function f(){document.body.style.background='hsl('+(n++%360)+',80%,50%)';requestAnimationFrame(f)})()");
    const out = path.join(dir, 'bench.mp4');
    const pid = s.host.proc.pid;
    await ask(s.backend, `RECORD r1 start 0\t${out}`, 'r1');
    const cpu0 = cpuSeconds(pid);
    const t0 = performance.now();
    await new Promise((r) => setTimeout(r, SECONDS * 1000));
    const cpu1 = cpuSeconds(pid);
    const wall = (performance.now() - t0) / 1000;
    const stop = await ask(s.backend, 'RECORD r2 stop', 'r2');
    if (!stop.ok) throw new Error(JSON.stringify(stop));
    const trace = execFileSync('gst-launch-1.0', ['-v', 'filesrc', `location=${out}`, '!', 'qtdemux', '!',
      'fakesink', 'silent=false'], { encoding: 'utf8', maxBuffer: 1 << 28 });
    const frames = (trace.match(/chain   \*\*\*/g) || []).length;
    const page = path.join(dir, 'page.png');
    const args = ['-size', '1000x1000', 'xc:white', '-fill', 'black', '-pointsize', '24'];
    for (let i = 0; i < 30; ++i) args.push('-annotate', `+20+${30 * (i + 1)}`, `Line ${i + 1}: the quick brown fox jumps over the lazy dog.`);
    execFileSync('convert', [...args, page]);
    const times = [];
    for (let i = 0; i < 3; ++i) {
      const t = performance.now();
      const r = await ask(s.backend, `OCR o${i} ${page}`, `o${i}`);
      if (!r.ok) throw new Error(JSON.stringify(r));
      times.push(performance.now() - t);
    }
    times.sort((a, b) => a - b);
    console.log(`recording 1920x1080: ${frames} frames in ${stop.duration.toFixed(3)} s of video`);
    console.log(`recording fps: ${(frames / stop.duration).toFixed(1)}`);
    console.log(`host cpu while recording: ${(100 * (cpu1 - cpu0) / wall).toFixed(0)}% of one core`);
    console.log(`ocr of a 30-line page: ${times[1].toFixed(0)} ms (median of 3)`);
  } finally {
    await s.close();
    await x.stop();
    h.removeDir(dir);
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
