'use strict';
// Image services on a real X server: OCR of a PNG of known text, thumbnails of an
// image and a PDF at the asked size, and a colour picked with a real click.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['xdotool', 'xdotool'], ['xwininfo', 'x11-utils'], ['convert', 'imagemagick'],
  ['identify', 'imagemagick']]);

async function ask(b, line, id) {
  b.send(line);
  return b.answer(id);
}

// A one-page PDF of the given size in points, with a correct cross-reference table.
function writePdf(file, w, hgt) {
  const objs = ['<< /Type /Catalog /Pages 2 0 R >>', '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
    `<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ${w} ${hgt}] >>`];
  let out = '%PDF-1.4\n';
  const offsets = [];
  objs.forEach((o, i) => { offsets.push(out.length); out += `${i + 1} 0 obj\n${o}\nendobj\n`; });
  const xref = out.length;
  out += `xref\n0 ${objs.length + 1}\n0000000000 65535 f \n`;
  for (const off of offsets) out += `${String(off).padStart(10, '0')} 00000 n \n`;
  out += `trailer\n<< /Size ${objs.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
  fs.writeFileSync(file, out);
}

describe('image services', { skip }, () => {
  const { x, dir, s } = h.setUp({ windowManager: true, dir: 'qbx-image-',
    session: (p) => ({ main: true, env: { TMPDIR: p.dir } }) });

  test('OCR reads two lines of known text', async () => {
    const img = path.join(dir, 'text.png');
    await h.xrun(x.display, 'convert', ['-background', 'white', '-fill', 'black', '-pointsize', '40',
      'label:Hello World\nSecond line here', img]);
    const r = await ask(s.backend, `OCR o1 ${img}`, 'o1');
    assert.equal(r.ok, true, JSON.stringify(r));
    assert.equal(r.text, 'Hello World\nSecond line here');
    assert.equal(r.blocks.length, 2);
    assert.deepEqual(r.blocks.map((b) => b.text), ['Hello World', 'Second line here']);
    const [a, b] = r.blocks;
    assert.ok(a.box.y < b.box.y, 'the first line is above the second');
    for (const blk of r.blocks) {
      assert.ok(blk.confidence > 0.5 && blk.confidence <= 1, JSON.stringify(blk));
      for (const v of [blk.box.x, blk.box.y, blk.box.width, blk.box.height]) assert.ok(v >= 0 && v <= 1);
    }
    const bad = path.join(dir, 'not-an-image.png');
    fs.writeFileSync(bad, 'plain text');
    assert.deepEqual(await ask(s.backend, `OCR o2 ${bad}`, 'o2'), { ok: false, error: 'ocr failed' });
    const blank = path.join(dir, 'blank.png');
    await h.xrun(x.display, 'convert', ['-size', '200x100', 'xc:white', blank]);
    assert.deepEqual(await ask(s.backend, `OCR o3 ${blank}`, 'o3'), { ok: true, text: '', blocks: [] });
  });

  test('thumbnails of an image and a PDF have the asked size', async () => {
    const img = path.join(dir, 'big.png');
    await h.xrun(x.display, 'convert', ['-size', '800x600', 'xc:red', img]);
    const pdf = path.join(dir, 'page.pdf');
    writePdf(pdf, 612, 792);
    for (const [id, file, size, want] of [['t1', img, 100, [200, 150]], ['t2', pdf, 50, [77, 100]],
      ['t3', img, 0, [512, 384]], ['t4', img, -3, [512, 384]]]) {
      const r = await ask(s.backend, `THUMB ${id} ${file}\t${size}`, id);
      assert.equal(r.ok, true, JSON.stringify(r));
      assert.equal(r.path, path.join(dir, `quibex-thumb-${s.host.proc.pid}-${id}.png`));
      assert.deepEqual([r.width, r.height], want, id);
      const real = (await h.xrun(x.display, 'identify', ['-format', '%w %h', r.path])).trim();
      assert.equal(real, want.join(' '), id);
    }
    // A file with no picture of its own gets its type's icon.
    const text = path.join(dir, 'notes.txt');
    fs.writeFileSync(text, 'some words');
    const icon = await ask(s.backend, `THUMB t6 ${text}\t32`, 't6');
    assert.equal(icon.ok, true, JSON.stringify(icon));
    assert.ok(icon.width > 0 && icon.width <= 64 && icon.height > 0 && icon.height <= 64, JSON.stringify(icon));
    assert.equal((await h.xrun(x.display, 'identify', ['-format', '%w %h', icon.path])).trim(),
      `${icon.width} ${icon.height}`);
    const missing = path.join(dir, 'gone.png');
    assert.deepEqual(await ask(s.backend, `THUMB t5 ${missing}\t10`, 't5'),
      { ok: false, error: 'no such file: ' + missing });
    assert.deepEqual(await ask(s.backend, `THUMB a/b ${img}\t10`, 'a/b'),
      { ok: false, error: 'request id must not contain "/"' });
  });

  test('a tiny image is not blown up, however large the size asked', async () => {
    const b = s.backend;
    const tiny = path.join(dir, 'tiny.png');
    await h.xrun(x.display, 'convert', ['-size', '8x8', 'xc:blue', tiny]);
    const ids = ['u1', 'u2', 'u3', 'u4', 'u5'];
    for (const id of ids) b.send(`THUMB ${id} ${tiny}\t8192`);
    for (const id of ids) {
      const r = JSON.parse((await b.expectLine((l) => l.startsWith(`GOT ${id} `))).slice(`GOT ${id} `.length));
      assert.deepEqual([r.ok, r.width, r.height], [true, 16, 16], id);
    }
  });

  test('a FIFO is refused, not read; a folder gets its icon', async () => {
    const b = s.backend;
    const folder = await ask(b, `THUMB d1 ${dir}\t32`, 'd1');
    assert.equal(folder.ok, true, JSON.stringify(folder));
    const fifo = path.join(dir, 'pipe');
    await h.run('mkfifo', [fifo]);
    assert.deepEqual(await ask(b, `OCR f1 ${fifo}`, 'f1'), { ok: false, error: 'ocr failed' });
    assert.deepEqual(await ask(b, `THUMB f2 ${fifo}\t64`, 'f2'), { ok: false, error: 'no thumbnail' });
  });

  test('a click picks the colour under the pointer; Escape cancels', async () => {
    const b = s.backend;
    b.eval("document.documentElement.style.background = document.body.style.background = '#3c8214'");
    const win = await h.xwininfo(x.display, s.main.id);
    const cx = win.x + Math.floor(win.width / 2);
    const cy = win.y + Math.floor(win.height * 3 / 4);
    await h.untilValue(() => h.pixelAt(x.display, cx, cy), (p) => p.join() === '60,130,20', 'the page painted');
    b.send('PICKCOLOR c1');
    // The grab starts on the host's own time: click until the answer comes.
    let answer = null;
    b.expectLine((l) => l.startsWith('GOT c1 ')).then((l) => { answer = l; });
    await h.until(async () => {
      if (!answer) await h.xrun(x.display, 'xdotool', ['mousemove', String(cx), String(cy), 'click', '1']);
      return answer;
    }, 'a picked colour', 15000, 300);
    assert.deepEqual(JSON.parse(answer.slice(7)), { ok: true, color: '#3c8214' });

    b.send('PICKCOLOR c2');
    answer = null;
    b.expectLine((l) => l.startsWith('GOT c2 ')).then((l) => { answer = l; });
    await h.until(async () => {
      if (!answer) await h.xrun(x.display, 'xdotool', ['key', 'Escape']);
      return answer;
    }, 'a cancelled pick', 15000, 300);
    assert.deepEqual(JSON.parse(answer.slice(7)), { ok: true, color: null });
  });
});
