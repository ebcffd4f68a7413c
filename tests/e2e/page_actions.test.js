'use strict';
// Find in page, cookies, PDF export, print and reload through the real host.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

let x, site;
before(async () => {
  x = await h.startDisplay({ windowManager: true });
  site = await h.serve(h.PAGES);
});
after(async () => {
  site.close();
  await x.stop();
});

// One host showing the find page over http.
let shared;
async function session() {
  if (!shared) {
    shared = await h.startSession({ display: x.display, page: site.url + '/find.html', args: ['Actions'] });
    await h.hello(shared.backend);
  }
  return shared;
}
after(async () => { if (shared) await shared.close(); });

let nextId = 1;
// Sends a command whose answer is GOT <n> and returns the answer's JSON, parsed.
async function got(b, command, rest) {
  const n = nextId++;
  b.send(command.replace('@ID', String(n)) + (rest === undefined ? '' : rest));
  const m = await b.expectLine(new RegExp('^GOT ' + n + ' (.*)$'));
  return JSON.parse(m[1]);
}

test('FIND counts matches and names the selected one', async () => {
  const { backend: b } = await session();
  const cases = [
    ['ab', '', { found: true, matches: 4, activeMatch: 1 }],
    ['ab', '', { found: true, matches: 4, activeMatch: 2 }],
    ['ab', '', { found: true, matches: 4, activeMatch: 3 }],
    ['ab', '\t0', { found: true, matches: 4, activeMatch: 2 }],
    ['AB', '\t1\t1', { found: false, matches: 0, activeMatch: 0 }],
    ['aa', '', { found: true, matches: 2, activeMatch: 1 }],
    ['zzz', '', { found: false, matches: 0, activeMatch: 0 }],
    ['', '', { found: false }],
  ];
  for (const [text, more, want] of cases) {
    const n = nextId++;
    b.send(`FIND q${n} ${text}${more}`);
    const m = await b.expectLine(new RegExp('^GOT ' + n + ' (.*)$'));
    assert.deepEqual(JSON.parse(m[1]), want, `${text}${JSON.stringify(more)}`);
  }
});
