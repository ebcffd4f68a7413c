'use strict';
// The clipboard on a real X server: the host's writes read back by xclip, xclip's
// writes heard as CLIPCHANGE and read through GET, each kind the host offers.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawn, execFile } = require('node:child_process');
const h = require('./harness');

const skip = h.needs([['xclip', 'xclip'], ['convert', 'imagemagick']]);

let asked = 0;
const get = h.getAnswer;

// Reads a target of the clipboard as another application does.
function xclipOut(display, target = 'UTF8_STRING') {
  return new Promise((resolve, reject) => {
    execFile('xclip', ['-selection', 'clipboard', '-t', target, '-o'], { env: { ...process.env, DISPLAY: display },
      encoding: 'buffer', timeout: 10000 }, (err, out, e) => (err ? reject(new Error(`xclip -t ${target}: ${e}`)) : resolve(out)));
  });
}

// Takes the clipboard as another application; xclip stays in the background until
// someone else takes it. Resolves once the clipboard serves the data.
async function xclipIn(display, data, target) {
  await new Promise((resolve, reject) => {
    const args = ['-selection', 'clipboard', '-i'];
    if (target) args.push('-t', target);
    const p = spawn('xclip', args, { env: { ...process.env, DISPLAY: display }, stdio: ['pipe', 'ignore', 'ignore'] });
    p.on('exit', (code) => (code === 0 ? resolve() : reject(new Error('xclip -i ended with ' + code))));
    p.stdin.end(data);
  });
  const want = Buffer.from(data);
  await h.until(async () => (await xclipOut(display, target || 'UTF8_STRING').catch(() => Buffer.alloc(0))).equals(want),
    'xclip holding the clipboard');
}

const png = (size, color = 'red', fmt = 'png') =>
  require('node:child_process').execFileSync('convert', ['-size', size, 'xc:' + color, fmt + ':-']);

describe('clipboard', { skip }, () => {
  const { x, dir, s } = h.setUp({ dir: 'qbx-clip-',
    session: (p) => ({ args: ['Clip'], env: { HOME: p.dir, TMPDIR: p.dir, XDG_RUNTIME_DIR: p.dir } }) });

  test('own writes are reported as own once; another application\'s write as foreign', async () => {
    const b = s.backend;
    b.send('CLIPWATCH 100');
    const before = (await get(b, 'clipboard:count')).changeCount;
    b.send('CLIPWRITE hello\\tthere');
    await b.expectLine((l) => l === `CLIPCHANGE ${before + 1} 1`);
    // xclip's read ends after the window system told the host of its own change.
    assert.equal((await xclipOut(x.display)).toString(), 'hello\tthere');
    assert.equal((await get(b, 'clipboard:count')).changeCount, before + 1, 'the own write counted once');
    const own = await get(b, 'clipboard');
    assert.equal(own.kind, 'text');
    assert.equal(own.text, 'hello\tthere');
    assert.deepEqual(own.sourceApp, { name: 'Clip', bundleId: null });

    await xclipIn(x.display, 'from elsewhere');
    await b.expectLine((l) => l === `CLIPCHANGE ${before + 2} 0`);
    const foreign = await get(b, 'clipboard');
    assert.equal(foreign.text, 'from elsewhere');
    assert.equal(foreign.changeCount, before + 2);
    assert.equal(b.lines.filter((l) => l.startsWith('CLIPCHANGE')).length, 2, b.lines.join('\n'));
    b.send('CLIPWATCH 0');
  });

  test('each kind the host writes is offered under its X11 targets and read back', async () => {
    const b = s.backend;
    const img = png('3x2');
    const files = [path.join(dir, 'a b.txt'), path.join(dir, 'ü#.txt')];
    b.send(`CLIPWRITE plain\t<b>bold</b>\tdata:image/png;base64,${img.toString('base64')}\t#ff000080\t${files[0]}\t\t${files[1]}`);
    await b.sync();
    const targets = (await xclipOut(x.display, 'TARGETS')).toString().split('\n');
    for (const t of ['UTF8_STRING', 'text/html', 'image/png', 'application/x-color', 'text/uri-list',
      'x-special/gnome-copied-files']) assert.ok(targets.includes(t), `${t} in ${targets}`);
    assert.equal((await xclipOut(x.display, 'text/html')).toString(), '<b>bold</b>');
    assert.deepEqual(await xclipOut(x.display, 'image/png'), img, 'PNG bytes as they were given');
    const color = await xclipOut(x.display, 'application/x-color');
    assert.ok(color.length >= 8, 'four 16-bit components');
    const uris = (await xclipOut(x.display, 'text/uri-list')).toString().trim().split(/\r?\n/);
    assert.deepEqual(uris, ['file://' + encodeURI(files[0]), 'file://' + encodeURI(files[1]).replace('#', '%23')]);
    assert.equal((await xclipOut(x.display, 'x-special/gnome-copied-files')).toString(), 'copy\n' + uris.join('\n'));

    const got = await get(b, 'clipboard');
    assert.equal(got.kind, 'files', 'files come first');
    assert.deepEqual(got.paths, files);
    assert.equal(got.text, 'plain');
    assert.equal(got.html, '<b>bold</b>');
    assert.equal(got.color, '#ff000080');
    assert.deepEqual(got.imageSize, { width: 3, height: 2 });
    assert.deepEqual(fs.readFileSync(got.image), img);
    assert.equal(path.dirname(got.image), dir);
  });

  test('images are checked and converted before they are offered as PNG', async () => {
    const b = s.backend;
    const cases = [
      ['a GIF data URL becomes PNG', `data:image/gif;base64,${png('4x5', 'blue', 'gif').toString('base64')}`, { width: 4, height: 5 }],
      ['a JPEG file becomes PNG', 'file', { width: 6, height: 2 }],
      ['percent-encoded SVG is no Base64', 'data:image/svg+xml,%3Csvg%20xmlns%3D%22x%22%3E%3C%2Fsvg%3E', null],
      ['Base64 of text is no image', Buffer.from('not an image at all').toString('base64'), null],
      ['a missing file', '/nonexistent/x.png', null],
    ];
    fs.writeFileSync(path.join(dir, 'p.jpg'), png('6x2', 'green', 'jpeg'));
    for (const [what, field, size] of cases) {
      b.send(`CLIPWRITE t\t\t${field === 'file' ? path.join(dir, 'p.jpg') : field}`);
      const got = await get(b, 'clipboard');
      assert.equal(got.text, 't', what);
      assert.deepEqual(got.imageSize, size, what);
      const targets = (await xclipOut(x.display, 'TARGETS')).toString().split('\n');
      assert.equal(targets.includes('image/png'), size !== null, what);
      if (size) assert.equal((await xclipOut(x.display, 'image/png')).subarray(1, 4).toString(), 'PNG', what);
    }
  });

  test('another application\'s image, colour and empty write', async () => {
    const b = s.backend;
    await xclipIn(x.display, png('7x3'), 'image/png');
    let got = await get(b, 'clipboard');
    assert.equal(got.kind, 'image');
    assert.deepEqual(got.imageSize, { width: 7, height: 3 });
    assert.ok(got.image.endsWith(`-${got.changeCount}.png`));
    const first = got.image;
    assert.equal((await get(b, 'clipboard')).image, first, 'one file per change');
    b.send('CLIPWRITE \t\t\tnot-a-colour');
    got = await get(b, 'clipboard');
    assert.equal(got.kind, 'empty', 'the clipboard was still cleared');
    assert.equal(got.color, null);
    assert.equal(fs.existsSync(first), true, 'the last image file stays until another replaces it');
  });

  test('a GET of the contents is answered before the commands behind it run', async () => {
    const b = s.backend;
    await xclipIn(x.display, 'old');
    const id = 'order' + (++asked);
    b.send(`GET ${id} clipboard`);
    b.send('CLIPWRITE new');
    b.send(`GET ${id}b clipboard:count`);
    const line = await b.expectLine((l) => l.startsWith(`GOT ${id} `));
    assert.equal(JSON.parse(line.slice(`GOT ${id} `.length)).text, 'old');
    const i = b.lines.indexOf(line);
    const later = await b.expectLine((l) => l.startsWith(`GOT ${id}b `));
    assert.ok(b.lines.indexOf(later) > i, 'answers in the order of the questions');
    assert.equal((await xclipOut(x.display)).toString(), 'new');
  });
});
