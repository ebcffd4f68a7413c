'use strict';
// Screenshots and screen recording on a real X server: a screenshot's pixel is the
// colour of the page under it, and a recording is an MP4 that GStreamer reads back
// with the recorded length and the display's size.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['xdotool', 'xdotool'], ['xwininfo', 'x11-utils'], ['convert', 'imagemagick'],
  ['gst-discoverer-1.0', 'gstreamer1.0-plugins-base-apps']]);

async function ask(b, line, id) {
  b.send(line);
  return b.answer(id);
}

async function pngPixel(file, x, y) {
  const out = await h.xrun(':0', 'convert', [file, '-crop', `1x1+${x}+${y}`, '-depth', '8', 'txt:-']);
  const m = /\((\d+),(\d+),(\d+)/.exec(out.split('\n').find((l) => /^\d+,\d+:/.test(l)) || '');
  if (!m) throw new Error('no pixel in: ' + out);
  return [Number(m[1]), Number(m[2]), Number(m[3])];
}

describe('screen capture', { skip }, () => {
  const { x, dir, s } = h.setUp({ windowManager: true, dir: 'qbx-screen-',
    session: (p) => ({ main: true, env: { TMPDIR: p.dir } }) });

  test('a screenshot holds the page colour at the window\'s place', async () => {
    const b = s.backend;
    b.eval("document.documentElement.style.background = document.body.style.background = '#0a64c8'");
    const win = await h.xwininfo(x.display, s.main.id);
    const cx = win.x + Math.floor(win.width / 2);
    const cy = win.y + Math.floor(win.height * 3 / 4);
    await h.untilValue(() => h.pixelAt(x.display, cx, cy), (p) => p.join() === '10,100,200', 'the page painted');
    const r = await ask(b, 'CAPTURE shot1', 'shot1');
    assert.equal(r.ok, true, JSON.stringify(r));
    assert.equal(r.path, path.join(dir, `quibex-shot-${s.host.proc.pid}-shot1.png`));
    assert.deepEqual([r.width, r.height], [1280, 800]);
    assert.deepEqual(await pngPixel(r.path, cx, cy), [10, 100, 200]);
    // Refused before anything is written: an id that would leave the folder.
    const bad = await ask(b, 'CAPTURE ../evil', '../evil');
    assert.deepEqual(bad, { ok: false, error: 'request id must not contain "/"' });
    const none = await ask(b, 'CAPTURE shot2 42', 'shot2');
    assert.deepEqual(none, { ok: false, error: 'no such display' });
  });

  test('RECORD start and stop give an MP4 of the recorded length', async () => {
    const b = s.backend;
    const out = path.join(dir, 'rec.mp4');
    fs.writeFileSync(out, 'an older file');
    // Two starts at once: only the first one records.
    b.send(`RECORD r1 start 0\t${out}`);
    const second = await ask(b, `RECORD r2 start 0\t${path.join(dir, 'other.mp4')}`, 'r2');
    assert.deepEqual(second, { ok: false, error: 'already recording' });
    const first = JSON.parse((await b.expectLine((l) => l.startsWith('GOT r1 '))).slice(7));
    assert.deepEqual(first, { ok: true, error: null });
    assert.equal(fs.existsSync(path.join(dir, 'other.mp4')), false);
    const began = Date.now();
    await new Promise((r) => setTimeout(r, 2000));  // the length being recorded
    // The older file gives way only to a finished recording.
    assert.equal(fs.readFileSync(out, 'utf8'), 'an older file');
    const stop = await ask(b, 'RECORD r3 stop', 'r3');
    assert.deepEqual(fs.readdirSync(dir).filter((f) => f.startsWith('rec.mp4')), ['rec.mp4']);
    const wall = (Date.now() - began) / 1000;
    assert.equal(stop.ok, true, JSON.stringify(stop));
    assert.equal(stop.path, out);
    assert.ok(stop.duration > 1.0 && stop.duration <= wall + 0.1, `duration ${stop.duration} of ${wall}`);
    const info = await h.xrun(x.display, 'gst-discoverer-1.0', [out]);
    const m = /Duration: (\d+):(\d+):([\d.]+)/.exec(info);
    assert.ok(m, info);
    const seconds = Number(m[1]) * 3600 + Number(m[2]) * 60 + Number(m[3]);
    assert.ok(Math.abs(seconds - stop.duration) < 0.5, `file ${seconds}s, answer ${stop.duration}s`);
    assert.match(info, /H\.264/);
    assert.match(info, /Width: 1280/);
    assert.match(info, /Height: 800/);
    assert.deepEqual(await ask(b, 'RECORD r4 stop', 'r4'), { ok: false, error: 'not recording' });
  });

  test('a start that cannot create the file leaves nothing and the recorder idle', async () => {
    const b = s.backend;
    const out = path.join(dir, 'missing', 'rec.mp4');
    assert.deepEqual(await ask(b, `RECORD f1 start 0\t${out}`, 'f1'), { ok: false, error: 'cannot create the mp4' });
    assert.deepEqual(await ask(b, `RECORD f2 start 77\t${path.join(dir, 'x.mp4')}`, 'f2'),
      { ok: false, error: 'no such display' });
    assert.deepEqual(await ask(b, 'RECORD f3 stop', 'f3'), { ok: false, error: 'not recording' });
  });

  // Last: it ends the host.
  test('a host that ends while recording keeps the older file and leaves no other', async () => {
    const b = s.backend;
    const out = path.join(dir, 'kept.mp4');
    fs.writeFileSync(out, 'an older file');
    assert.deepEqual(await ask(b, `RECORD k1 start 0\t${out}`, 'k1'), { ok: true, error: null });
    await new Promise((r) => setTimeout(r, 500));
    b.send('QUIT');
    await s.host.waitExit();
    assert.equal(fs.readFileSync(out, 'utf8'), 'an older file');
    assert.deepEqual(fs.readdirSync(dir).filter((f) => f.startsWith('kept.mp4')), ['kept.mp4']);
  });
});
