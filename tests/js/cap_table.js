'use strict';
// The page library's capability table, derived from the sources of its API
// functions: each function's call('<method>') and api.on('<event>') literals, and
// those of the quib functions it calls. The library carries the table as text
// (CAP_CALLS, CAP_EVENTS and CAP_TABLE in core/js/quib_client.js) so that a page
// does not scan some 200 function sources each time it loads; cap_table.test.js
// fails when the text no longer matches the sources.
//   node tests/js/cap_table.js --write   puts the derived text into the library
const fs = require('node:fs');
const path = require('node:path');

const LIBRARY = path.join(__dirname, '../../core/js/quib_client.js');
// Functions whose needs their source does not show.
const FIXED = { fetch: ['fetch'], proxyURL: ['media.proxy'] };

const isObj = (v) => v !== null && typeof v === 'object';

function scan(pathName, fn) {
  if (FIXED[pathName]) return { calls: FIXED[pathName].slice(), events: [], refs: [] };
  const src = Function.prototype.toString.call(fn);
  const grab = (re) => Array.from(src.matchAll(re), (m) => m[1]);
  return {
    calls: grab(/\bcall\(\s*['"]([^'"]+)['"]/g),
    events: grab(/\bapi\.on\(\s*['"]([^'"]+)['"]/g),
    refs: grab(/\bwindow\.quib\.([A-Za-z0-9_$.]+)\s*\(/g),
  };
}

// path -> {calls, events} for every function of `quib` (capabilities itself left
// out), in the order the API object lists them.
function derive(quib) {
  const direct = new Map(); // path -> {calls, events, refs}
  const walk = (obj, prefix, seen) => {
    if (seen.has(obj)) return;
    seen.add(obj);
    for (const key of Object.keys(obj)) {
      const p = prefix + key;
      if (p === 'capabilities') continue;
      const d = Object.getOwnPropertyDescriptor(obj, key);
      if (!d || !('value' in d)) continue; // getters such as win.id
      const v = d.value;
      if (typeof v === 'function') direct.set(p, scan(p, v));
      else if (isObj(v)) walk(v, p + '.', seen);
    }
  };
  walk(quib, '', new Set());

  const uniq = (list) => Array.from(new Set(list));
  const uses = new Map();
  for (const p of direct.keys()) {
    const calls = [];
    const events = [];
    const visited = new Set([p]);
    const stack = [p];
    while (stack.length) {
      const rec = direct.get(stack.pop());
      calls.push(...rec.calls);
      events.push(...rec.events);
      for (const ref of rec.refs) {
        if (ref.startsWith('api.') || !direct.has(ref) || visited.has(ref)) continue;
        visited.add(ref);
        stack.push(ref);
      }
    }
    uses.set(p, { calls: uniq(calls), events: uniq(events) });
  }
  return uses;
}

// The three texts the library carries, as lists of words: every method and every
// event, each once in the order of the table, and the table, one "<path>|<methods>|<events>"
// a word, the lists joined by ",".
function texts(uses) {
  const calls = [];
  const events = [];
  const entries = [];
  for (const [p, rec] of uses) {
    for (const name of [p, ...rec.calls, ...rec.events]) {
      if (!/^[^\s|,`$\\]+$/.test(name)) throw new Error(`capability table: "${name}" cannot be a word of it`);
    }
    for (const m of rec.calls) if (!calls.includes(m)) calls.push(m);
    for (const e of rec.events) if (!events.includes(e)) events.push(e);
    entries.push(p + '|' + rec.calls.join(',') + '|' + rec.events.join(','));
  }
  return { CAP_CALLS: calls, CAP_EVENTS: events, CAP_TABLE: entries };
}

const literal = (name) => new RegExp(`const ${name} = \`([^\`]*)\`;`);

// The lists of words as the library's source holds them now (null when missing).
function embedded(source) {
  const out = {};
  for (const name of ['CAP_CALLS', 'CAP_EVENTS', 'CAP_TABLE']) {
    const m = literal(name).exec(source);
    out[name] = m ? m[1].split(/\s+/).filter(Boolean) : null;
  }
  return out;
}

// The source with `want` in place of the lists it holds, in lines of at most 100 columns.
function rewrite(source, want) {
  let out = source;
  for (const [name, words] of Object.entries(want)) {
    const lines = [];
    let line = '';
    for (const w of words) {
      if (line && line.length + 1 + w.length > 96) { lines.push(line); line = ''; }
      line += (line ? ' ' : '') + w;
    }
    if (line) lines.push(line);
    const text = `const ${name} = \`\n    ${lines.join('\n    ')}\n  \`;`;
    if (!literal(name).test(out)) throw new Error(`${name} not found in the library`);
    out = out.replace(literal(name), () => text);
  }
  return out;
}

module.exports = { derive, texts, embedded, LIBRARY };

if (require.main === module && process.argv.includes('--write')) {
  const { load } = require('./harness');
  const source = fs.readFileSync(LIBRARY, 'utf8');
  fs.writeFileSync(LIBRARY, rewrite(source, texts(derive(load().quib))));
}
