#!/usr/bin/env node
'use strict';
// Writes the reader index of docs/protocol.md: the keyword tests of
// core/reader.cc in the order the reader tries them, each linked to the section
// whose command table gives its line. Run it after the reader learns or loses a
// keyword; tests/js/docs.test.js fails while the index is out of date, and when
// a keyword (or a line the host writes) has no line in the reference.
//
//   node scripts/protocol-index.js

const fs = require('node:fs');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '..');
const DOC = path.join(ROOT, 'docs/protocol.md');
const BEGIN = '<!-- reader-index:begin -->';
const END = '<!-- reader-index:end -->';

const read = (rel) => fs.readFileSync(path.join(ROOT, rel), 'utf8');

// The reader's keyword tests, in order: {rule, literal, block}. rule is the
// helper the reader calls (starts, equals, at_form); block names the menu
// builder state a test depends on.
function readerTests(src = read('core/reader.cc')) {
  const body = src.slice(src.indexOf('CommandReader::handle_line'), src.indexOf('CommandReader::feed'));
  const tests = [];
  const seen = new Set();
  let block = null;
  for (const line of body.split('\n')) {
    if (/if \(builder_\.in_menu\(\)\)/.test(line)) block = 'menu';
    else if (/if \(builder_\.any_open\(\)\)/.test(line)) block = 'any';
    else if (/^ {2}\}$/.test(line)) block = null;
    for (const m of line.matchAll(/\b(starts|equals|at_form)\(line, "((?:[^"\\]|\\.)*)"\)/g)) {
      if (seen.has(m[1] + m[2])) continue;  // a test repeated inside a command's body
      seen.add(m[1] + m[2]);
      tests.push({ rule: m[1], literal: m[2], block });
    }
  }
  return tests;
}

// The forms a test stands for: "EVAL" and "EVAL@" for a keyword that takes a
// space or "@", else the keyword as written, without its trailing space.
function formsOf(t) {
  const k = t.literal.trimEnd();
  return t.rule === 'at_form' ? [k, k + '@'] : [k];
}

// The keywords that begin the lines the host writes: string literals that start
// with an upper-case word, on source lines that write, build or extend a wire line.
function hostLineKeywords() {
  const out = new Set();
  for (const dir of ['core', 'webui', 'services', 'ai']) {
    for (const f of fs.readdirSync(path.join(ROOT, dir))) {
      if (!f.endsWith('.cc') || f === 'reader.cc') continue;
      for (const line of read(`${dir}/${f}`).split('\n')) {
        if (!/(sock_write_line\(|\bline \+?= |\breturn ")/.test(line) || /^\s*\/\//.test(line)) continue;
        for (const m of line.matchAll(/"([A-Z]{3,})(?= |\\t|"|\{|\[)/g)) out.add(m[1]);
      }
    }
  }
  return [...out].sort();
}

// The code spans of the first cells of every table whose header's first cell is
// `header`, each with the title of the "## " section it stands in.
function firstCells(doc, header) {
  const out = [];
  let section = '';
  let inTable = false;
  for (const line of doc.split('\n')) {
    if (line.startsWith('## ')) section = line.slice(3).trim();
    if (!line.startsWith('|')) {
      inTable = false;
      continue;
    }
    const first = line.split('|')[1].trim();
    if (!inTable) {
      inTable = first === header;
      continue;
    }
    if (/^-+$/.test(first)) continue;
    for (const m of first.matchAll(/`([^`]+)`/g)) out.push({ section, span: m[1] });
  }
  return out;
}

// Whether a code span gives the line (or key, or verb) `form`: the span is the
// form, or the form followed by a placeholder, an optional part or a TAB arrow
// (so `AUDIOTAP STOP` does not give `AUDIOTAP`, nor `show 0` give `show`).
function spanGives(span, form) {
  return span.startsWith(form) && /^$|^ ?[<[]|^→/.test(span.slice(form.length));
}

const anchor = (title) => '#' + title.toLowerCase().replace(/[^a-z0-9 -]/g, '').replace(/ /g, '-');

function ruleText(t) {
  let text;
  if (t.rule === 'equals') text = 'is exactly it';
  else if (t.rule === 'at_form') text = 'is it followed by a space or `@`';
  else if (t.literal.endsWith(' ')) text = 'begins with it and a space';
  else if (t.literal.endsWith('@')) text = 'begins with it (a window id follows)';
  else text = 'begins with it, whatever follows';
  if (t.block === 'menu') text += ', between `MENUBEGIN` and `MENUEND`';
  if (t.block === 'any') text += ', inside a menu, tray or context-menu block';
  return text;
}

// The index's lines, and the forms that no command table of the doc gives.
function renderIndex(doc, tests = readerTests()) {
  const lines = [];
  const cells = firstCells(doc, 'Line');
  const missing = [];
  lines.push('| # | Keyword | Matches when the line | Described in |', '|---|---|---|---|');
  tests.forEach((t, i) => {
    const sections = [];
    for (const form of formsOf(t)) {
      const hit = cells.find((c) => spanGives(c.span, form));
      if (!hit) missing.push(form);
      else if (!sections.includes(hit.section)) sections.push(hit.section);
    }
    const where = sections.map((s) => `[${s}](${anchor(s)})`).join(', ') || '(not described)';
    lines.push(`| ${i + 1} | \`${t.literal.trimEnd()}\` | ${ruleText(t)} | ${where} |`);
  });
  return { text: lines.join('\n'), missing };
}

// The doc's current index block, between the markers (markers excluded).
function indexBlock(doc) {
  const a = doc.indexOf(BEGIN);
  const b = doc.indexOf(END);
  if (a < 0 || b < a) throw new Error('docs/protocol.md has no reader index markers');
  return doc.slice(a + BEGIN.length, b).trim();
}

module.exports = { readerTests, formsOf, hostLineKeywords, firstCells, spanGives, renderIndex, indexBlock, DOC };

if (require.main === module) {
  const doc = fs.readFileSync(DOC, 'utf8');
  const { text, missing } = renderIndex(doc);
  const a = doc.indexOf(BEGIN);
  const b = doc.indexOf(END);
  if (a < 0 || b < a) throw new Error('docs/protocol.md has no reader index markers');
  fs.writeFileSync(DOC, doc.slice(0, a + BEGIN.length) + '\n' + text + '\n' + doc.slice(b));
  if (missing.length) {
    console.error('protocol-index: no command table gives these lines: ' + missing.join(', '));
    process.exitCode = 1;
  }
}
