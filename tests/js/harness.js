'use strict';
// Loads the page client library into a fresh vm context that plays the page: a window
// with the bridge shim, a message handler that records what is posted, and small
// DOM and Web Audio stand-ins.
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const SOURCE = fs.readFileSync(path.join(__dirname, '../../core/js/quib_client.js'), 'utf8');

// The host's shim (core/js/quib_shim.js) as the library sees it, without its
// batching: each call is posted at once, alone.
const SHIM = `(() => {
  let seq = 0; const pending = {};
  window.__invoke = (payload) => new Promise((res, rej) => {
    const s = ++seq; pending[s] = { res, rej };
    window.webkit.messageHandlers.quib.postMessage(String(s) + ':' + String(payload));
  });
  window.__quibResolve = (s, ok, jsonText) => {
    const p = pending[s]; if (!p) return; delete pending[s];
    let v = null; try { v = JSON.parse(jsonText); } catch (e) {}
    ok ? p.res(v) : p.rej(v);
  };
})();`;

class El {
  constructor(tag, attrs = {}, parent = null) {
    Object.assign(this, { tag, attrs, parent, children: [], listeners: {}, style: {}, id: '' });
    if (parent) parent.children.push(this);
  }
  hasAttribute(n) { return n in this.attrs; }
  matches(sel) {
    return sel.split(',').map((s) => s.trim())
      .some((s) => (s[0] === '[' ? this.hasAttribute(s.slice(1, -1)) : this.tag === s));
  }
  closest(sel) { for (let e = this; e; e = e.parent) if (e.matches(sel)) return e; return null; }
  appendChild(c) { c.parent = this; this.children.push(c); return c; }
  addEventListener(type, fn) { (this.listeners[type] ||= []).push(fn); }
}

class Param {
  constructor(value, log, label) { Object.assign(this, { value, log, label }); }
  setTargetAtTime(v, t, tc) { this.value = v; this.log.push(['target', this.label, v, tc]); }
}

function fakeAudioContext(log) {
  let n = 0;
  const node = (kind, params = {}) => {
    const o = { kind, n: ++n, outs: [], connect(d) { o.outs.push(d); return d; }, disconnect() { o.outs = []; } };
    for (const [k, v] of Object.entries(params)) o[k] = new Param(v, log, kind + o.n + '.' + k);
    return o;
  };
  return class {
    constructor() { this.state = 'running'; this.currentTime = 10; this.destination = node('destination'); }
    createGain() { return node('gain', { gain: 1 }); }
    createBiquadFilter() { return node('biquad', { frequency: 350, Q: 1, gain: 0 }); }
    createChannelSplitter() { return node('splitter'); }
    createChannelMerger() { return node('merger'); }
    createStereoPanner() { return node('panner', { pan: 0 }); }
    createBufferSource() {
      const s = node('source', { playbackRate: 1 });
      s.start = () => log.push(['start', s.n]);
      s.stop = (t) => log.push(['stop', s.n, t]);
      return s;
    }
    decodeAudioData(data) { return Promise.resolve({ bytes: data.byteLength }); }
  };
}

// opts: userAgent, win, reportError (bool), frameless, nativeFetch, reply(method, params)
// returning undefined (stay pending) or [ok, value].
function load(opts = {}) {
  const sent = [];
  const warnings = [];
  const reported = [];
  const timers = [];
  const audioLog = [];
  const listeners = {};
  const html = new El('html');
  const body = new El('body', {}, html);
  const w = {
    webkit: { messageHandlers: { quib: { postMessage(text) {
      const i = text.indexOf(':');
      const payload = JSON.parse(text.slice(i + 1));
      const entry = { seq: Number(text.slice(0, i)), text: text.slice(i + 1), method: payload.method, params: payload.params };
      sent.push(entry);
      const r = opts.reply && opts.reply(entry.method, entry.params);
      if (r) queueMicrotask(() => w.__quibResolve(entry.seq, r[0], JSON.stringify(r[1])));
    } } } },
    navigator: { userAgent: opts.userAgent || 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15' },
    console: { warn: (...a) => warnings.push(a.join(' ')), log() {}, error() {} },
    setTimeout: (fn) => timers.push(fn),
    addEventListener: (type, fn) => (listeners[type] ||= []).push(fn),
    document: {
      documentElement: html, body,
      addEventListener() {},
      getElementById: (id) => body.children.find((c) => c.id === id) || null,
      createElement: (tag) => new El(tag),
    },
    AudioContext: fakeAudioContext(audioLog),
    fetch: opts.nativeFetch || (async () => { throw new Error('no file access'); }),
    Response, ReadableStream, Headers, Blob, URLSearchParams, atob, btoa,
  };
  if (opts.win !== undefined) w.__QUIB_WIN = opts.win;
  if (opts.frameless !== undefined) w.__QUIB_FRAMELESS = opts.frameless;
  if (opts.reportError) w.reportError = (e) => reported.push(e);
  w.window = w;
  vm.createContext(w);
  vm.runInContext(SHIM, w);
  vm.runInContext(SOURCE, w, { filename: 'quib_client.js' });

  const h = {
    window: w, quib: w.quib, sent, warnings, reported, timers, audioLog, listeners, body, El,
    // Payloads sent after load (client.hello and client.capabilities left out).
    calls: () => sent.filter((e) => !e.method.startsWith('client.')),
    last: (method) => sent.filter((e) => e.method === method).pop(),
    answer: (entry, value, ok = true) => w.__quibResolve(entry.seq, ok, JSON.stringify(value)),
    tick: () => new Promise((r) => setImmediate(r)),
    mousedown: (target, extra = {}) => listeners.mousedown.forEach((fn) => fn({ button: 0, detail: 1, target, ...extra })),
  };
  return h;
}

// Values made inside the page realm, reduced to plain host values for deepStrictEqual.
const plain = (v) => (v === undefined ? undefined : JSON.parse(JSON.stringify(v)));

module.exports = { load, plain, El };
