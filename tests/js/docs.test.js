'use strict';
// The references against the code they describe: docs/protocol.md lists every
// line the reader knows and every line the host writes, every GET key and WINOP
// verb, and nothing the code no longer has; its reader index is current;
// docs/page-api.md lists every wire method and event of the page library;
// docs/DECISIONS.md names no source path the tree no longer has.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const idx = require('../../scripts/protocol-index.js');
const { load } = require('./harness');

const ROOT = path.resolve(__dirname, '../..');
const read = (rel) => fs.readFileSync(path.join(ROOT, rel), 'utf8');
const PROTOCOL = read('docs/protocol.md');
const PAGE_API = read('docs/page-api.md');

// The names no table span gives, and the table spans that give no name.
function compare(names, doc, header) {
  const spans = idx.firstCells(doc, header).map((c) => c.span);
  return {
    undescribed: names.filter((n) => !spans.some((s) => idx.spanGives(s, n))),
    unknown: spans.filter((s) => !names.some((n) => idx.spanGives(s, n))),
  };
}

function assertListed(names, doc, header, what) {
  const { undescribed, unknown } = compare(names, doc, header);
  assert.deepEqual(undescribed, [], `${what} missing from the "${header}" tables`);
  assert.deepEqual(unknown, [], `"${header}" table entries that the code does not have`);
}

const grab = (src, re) => [...new Set(Array.from(src.matchAll(re), (m) => m[1].trimEnd()))];

test('every keyword the reader knows, plain and @ form, has its line in docs/protocol.md', () => {
  assertListed(idx.readerTests().flatMap(idx.formsOf), PROTOCOL, 'Line', 'reader keywords');
});

test('the reader index of docs/protocol.md is current (node scripts/protocol-index.js)', () => {
  const { text, missing } = idx.renderIndex(PROTOCOL);
  assert.deepEqual(missing, []);
  assert.equal(idx.indexBlock(PROTOCOL), text);
});

test('every line keyword the host writes is in the table of lines the host sends', () => {
  assertListed(idx.hostLineKeywords(), PROTOCOL, 'Host line', 'host line keywords');
});

test('every GET key and WINOP verb is described', () => {
  const keys = grab(read('services/get_queries.cc'), /\b(?:is|starts)\("([^"]+)"\)/g);
  assertListed(keys, PROTOCOL, 'Key', 'GET keys');
  const ops = read('core/window_ops.cc');
  const verbs = grab(ops, /\bop == "([^"]+)"/g).concat(grab(ops, /\bstarts\(op, "([^"]+)"/g));
  assertListed(verbs, PROTOCOL, 'Verb', 'WINOP verbs');
});

test('every wire method and event of the page library is in docs/page-api.md', () => {
  const src = read('core/js/quib_client.js');
  const methods = grab(src, /\bcall\(\s*['"]([\w.]+)['"]/g);
  const events = grab(src, /\bapi\.on\(\s*['"]([\w-]+)['"]/g);
  // The scan sees what the library itself reports using.
  const asked = load().last('client.capabilities').params;
  assert.deepEqual(asked.calls.filter((m) => m !== 'media.proxy' && !methods.includes(m)), []);
  assert.deepEqual(asked.events.filter((e) => !events.includes(e)), []);
  assertListed(methods, PAGE_API, 'Method', 'page methods');
  assertListed(events, PAGE_API, 'Event', 'page events');
});

test('every source path docs/DECISIONS.md names is in the tree', () => {
  // A path under one of the tree's own folders, in backquotes or plain: a file
  // (core/reader.cc), a folder (platform/gtk) or a module by its stem
  // (core/settings for core/settings.cc and .h).
  const tops = fs.readdirSync(ROOT, { withFileTypes: true })
    .filter((e) => e.isDirectory() && !e.name.startsWith('.') && e.name !== 'build' && !e.name.startsWith('build-'))
    .map((e) => e.name);
  const re = new RegExp(`(?<![\\w./~$<-])((?:${tops.join('|')})(?:/[\\w.-]*\\w)+)`, 'g');
  const exists = (p) => fs.existsSync(path.join(ROOT, p));
  const named = grab(read('docs/DECISIONS.md'), re);
  assert.ok(named.includes('core/reader.cc'), 'the scan finds the paths');
  const missing = named.filter((p) => !exists(p) && !(!/\.\w+$/.test(p) && (exists(`${p}.cc`) || exists(`${p}.h`))));
  assert.deepEqual(missing, [], 'paths in docs/DECISIONS.md that the tree does not have');
});
