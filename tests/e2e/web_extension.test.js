'use strict';
// The library the host writes out for WebKit's web processes: WebKit runs what it
// finds in that folder, so the host uses only a folder of its own user's that
// nobody else can write, and replaces a library that is not exactly its own.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const { x } = h.setUp();

const uid = process.getuid();

// The extension libraries under base, by path.
function libraries(base) {
  const root = path.join(base, `quibex-${uid}`, 'webkit-extensions');
  if (!fs.existsSync(root)) return [];
  return fs.readdirSync(root).map((d) => path.join(root, d, 'libquibex-webext.so')).filter((f) => fs.existsSync(f));
}

async function startAndStop(env) {
  const s = await h.startSession({ display: x.display, env });
  try {
    await h.hello(s.backend);
  } finally {
    await s.close();
  }
}

test('the extension goes only to a private folder, and a changed library is written again', async (t) => {
  const dir = h.tempDir('qbx-webext-');
  t.after(() => h.removeDir(dir));
  const run = path.join(dir, 'run');
  const cache = path.join(dir, 'cache');
  fs.mkdirSync(run, { mode: 0o700 });
  fs.mkdirSync(cache, { mode: 0o700 });
  const env = { XDG_RUNTIME_DIR: run, XDG_CACHE_HOME: cache, TMPDIR: path.join(dir, 'tmp') };

  await startAndStop(env);
  const [lib] = libraries(run);
  assert.ok(lib, 'written to the runtime folder');
  const original = fs.readFileSync(lib);
  assert.ok(original.length > 1000);

  // Someone else's bytes in the same place are replaced before WebKit loads them.
  fs.writeFileSync(lib, 'not the host\'s library');
  await startAndStop(env);
  assert.deepEqual(fs.readFileSync(lib), original);

  // A folder others may write is not used: the next place is.
  fs.chmodSync(path.join(run, `quibex-${uid}`), 0o777);
  fs.writeFileSync(lib, 'planted');
  await startAndStop(env);
  assert.equal(fs.readFileSync(lib, 'utf8'), 'planted', 'the shared folder is left alone');
  const [cached] = libraries(cache);
  assert.ok(cached, 'written to the cache folder instead');
  assert.deepEqual(fs.readFileSync(cached), original);
});
