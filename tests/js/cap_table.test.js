'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { load, plain } = require('./harness');
const { derive, texts, embedded, LIBRARY } = require('./cap_table');

test('the capability table the library carries is the one its API functions make', () => {
  const h = load();
  const want = texts(derive(h.quib));
  assert.deepEqual(embedded(fs.readFileSync(LIBRARY, 'utf8')), want,
    'stale: run node tests/js/cap_table.js --write');
  // What the library asks the backend at load: every method and event, in table order.
  assert.deepEqual(plain(h.last('client.capabilities').params), { calls: want.CAP_CALLS, events: want.CAP_EVENTS });
});
