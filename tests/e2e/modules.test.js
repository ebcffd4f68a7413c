'use strict';
// A host without its modules/ folder: each optional service answers as a desktop
// without it does, and says once on stderr which module it misses.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

// One white pixel.
const PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8/x8AAwMCAO+ip1sAAAAASUVORK5CYII=',
  'base64');

describe('a host without its modules', () => {
  const { dir, s } = h.setUp({ dir: 'qbx-nomodules-',
    session: (p) => {
      const bin = path.join(p.dir, 'bin', 'quibex');
      fs.mkdirSync(path.dirname(bin));
      fs.copyFileSync(h.HOST_BIN, bin);
      fs.chmodSync(bin, 0o755);
      // No sound server either: a module found by mistake could not reach the machine's.
      return { bin, env: { HOME: p.dir, PULSE_SERVER: 'unix:' + path.join(p.dir, 'none') } };
    } });

  const ask = (line, id) => { s.backend.send(line); return s.backend.answer(id); };

  test('answers as without the services, naming each missing module once', async () => {
    const img = path.join(dir, 'white.png');
    fs.writeFileSync(img, PNG);
    for (const n of [1, 2]) {
      assert.deepEqual(await ask(`OCR o${n} ${img}`, `o${n}`), { ok: false, error: 'ocr failed' });
      assert.deepEqual(await ask(`THUMB t${n} ${img}\t32`, `t${n}`), { ok: false, error: 'no thumbnail' });
      assert.deepEqual(await ask(`SOUND s${n} bell`, `s${n}`), { ok: false });
      assert.deepEqual(await ask(`SAY y${n} hello`, `y${n}`), { ok: false });
      assert.deepEqual(await ask(`VOICES v${n}`, `v${n}`), { ok: true, voices: [] });
      assert.deepEqual(await ask(`AUDIOTAP a${n} system\t0\t50`, `a${n}`), { ok: false, code: 'unsupported' });
    }
    assert.equal(s.host.exited, null, s.host.describe());
    for (const name of ['image', 'sound', 'espeak', 'pulse']) {
      const said = s.host.stderr.split('\n').filter((l) => l.includes(`no libquibex-${name}.so beside the host`));
      assert.equal(said.length, 1, `${name}: ${s.host.describe()}`);
    }
  });
});
