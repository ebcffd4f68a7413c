'use strict';
// docs/bundles.md lists every setting the host reads: each QUIBEX_ variable and each
// Quibex, CFBundle or NS key named in the host's sources.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '../..');
const SOURCES = ['app', 'core', 'webui', 'services', 'ai', 'platform'];
// A setting's name as a whole string literal: "QUIBEX_DEBUG", "QuibexDebug", "CFBundleName".
const NAME = /"(QUIBEX_[A-Z0-9_]+|Quibex[A-Za-z0-9]+|CFBundle[A-Za-z]+|NS[A-Za-z]+UsageDescription)"/g;

function sourceFiles(dir) {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((e) => {
    const p = path.join(dir, e.name);
    if (e.isDirectory()) return sourceFiles(p);
    return /\.(cc|h|c|js)$/.test(e.name) ? [p] : [];
  });
}

function namesIn(text, re) {
  return new Set([...text.matchAll(re)].map((m) => m[1]));
}

test('docs/bundles.md names every setting the host reads', () => {
  const read = new Set();
  for (const dir of SOURCES)
    for (const f of sourceFiles(path.join(ROOT, dir)))
      for (const n of namesIn(fs.readFileSync(f, 'utf8'), NAME)) read.add(n);
  assert.ok(read.has('QUIBEX_DEBUG') && read.has('QuibexWindowSize'), 'the scan finds the settings');

  const doc = fs.readFileSync(path.join(ROOT, 'docs/bundles.md'), 'utf8');
  // Names in backquotes, the way the document's tables write them.
  const listed = namesIn(doc, /`(QUIBEX_[A-Z0-9_]+|Quibex[A-Za-z0-9]+|CFBundle[A-Za-z]+|NS[A-Za-z]+UsageDescription)`/g);
  assert.deepEqual([...read].filter((n) => !listed.has(n)).sort(), [], 'read by the host, missing from docs/bundles.md');
});
