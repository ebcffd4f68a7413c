'use strict';
// Support for running the real quibex binary: a private X server per test file, a
// scripted backend on a Unix socket, the host process, bundles built on the fly.
// Everything started here is killed at the end, also when a test fails or hangs.

const { before, after } = require('node:test');
const { spawn, execFile } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '../..');
const HOST_BIN = process.env.QUIBEX_BIN || path.join(ROOT, 'build/quibex');
const PAGES = path.join(__dirname, 'pages');
const WAIT = Number(process.env.QUIBEX_E2E_WAIT_MS || 20000);

// ---------------------------------------------------------------- process bookkeeping

const live = new Set(); // child processes, each leading its own process group
const dirs = new Set();
const madeDirs = new Set(); // every temporary folder of this file, removed or not

function killGroup(child, signal) {
  try { process.kill(-child.pid, signal); } catch (e) { /* already gone */ }
}

process.on('exit', () => {
  for (const c of live) killGroup(c, 'SIGKILL');
  for (const d of dirs) fs.rmSync(d, { recursive: true, force: true, maxRetries: 10 });
});
// A runner that gives up on this file still gets everything cleaned up.
for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(sig, () => process.exit(128 + os.constants.signals[sig]));

// Nothing a test starts writes into the machine's home folder (WebKit's data and
// caches, GTK's recent files, a bus that X autolaunches): the file gets a home of
// its own, which every process it starts inherits unless a test gives another.
const FILE_HOME = fs.mkdtempSync(path.join(os.tmpdir(), 'qbx-home-'));
dirs.add(FILE_HOME);
process.env.HOME = FILE_HOME;
process.env.XDG_CONFIG_HOME = path.join(FILE_HOME, '.config');
process.env.XDG_DATA_HOME = path.join(FILE_HOME, '.local/share');
process.env.XDG_CACHE_HOME = path.join(FILE_HOME, '.cache');

// A bus that X autolaunched for a host without one, and the accessibility bus it
// started, leave their process groups: at the end they are found by the home
// they inherited, this file's or a test's folder.
process.on('exit', () => {
  const ours = (home) => home === FILE_HOME || [...madeDirs].some((d) => home === d || home.startsWith(d + '/'));
  let pids = [];
  try { pids = fs.readdirSync('/proc').filter((p) => /^[0-9]+$/.test(p) && Number(p) !== process.pid); } catch (e) { return; }
  for (const p of pids) {
    try {
      const home = fs.readFileSync(`/proc/${p}/environ`, 'latin1').split('\0').find((v) => v.startsWith('HOME='));
      if (home && ours(home.slice(5))) process.kill(Number(p), 'SIGKILL');
    } catch (e) { /* gone, or not ours */ }
  }
  fs.rmSync(FILE_HOME, { recursive: true, force: true, maxRetries: 10 });
});

function launch(cmd, args, opts) {
  // A process group of its own, so the host's web processes and backend die with it.
  const child = spawn(cmd, args, { ...opts, detached: true });
  live.add(child);
  child.exitInfo = new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({ code, signal }));
    child.on('error', (err) => resolve({ code: null, signal: null, error: err }));
  });
  return child;
}

async function stopGroup(child, graceMs = 2000) {
  if (!child) return;
  killGroup(child, 'SIGTERM');
  await within(child.exitInfo, graceMs);
  killGroup(child, 'SIGKILL');
  live.delete(child);
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// promise's value, or null after ms; the timer goes with the answer, so a test
// file that waited is not kept alive until the bound.
async function within(promise, ms) {
  let timer;
  const bound = new Promise((r) => { timer = setTimeout(() => r(null), ms); });
  try {
    return await Promise.race([promise, bound]);
  } finally {
    clearTimeout(timer);
  }
}

function tempDir(prefix = 'qbx-e2e-') {
  const d = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  dirs.add(d);
  madeDirs.add(d);
  return d;
}

function removeDir(d) {
  // A process of the group just killed may still be writing (a shader cache, say).
  fs.rmSync(d, { recursive: true, force: true, maxRetries: 10 });
  dirs.delete(d);
}

// Polls fn until it returns something truthy.
async function until(fn, what, ms = WAIT, everyMs = 100) {
  const end = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(everyMs);
  }
}

// The first line a server started with launch() writes to `stream`, trimmed: a display
// number (-displayfd), a bus address. Rejects, with the end of its stderr, when the
// server ends first or says nothing within 15 s.
function firstLine(child, stream, name) {
  let err = '';
  child.stderr.on('data', (d) => { err = (err + d).slice(-4000); });
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error(`${name} did not start: ${err}`)), 15000);
    stream.on('data', (d) => {
      out += d;
      if (out.includes('\n')) { clearTimeout(timer); resolve(out.trim()); }
    });
    child.exitInfo.then(() => { clearTimeout(timer); reject(new Error(`${name} ended: ${err}`)); });
  });
}

// ---------------------------------------------------------------- X server

const startWindowManager = (display) =>
  launch('openbox', ['--sm-disable'], { stdio: 'ignore', env: { ...process.env, DISPLAY: display } });

// Xvfb picks a free display number itself and writes it to fd 3.
async function startDisplay({ windowManager = false } = {}) {
  const xvfb = launch('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x800x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const display = ':' + await firstLine(xvfb, xvfb.stdio[3], 'Xvfb');
  const wm = windowManager ? startWindowManager(display) : null;
  return {
    display,
    wmPid: wm ? wm.pid : null, // for tests that hold the window manager up
    async stop() {
      await stopGroup(wm);
      await stopGroup(xvfb);
    },
  };
}

function xdotool(display, args) {
  return new Promise((resolve) => {
    execFile('xdotool', args, { env: { ...process.env, DISPLAY: display }, timeout: 10000 },
      (err, stdout) => resolve(err ? '' : stdout.trim()));
  });
}

// Waits for a window whose title is exactly `title` and returns its geometry.
async function findWindow(display, title, ms = WAIT) {
  const escaped = title.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const id = await until(async () => (await xdotool(display, ['search', '--onlyvisible', '--name', '^' + escaped + '$'])).split('\n')[0],
    'a window titled ' + JSON.stringify(title), ms);
  const geo = await xdotool(display, ['getwindowgeometry', id]);
  const m = /Geometry: (\d+)x(\d+)/.exec(geo);
  return { id, width: m ? Number(m[1]) : null, height: m ? Number(m[2]) : null };
}

async function windowTitles(display) {
  const ids = (await xdotool(display, ['search', '--onlyvisible', '--name', '.'])).split('\n').filter(Boolean);
  const names = [];
  for (const id of ids) names.push(await xdotool(display, ['getwindowname', id]));
  return names;
}

// ---------------------------------------------------------------- wire lines

// Backslash, LF, TAB and CR travel as two-character escapes in EVAL scripts.
function wireEscape(s) {
  return s.replace(/[\\\n\t\r]/g, (c) => ({ '\\': '\\\\', '\n': '\\n', '\t': '\\t', '\r': '\\r' })[c]);
}

// CALL <id> [payload, origin] or [payload, "quib:subframe", origin]
function parseCall(line) {
  const m = /^CALL (\S+) (.*)$/s.exec(line);
  if (!m) return null;
  let arr;
  try { arr = JSON.parse(m[2]); } catch (e) { return null; }
  if (!Array.isArray(arr)) return null;
  let payload = null;
  try { payload = JSON.parse(arr[0]); } catch (e) { /* not the library's JSON */ }
  const idm = /^([^:]*):(s?)(.*)$/s.exec(m[1]) || [];
  return {
    line,
    id: m[1],
    win: idm[1],
    sub: idm[2] === 's',
    array: arr,
    text: arr[0],
    origin: arr[arr.length - 1],
    method: payload && payload.method,
    params: payload && payload.params,
  };
}

// One line-oriented conversation over a socket; lines are matched out of order, each once.
class LineChannel {
  constructor(name) {
    this.name = name;
    this.lines = [];
    this.taken = [];
    this.waiters = [];
    this.sock = null;
    this.closed = false;
    this.context = () => '';
    this.onLine = null; // a line for which this returns true is handled and not kept
  }

  attach(sock) {
    this.sock = sock;
    let buf = '';
    sock.setEncoding('utf8');
    sock.on('data', (d) => {
      buf += d;
      let i;
      while ((i = buf.indexOf('\n')) >= 0) {
        this.push(buf.slice(0, i));
        buf = buf.slice(i + 1);
      }
    });
    sock.on('error', () => {});
    sock.on('close', () => {
      this.closed = true;
      for (const w of this.waiters.splice(0)) w.fail('the connection closed');
    });
  }

  push(line) {
    if (this.onLine && this.onLine(line)) return;
    const at = this.lines.length;
    this.lines.push(line);
    this.taken.push(false);
    for (const w of this.waiters) {
      if (!this.taken[at] && w.test(line)) {
        this.taken[at] = true;
        this.waiters.splice(this.waiters.indexOf(w), 1);
        w.done(line);
        break;
      }
    }
  }

  // A string goes as UTF-8; a Buffer as its bytes (text that is not UTF-8).
  send(line) {
    if (!this.sock || this.sock.destroyed) throw new Error(this.name + ': not connected');
    this.sock.write(Buffer.isBuffer(line) ? Buffer.concat([line, Buffer.from('\n')]) : line + '\n');
  }

  // Resolves with the first line not matched before that passes `match` (a RegExp or a
  // function); a RegExp resolves with its match array, a function with the line.
  expectLine(match, ms = WAIT) {
    const test = typeof match === 'function' ? match : (l) => match.test(l);
    const result = (line) => (typeof match === 'function' ? line : match.exec(line));
    for (let i = 0; i < this.lines.length; i++) {
      if (!this.taken[i] && test(this.lines[i])) {
        this.taken[i] = true;
        return Promise.resolve(result(this.lines[i]));
      }
    }
    return new Promise((resolve, reject) => {
      const w = {
        test,
        done: (line) => { clearTimeout(w.timer); resolve(result(line)); },
        fail: (why) => {
          clearTimeout(w.timer);
          const recent = this.lines.slice(-15).map((l) => '  ' + l.slice(0, 300)).join('\n');
          reject(new Error(`${this.name}: ${why} while waiting for ${match}\nlast lines:\n${recent}\n${this.context()}`));
        },
      };
      if (this.closed) return w.fail('the connection is closed');
      w.timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(w), 1);
        w.fail(`no line within ${ms} ms`);
      }, ms);
      this.waiters.push(w);
    });
  }

  // The next CALL of `method` (and passing `where`, when given), parsed.
  async expectCall(method, where = () => true, ms = WAIT) {
    const line = await this.expectLine((l) => {
      const c = parseCall(l);
      return c && c.method === method && where(c);
    }, ms);
    return parseCall(line);
  }

  // A page report sent through the probe page's probe.report(tag, data).
  async expectReport(tag, ms = WAIT) {
    const c = await this.expectCall('report', (c) => c.params && c.params.tag === tag, ms);
    return c.params;
  }

  calls() {
    return this.lines.map(parseCall).filter(Boolean);
  }

  eval(script, win) {
    this.send((win === undefined ? 'EVAL ' : `EVAL@${win} `) + wireEscape(script));
  }

  // Round trip through the page: every earlier line of the host has arrived once this returns.
  async sync(win) {
    const n = Math.random().toString(36).slice(2);
    this.eval(`probe.report('sync', {n: '${n}'})`, win);
    await this.expectCall('report', (c) => c.params && c.params.n === n);
  }

  // The parsed answer of GET for key.
  async get(key) {
    const id = 'q' + Math.random().toString(36).slice(2, 8);
    this.send(`GET ${id} ${key}`);
    return this.answer(id);
  }

  // The parsed JSON of the GOT line that answers the request `id`.
  async answer(id, ms = WAIT) {
    const line = await this.expectLine((l) => l.startsWith(`GOT ${id} `), ms);
    return JSON.parse(line.slice(`GOT ${id} `.length));
  }

  end() {
    if (this.sock) this.sock.end();
  }
}

// The backend side: listens on a Unix socket and takes one connection.
class Backend extends LineChannel {
  constructor(socketPath, name = 'backend') {
    super(name);
    this.path = socketPath;
    this.info = null; // the relay's first line in bundle mode
    this.server = net.createServer((sock) => {
      if (this.sock) { sock.destroy(); return; }
      this.attach(sock);
      this.onConnect();
    });
    this.connected = new Promise((r) => { this.onConnect = r; });
  }

  push(line) {
    if (line.startsWith('#relay ')) {
      this.info = JSON.parse(line.slice(7));
      return;
    }
    super.push(line);
  }

  listen() {
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(this.path, () => resolve(this));
    });
  }

  async waitConnected(ms = WAIT) {
    let timer;
    await Promise.race([
      this.connected,
      new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`${this.name}: nobody connected within ${ms} ms\n${this.context()}`)), ms);
      }),
    ]);
    clearTimeout(timer);
  }

  close() {
    if (this.sock) this.sock.destroy();
    this.server.close();
  }
}

// ---------------------------------------------------------------- the host

class Host {
  constructor(args, { display, env = {}, cwd, bin = HOST_BIN, unsetDisplay = false } = {}) {
    // No accessibility bus on a bare X server: without this GTK searches for one at start.
    const base = { ...process.env, NO_AT_BRIDGE: '1' };
    delete base.WAYLAND_DISPLAY;
    if (display) base.DISPLAY = display;
    if (unsetDisplay) delete base.DISPLAY;
    const fullEnv = { ...base, ...env };
    for (const [k, v] of Object.entries(env)) if (v === undefined) delete fullEnv[k];
    this.stdout = '';
    this.stderr = '';
    this.proc = launch(bin, args, { env: fullEnv, cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    this.proc.stdout.on('data', (d) => { this.stdout += d; });
    this.proc.stderr.on('data', (d) => { this.stderr += d; });
    this.exitInfo = this.proc.exitInfo;
    this.exited = null;
    this.exitInfo.then((e) => { this.exited = e; });
  }

  describe() {
    const state = this.exited ? `host exited ${JSON.stringify(this.exited)}` : 'host running';
    return `${state}; host stderr:\n${this.stderr.slice(-3000)}`;
  }

  // A sanitizer build of the host reports memory and undefined-behaviour faults on
  // stderr; any such report fails the test that ran the host.
  checkSanitizers() {
    const m = /(==\d+==ERROR: \w+Sanitizer.*|.*runtime error: .*)/.exec(this.stderr);
    if (m) throw new Error(`the host reported a fault: ${m[1]}\n${this.stderr.slice(-6000)}`);
  }

  // Resolves with the exit code; a host still running after `ms` is killed and the test fails.
  async waitExit(ms = WAIT) {
    const res = await within(this.exitInfo, ms);
    if (!res) {
      await stopGroup(this.proc, 500);
      throw new Error(`the host did not exit within ${ms} ms; stderr:\n${this.stderr.slice(-3000)}`);
    }
    // Let the pipes deliver the last diagnostics.
    await sleep(100);
    if (res.error) throw res.error;
    this.checkSanitizers();
    return res.signal ? 'signal ' + res.signal : res.code;
  }

  async stop() {
    await stopGroup(this.proc);
    this.checkSanitizers();
  }
}

// A host in command-line mode with a scripted backend that listens before it starts
// (`bin`: another copy of the host).
async function startSession({ display, page = 'probe.html', args = [], env, cwd, connect = true, bin } = {}) {
  const dir = tempDir();
  const backend = new Backend(path.join(dir, 'b.sock'));
  await backend.listen();
  const pagePath = page.includes('://') || path.isAbsolute(page) || cwd ? page : path.join(PAGES, page);
  const host = new Host([pagePath, backend.path, ...args], { display, env, cwd, bin });
  backend.context = () => host.describe();
  const session = {
    dir, backend, host,
    async close() {
      await host.stop();
      backend.close();
      removeDir(dir);
    },
  };
  if (connect) {
    try {
      await backend.waitConnected();
    } catch (e) {
      await session.close();
      throw e;
    }
  }
  return session;
}

// Waits for the page's client.hello, answers it as a backend does, and waits until the
// probe page's script has run; returns the hello call.
async function hello(backend, win = 'main') {
  const c = await backend.expectCall('client.hello', (c) => c.win === win);
  backend.send(`RET ${c.id} 0 {"ok":true}`);
  await backend.expectCall('probe.ready', (c) => c.win === win);
  return c;
}

// ---------------------------------------------------------------- bundles

function plistValue(v) {
  if (typeof v === 'boolean') return v ? '<true/>' : '<false/>';
  const esc = String(v).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  return `<string>${esc}</string>`;
}

function writePlist(file, dict) {
  const body = Object.entries(dict).map(([k, v]) => `  <key>${k}</key>\n  ${plistValue(v)}`).join('\n');
  fs.writeFileSync(file, '<?xml version="1.0" encoding="UTF-8"?>\n' +
    '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n' +
    `<plist version="1.0">\n<dict>\n${body}\n</dict>\n</plist>\n`);
}

// Lays out Name.app: the host binary and a qbx launcher in Contents/MacOS, the relay
// backend as entry.js, the given pages in frontend/. Pass qbx: null to leave it out,
// or a shell script text to replace it.
function makeBundle(dir, { name = 'Foo', plist = {}, pages = ['probe.html', 'probe.js'], index = 'probe.html',
  qbx, inject } = {}) {
  const app = path.join(dir, name + '.app');
  const macos = path.join(app, 'Contents/MacOS');
  const res = path.join(app, 'Contents/Resources/app');
  fs.mkdirSync(macos, { recursive: true });
  fs.mkdirSync(path.join(res, 'frontend'), { recursive: true });
  writePlist(path.join(app, 'Contents/Info.plist'), { CFBundleName: name, ...plist });
  const bin = path.join(macos, 'quibex');
  fs.copyFileSync(HOST_BIN, bin);
  fs.chmodSync(bin, 0o755);
  if (qbx !== null) {
    const text = qbx || `#!/bin/sh\n[ "$1" = run ] || exit 64\nexec "${process.execPath}" "$2" "$@"\n`;
    fs.writeFileSync(path.join(macos, 'qbx'), text, { mode: 0o755 });
  }
  fs.copyFileSync(path.join(__dirname, 'relay_entry.js'), path.join(res, 'entry.js'));
  for (const p of pages) fs.copyFileSync(path.join(PAGES, p), path.join(res, 'frontend', p));
  if (index) fs.copyFileSync(path.join(PAGES, index), path.join(res, 'frontend/index.html'));
  if (inject !== undefined) fs.writeFileSync(path.join(res, 'inject.js'), inject);
  return { app, bin, entry: path.join(res, 'entry.js') };
}

// Starts a bundle's host with no arguments; its backend relays to the returned channel.
async function startBundle({ display, bundle, env = {}, dir, args = [] }) {
  const relay = new Backend(path.join(dir, 'relay.sock'), 'relay');
  await relay.listen();
  const host = new Host(args, { display, bin: bundle.bin, env: { E2E_RELAY: relay.path, ...env } });
  relay.context = () => host.describe();
  return {
    relay, host,
    // Connected, and told how the backend was started.
    async ready() {
      await relay.waitConnected();
      await until(() => relay.info, 'the relay\'s first line');
      return relay.info;
    },
    async close() {
      await host.stop();
      relay.close();
    },
  };
}

// ---------------------------------------------------------------- pages over http

function serve(dir) {
  const server = http.createServer((req, res) => {
    const file = path.join(dir, path.normalize(decodeURIComponent(req.url.split('?')[0])).replace(/^(\.\.[/\\])+/, ''));
    fs.readFile(file, (err, data) => {
      if (err) { res.writeHead(404); res.end(); return; }
      const type = file.endsWith('.html') ? 'text/html' : file.endsWith('.js') ? 'text/javascript' : 'text/plain';
      res.writeHead(200, { 'content-type': type + '; charset=utf-8' });
      res.end(data);
    });
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({ url: `http://127.0.0.1:${server.address().port}`, port: server.address().port,
        close: () => server.close() });
    });
  });
}

module.exports = {
  HOST_BIN, PAGES, WAIT, ROOT,
  startDisplay, startSession, hello, Host, Backend, LineChannel,
  makeBundle, startBundle, writePlist, serve,
  tempDir, removeDir, until, sleep, within, parseCall, wireEscape, findWindow, windowTitles, xdotool,
};

// ---------------------------------------------------------------- X11 inspection for the window tests

// Whether a program is on PATH (tools from optional Debian packages); a path names
// the program itself.
function hasCommand(name) {
  if (path.isAbsolute(name)) return isExecutable(name);
  return (process.env.PATH || '').split(path.delimiter).some((d) => isExecutable(path.join(d, name)));
}

function isExecutable(file) {
  try { fs.accessSync(file, fs.constants.X_OK); return true; } catch (e) { return false; }
}

// A test file's skip reason: the [command, package] pairs missing from PATH and,
// when the system python lacks one of `modules` ([module, package] pairs), those;
// false when nothing is missing.
function needs(commands, modules = []) {
  const missing = commands.filter(([t]) => !hasCommand(t));
  if (modules.length) {
    try {
      require('node:child_process').execFileSync(SYSTEM_PYTHON, ['-c', `import ${modules.map(([m]) => m).join(', ')}`],
        { stdio: 'ignore' });
    } catch (e) {
      missing.push([modules.map(([m]) => m).join(' and '), modules.map(([, pkg]) => pkg).join(' ')]);
    }
  }
  return missing.length ? `needs ${missing.map(([t, pkg]) => `${t} (${pkg})`).join(', ')}` : false;
}

// Runs an X client on `display`; resolves with its stdout, rejects with its stderr.
function xrun(display, cmd, args) {
  return new Promise((resolve, reject) => {
    execFile(cmd, args, { env: { ...process.env, DISPLAY: display }, timeout: 15000, maxBuffer: 8 << 20 },
      (err, stdout, stderr) => (err ? reject(new Error(`${cmd} ${args.join(' ')}: ${stderr || err.message}`)) : resolve(stdout)));
  });
}

function xprop(display, id, ...names) {
  return xrun(display, 'xprop', ['-id', String(id), ...names]);
}

// The atoms of _NET_WM_STATE without their prefix, e.g. ['ABOVE', 'FULLSCREEN'].
async function netWmState(display, id) {
  const text = await xprop(display, id, '_NET_WM_STATE');
  const m = /=\s*(.*)$/m.exec(text);
  return m ? m[1].split(',').map((s) => s.trim().replace(/^_NET_WM_STATE_/, '')).filter(Boolean) : [];
}

// _NET_WM_ALLOWED_ACTIONS as the window manager sets it, without prefix: ['CLOSE', 'RESIZE', ...].
async function allowedActions(display, id) {
  const text = await xprop(display, id, '_NET_WM_ALLOWED_ACTIONS');
  const m = /=\s*(.*)$/m.exec(text);
  return m ? m[1].split(',').map((s) => s.trim().replace(/^_NET_WM_ACTION_/, '')).filter(Boolean) : [];
}

// The client window as the X server has it: root position, size, depth, map state.
async function xwininfo(display, id) {
  const t = await xrun(display, 'xwininfo', ['-id', String(id)]);
  const num = (k) => Number((new RegExp(k + ':\\s+(-?\\d+)').exec(t) || [])[1]);
  return {
    x: num('Absolute upper-left X'), y: num('Absolute upper-left Y'),
    width: num('Width'), height: num('Height'), depth: num('Depth'),
    mapped: /Map State: IsViewable/.test(t),
  };
}

// The window's outer frame in root coordinates: the client plus the frame extents the
// window manager announces (none without a window manager or decorations).
async function frameGeometry(display, id) {
  const c = await xwininfo(display, id);
  const ext = /_NET_FRAME_EXTENTS\(CARDINAL\) = (\d+), (\d+), (\d+), (\d+)/.exec(await xprop(display, id, '_NET_FRAME_EXTENTS'));
  const [l, r, t, b] = ext ? ext.slice(1).map(Number) : [0, 0, 0, 0];
  return { x: c.x - l, y: c.y - t, w: c.width + l + r, h: c.height + t + b, client: c, extents: { l, r, t, b } };
}

// The colour of one root-window pixel as [r, g, b] (0-255), from a screenshot.
async function pixelAt(display, x, y) {
  const out = await xrun(display, 'import', ['-window', 'root', '-crop', `1x1+${x}+${y}`, '-depth', '8', 'txt:-']);
  const m = /\((\d+),(\d+),(\d+)/.exec(out.split('\n').find((l) => /^\d+,\d+:/.test(l)) || '');
  if (!m) throw new Error('no pixel in: ' + out);
  return [Number(m[1]), Number(m[2]), Number(m[3])];
}

// RandR monitors with their output ids (the host's display ids).
async function randrMonitors(display) {
  const verbose = await xrun(display, 'xrandr', ['--verbose']);
  const ids = {};
  let current = null;
  for (const line of verbose.split('\n')) {
    const o = /^(\S+) connected/.exec(line);
    if (o) current = o[1];
    const i = /^\s+Identifier:\s+(0x[0-9a-f]+)/i.exec(line);
    if (i && current) { ids[current] = Number(i[1]); current = null; }
  }
  const list = await xrun(display, 'xrandr', ['--listmonitors']);
  const out = [];
  for (const line of list.split('\n')) {
    const m = /^\s*\d+: [+*]*(\S+) (\d+)\/\d+x(\d+)\/\d+([+-]\d+)([+-]\d+)\s+(\S+)?/.exec(line);
    if (m) out.push({ name: m[1], w: Number(m[2]), h: Number(m[3]), x: Number(m[4]), y: Number(m[5]), id: ids[m[6]] });
  }
  return out;
}

// Asks a VNC server over its Unix socket for a desktop of several screens (the RFB
// SetDesktopSize message); the server makes a RandR output for each.
function vncSetLayout(socketPath, screens) {
  return new Promise((resolve, reject) => {
    const sock = net.connect(socketPath);
    let buf = Buffer.alloc(0);
    let stage = 'version';
    const timer = setTimeout(() => { sock.destroy(); reject(new Error('VNC layout: no answer')); }, 10000);
    const finish = (err) => { clearTimeout(timer); sock.destroy(); if (err) reject(err); else resolve(); };
    sock.on('error', finish);
    sock.on('data', (d) => {
      buf = Buffer.concat([buf, d]);
      for (;;) {
        if (stage === 'version' && buf.length >= 12) {
          buf = buf.subarray(12);
          sock.write('RFB 003.008\n');
          stage = 'types';
        } else if (stage === 'types' && buf.length >= 1 && buf.length >= 1 + buf[0]) {
          const types = [...buf.subarray(1, 1 + buf[0])];
          buf = buf.subarray(1 + buf[0]);
          if (!types.includes(1)) return finish(new Error('VNC server wants authentication'));
          sock.write(Buffer.from([1]));
          stage = 'result';
        } else if (stage === 'result' && buf.length >= 4) {
          if (buf.readUInt32BE(0) !== 0) return finish(new Error('VNC security handshake failed'));
          buf = buf.subarray(4);
          sock.write(Buffer.from([1])); // shared
          stage = 'init';
        } else if (stage === 'init' && buf.length >= 24 && buf.length >= 24 + buf.readUInt32BE(20)) {
          buf = buf.subarray(24 + buf.readUInt32BE(20));
          const width = Math.max(...screens.map((s) => s.x + s.w));
          const height = Math.max(...screens.map((s) => s.y + s.h));
          const msg = Buffer.alloc(8 + 16 * screens.length);
          msg.writeUInt8(251, 0);
          msg.writeUInt16BE(width, 2);
          msg.writeUInt16BE(height, 4);
          msg.writeUInt8(screens.length, 6);
          screens.forEach((s, i) => {
            const o = 8 + 16 * i;
            msg.writeUInt32BE(i + 1, o);
            msg.writeUInt16BE(s.x, o + 4);
            msg.writeUInt16BE(s.y, o + 6);
            msg.writeUInt16BE(s.w, o + 8);
            msg.writeUInt16BE(s.h, o + 10);
          });
          // SetEncodings: the client understands the extended desktop size.
          const enc = Buffer.alloc(8);
          enc.writeUInt8(2, 0);
          enc.writeUInt16BE(1, 2);
          enc.writeInt32BE(-308, 4);
          sock.write(enc);
          sock.write(msg);
          stage = 'sent';
          // A half-close flushes both messages; the server reads them before the end.
          sock.end();
          sock.on('close', () => finish());
          return;
        } else {
          return;
        }
      }
    });
  });
}

// A private X server with several monitors, each a RandR output that GDK lists (Xvfb
// has a single output, and GDK ignores monitors without one). Xvnc makes an output per
// screen of the desktop layout a VNC client asks for; the first screen is the primary.
async function startMonitors({ screens, windowManager = false }) {
  const dir = tempDir('qbx-vnc-');
  const sock = path.join(dir, 'vnc.sock');
  const width = Math.max(...screens.map((s) => s.x + s.w));
  const height = Math.max(...screens.map((s) => s.y + s.h));
  const xvnc = launch('Xvnc', ['-displayfd', '3', '-geometry', `${width}x${height}`, '-depth', '24',
    '-SecurityTypes', 'None', '-rfbport', '-1', '-rfbunixpath', sock, '-nolisten', 'tcp'],
  { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const display = ':' + await firstLine(xvnc, xvnc.stdio[3], 'Xvnc');
  const stop = async () => {
    await stopGroup(wm);
    await stopGroup(xvnc);
    removeDir(dir);
  };
  let wm = null;
  try {
    // Xvnc names its display before it accepts connections.
    const monitors = () => randrMonitors(display).catch(() => []);
    await until(async () => fs.existsSync(sock) && (await monitors()).length > 0, 'the VNC server');
    await vncSetLayout(sock, screens);
    await until(async () => (await monitors()).length === screens.length, `${screens.length} monitors`);
    if (windowManager) wm = startWindowManager(display);
  } catch (e) {
    await stop();
    throw e;
  }
  return { display, stop };
}

// Polls get() until ok(value) holds and resolves with that value; a time-out shows the
// last value seen.
async function untilValue(get, ok, what, ms = WAIT, everyMs = 100) {
  const end = Date.now() + ms;
  let last;
  for (;;) {
    try {
      last = await get();
      if (ok(last)) return last;
    } catch (e) {
      last = e.message;
    }
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}; last seen: ${JSON.stringify(last)}`);
    await sleep(everyMs);
  }
}

// _MOTIF_WM_HINTS as { functions, decorations } (bit masks), null when not set.
async function motifHints(display, id) {
  const m = /_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (\w+), (\w+), (\w+)/.exec(await xprop(display, id, '_MOTIF_WM_HINTS'));
  return m ? { flags: Number(m[1]), functions: Number(m[2]), decorations: Number(m[3]) } : null;
}

// The minimum and maximum size of WM_NORMAL_HINTS as [w, h], null when not given.
async function sizeHints(display, id) {
  const t = await xprop(display, id, 'WM_NORMAL_HINTS');
  const get = (k) => {
    const m = new RegExp(`program specified ${k} size: (\\d+) by (\\d+)`).exec(t);
    return m ? [Number(m[1]), Number(m[2])] : null;
  };
  return { min: get('minimum'), max: get('maximum') };
}

// The window WM_TRANSIENT_FOR names (decimal id), null when none.
async function transientFor(display, id) {
  const m = /window id # (0x[0-9a-f]+)/i.exec(await xprop(display, id, 'WM_TRANSIENT_FOR'));
  return m ? Number(m[1]) : null;
}

// The focused top-level (decimal id), null when none.
async function activeWindow(display) {
  const out = await xrun(display, 'xdotool', ['getactivewindow']).catch(() => '');
  return out.trim() ? Number(out.trim()) : null;
}

Object.assign(module.exports, {
  motifHints, sizeHints, transientFor, activeWindow,
  untilValue, hasCommand, needs, xrun, xprop, netWmState, allowedActions, xwininfo, frameGeometry, pixelAt,
  randrMonitors, startMonitors,
});

// Opens a window on the probe page with WINOPEN fields from the title on (the
// title defaults to the id); waits for its first page call and, with a window
// manager, until it is framed and the host has heard of it since.
async function openProbeWindow(b, display, id, { title = id, size = '300x150', more = [], wm = true } = {}) {
  b.send('WINOPEN ' + [id, path.join(PAGES, 'probe.html'), title, size, ...more].join('\t'));
  await module.exports.hello(b, id);
  const w = await module.exports.findWindow(display, title || id);
  if (wm) await untilValue(() => xprop(display, w.id, '_NET_FRAME_EXTENTS'), (t) => /= \d/.test(t), `${id} framed`);
  await b.sync(id);
  return w;
}

// A window with a frame shows its menu bar above the page, inside the client window:
// the client is the page and the bar. The bar's height, from a window whose page size
// is known (the same for every window of the host: one theme, one bar height).
let barHeight = null;
async function measureMenuBar(b, display, xid, win = 'main') {
  b.eval("probe.report('page-size', {h: innerHeight * devicePixelRatio})", win);
  const { h: page } = await b.expectReport('page-size');
  const client = await xwininfo(display, xid);
  barHeight = client.height - page;
  return barHeight;
}
// The bar's height as last measured; a test that needs it measures first.
function menuBar() {
  if (barHeight === null) throw new Error('measure the menu bar first (measureMenuBar, mainSession)');
  return barHeight;
}

// The next WINSTATE of `id` whose JSON has these members.
async function expectWinstate(b, id, want, ms) {
  const line = await b.expectLine((l) => {
    const p = new RegExp(`^WINSTATE ${id} (\\{.*\\})$`).exec(l);
    return p && Object.entries(want).every(([k, v]) => JSON.parse(p[1])[k] === v);
  }, ms);
  return JSON.parse(line.slice(line.indexOf('{')));
}

Object.assign(module.exports, { openProbeWindow, expectWinstate, measureMenuBar, menuBar });

// A host whose main window is titled "Main", past its first page call; s.main is that window.
async function mainSession(display, env) {
  const s = await module.exports.startSession({ display, args: ['Main'], env });
  await module.exports.hello(s.backend);
  s.main = await module.exports.findWindow(display, 'Main');
  s.bar = await measureMenuBar(s.backend, display, s.main.id);
  return s;
}

// Asks a GET question with an id of its own and resolves with the parsed answer.
let getAsked = 0;
async function getAnswer(b, key) {
  const id = 'h' + (++getAsked);
  b.send(`GET ${id} ${key}`);
  return b.answer(id);
}

Object.assign(module.exports, { mainSession, getAnswer });

// ---------------------------------------------------------------- private buses and system services

const SYSTEM_PYTHON = '/usr/bin/python3';  // the Debian python that has dbusmock and GObject

// A private message bus in `dir` that only tests use; its address goes into
// DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS of the processes under test.
// No service is activatable on it (a name is there only while a test runs it)
// unless `serviceDir` names a folder of .service files that the bus starts on demand.
async function startBus(dir, name = 'bus', { serviceDir } = {}) {
  const sock = path.join(dir, name + '.sock');
  const conf = path.join(dir, name + '.conf');
  fs.writeFileSync(conf, `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=${sock}</listen>
  <auth>EXTERNAL</auth>${serviceDir ? `\n  <servicedir>${serviceDir}</servicedir>` : ''}
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/><allow send_type="signal"/>
    <allow send_type="method_return"/><allow send_type="error"/>
    <allow receive_type="method_call"/><allow receive_type="signal"/>
    <allow receive_type="method_return"/><allow receive_type="error"/>
  </policy>
</busconfig>
`);
  const daemon = launch('dbus-daemon', ['--config-file=' + conf, '--nofork', '--print-address'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  const address = await firstLine(daemon, daemon.stdout, 'dbus-daemon');
  return { address, stop: () => stopGroup(daemon) };
}

// Runs gdbus against a private bus; resolves with its output, rejects with its error.
function gdbus(address, args) {
  return new Promise((resolve, reject) => {
    execFile('gdbus', [args[0], '--address', address, ...args.slice(1)], { timeout: 15000 },
      (err, stdout, stderr) => (err ? reject(new Error(`gdbus ${args.join(' ')}: ${stderr || err.message}`)) : resolve(stdout.trim())));
  });
}

// Calls a method: gdbusCall(address, dest, objectPath, 'iface.Method', ...args in gdbus's text form).
function gdbusCall(address, dest, objectPath, method, ...args) {
  return gdbus(address, ['call', '--dest', dest, '--object-path', objectPath, '--method', method, ...args]);
}

// Whether a process owns `name` on the bus at `address`; false also when the bus does not answer.
async function hasOwner(address, name) {
  const out = await gdbusCall(address, 'org.freedesktop.DBus', '/org/freedesktop/DBus',
    'org.freedesktop.DBus.NameHasOwner', name).catch(() => '');
  return out.includes('true');
}

// A python-dbusmock template (upower, networkmanager, ... or a template file of
// the tests', with the bus name it serves) serving on the bus at `address` as if
// it were the system bus; its call log is written to `log`.
async function startMock(address, template, { params = {}, log, busName } = {}) {
  const args = ['-m', 'dbusmock', '--system', '-t', template, '-p', JSON.stringify(params)];
  if (log) args.push('-l', log);
  const mock = launch(SYSTEM_PYTHON, args,
    { stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, DBUS_SYSTEM_BUS_ADDRESS: address } });
  let err = '';
  mock.stderr.on('data', (d) => { err = (err + d).slice(-3000); });
  const names = { upower: 'org.freedesktop.UPower', networkmanager: 'org.freedesktop.NetworkManager',
    notification_daemon: 'org.freedesktop.Notifications', logind: 'org.freedesktop.login1' };
  const name = busName || names[template] || template;
  try {
    await until(async () => {
      if (mock.exitCode !== null) throw new Error(`dbusmock ${template} ended: ${err}`);
      return hasOwner(address, name);
    }, `dbusmock ${template} on the bus`);
  } catch (e) {
    await stopGroup(mock);
    throw e;
  }
  return { name, pid: mock.pid, stop: () => stopGroup(mock), stderr: () => err };
}

// A process that owns `name` on the bus at `address` and never answers a call
// (tests/e2e/peers/silent_peer.py): a desktop service that hangs. `held()` lists
// the calls it kept, as "interface.member".
async function startSilentPeer(address, name) {
  const peer = launch(SYSTEM_PYTHON, [path.join(__dirname, 'peers/silent_peer.py'), name],
    { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: address } });
  let out = '';
  let err = '';
  peer.stdout.on('data', (d) => { out += d; });
  peer.stderr.on('data', (d) => { err = (err + d).slice(-3000); });
  try {
    await until(() => {
      if (peer.exitCode !== null) throw new Error(`the silent peer for ${name} ended: ${err}`);
      return out.includes('ready\n');
    }, `a silent ${name}`);
  } catch (e) {
    await stopGroup(peer);
    throw e;
  }
  return {
    held: () => [...out.matchAll(/^held (.*)$/gm)].map((m) => m[1]),
    stop: () => stopGroup(peer),
  };
}

// A GTK application window of another process (tests/e2e/peers/x_peer.py) on
// `display`: its X id once it is mapped, its pid, and commands for it.
async function startPeer(display, { title = 'Peer', appId = 'org.example.Peer', x = 0, y = 0, env = {} } = {}) {
  const peer = launch(SYSTEM_PYTHON, [path.join(__dirname, 'peers/x_peer.py'), title, appId, String(x), String(y)],
    { stdio: ['pipe', 'pipe', 'pipe'], env: { ...process.env, DISPLAY: display, NO_AT_BRIDGE: '1', ...env } });
  const channel = new LineChannel('peer');
  channel.sock = peer.stdin;  // send() writes command lines to it
  require('node:readline').createInterface({ input: peer.stdout }).on('line', (l) => channel.push(l));
  peer.stdout.on('end', () => {
    channel.closed = true;
    for (const w of channel.waiters.splice(0)) w.fail('the peer ended');
  });
  let err = '';
  peer.stderr.on('data', (d) => { err = (err + d).slice(-3000); });
  channel.context = () => 'peer stderr: ' + err;
  const stop = async () => {
    peer.stdin.destroy();
    await stopGroup(peer);
  };
  let ready;
  try {
    ready = await channel.expectLine(/^ready (\d+)$/);
  } catch (e) {
    await stop();
    throw e;
  }
  return {
    pid: peer.pid, xid: Number(ready[1]), channel, stop,
    // Makes the peer own the PRIMARY selection with this text.
    async select(text) {
      channel.send('select ' + JSON.stringify(text));
      await channel.expectLine(/^selected$/);
    },
  };
}

// One of the tests' own X programs (tests/e2e/tools, built with the host) on `display`,
// once it has printed "ready": `lines` holds what it printed, and goes on filling.
async function startTool(bin, args, display, what) {
  const child = launch(bin, args, { env: { ...process.env, DISPLAY: display }, stdio: ['ignore', 'pipe', 'inherit'] });
  const tool = { child, lines: [], stop: () => stopGroup(child, 0) };
  require('node:readline').createInterface({ input: child.stdout }).on('line', (l) => tool.lines.push(l));
  try {
    await until(() => tool.lines.includes('ready'), what);
  } catch (e) {
    await tool.stop();
    throw e;
  }
  return tool;
}

Object.assign(module.exports, { SYSTEM_PYTHON, startBus, gdbus, gdbusCall, hasOwner, startMock, startSilentPeer, startPeer,
  startTool, launch, stopGroup });

// ---------------------------------------------------------------- the application's session

// The environment of a host in its own session under `dir`: home and runtime directory
// there, and the private session bus `bus` (from startBus), or none at all.
function sessionEnv(dir, bus) {
  const run = path.join(dir, 'run');
  fs.mkdirSync(run, { recursive: true, mode: 0o700 });
  return {
    HOME: dir,
    XDG_RUNTIME_DIR: run,
    XDG_CONFIG_HOME: path.join(dir, '.config'),
    XDG_DATA_HOME: path.join(dir, '.local/share'),
    XDG_CACHE_HOME: path.join(dir, '.cache'),
    DBUS_SESSION_BUS_ADDRESS: bus ? bus.address : undefined,
  };
}

// Runs a program to its end with this environment (undefined values unset);
// resolves with its stdout, rejects with its stderr.
function run(cmd, args, env = {}) {
  const full = { ...process.env, ...env };
  for (const [k, v] of Object.entries(env)) if (v === undefined) delete full[k];
  return new Promise((resolve, reject) => {
    execFile(cmd, args, { env: full, timeout: 15000 },
      (err, stdout, stderr) => (err ? reject(new Error(`${cmd} ${args.join(' ')}: ${stderr || err.message}`)) : resolve(stdout)));
  });
}

Object.assign(module.exports, { sessionEnv, run });

// ---------------------------------------------------------------- the sound server

// A PulseAudio daemon in `dir` with one null sink, "null" (its monitor "null.monitor"),
// reachable only through its own socket. pause() and resume() stop and continue it:
// a server that no longer answers. With nothing playing, a null sink renders two
// seconds at a time, so a new stream is heard up to two seconds late; `ticking`
// keeps a silent stream with a short latency playing, which makes it render in
// small steps, as a sound card's clock would.
async function startPulse(dir, { ticking = false } = {}) {
  const sock = path.join(dir, 'pulse.sock');
  const runDir = path.join(dir, 'pulse-run');
  fs.mkdirSync(runDir, { recursive: true, mode: 0o700 });
  const daemon = launch('pulseaudio', ['-n', '--daemonize=no', '--exit-idle-time=-1', '--disable-shm=yes',
    '--use-pid-file=no', '-L', 'module-null-sink sink_name=null',
    '-L', `module-native-protocol-unix socket=${sock} auth-anonymous=1`],
  { stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, HOME: dir, XDG_RUNTIME_DIR: runDir, DBUS_SESSION_BUS_ADDRESS: '' } });
  let err = '';
  daemon.stderr.on('data', (d) => { err = (err + d).slice(-3000); });
  const server = 'unix:' + sock;
  await until(async () => {
    if (daemon.exitCode !== null) throw new Error('pulseaudio ended: ' + err);
    return run('pactl', ['info'], { PULSE_SERVER: server }).then(() => true, () => false);
  }, 'pulseaudio');
  const tick = ticking && launch('pacat', ['--raw', '--format=s16le', '--channels=1', '--latency-msec=20', '/dev/zero'],
    { stdio: 'ignore', env: { ...process.env, PULSE_SERVER: server } });
  return {
    server,
    pause: () => process.kill(daemon.pid, 'SIGSTOP'),
    resume: () => process.kill(daemon.pid, 'SIGCONT'),
    stop: async () => {
      try { process.kill(daemon.pid, 'SIGCONT'); } catch (e) { /* gone */ }
      if (tick) await stopGroup(tick);
      return stopGroup(daemon);
    },
  };
}

// Records what the null sink plays, as signed 16-bit mono samples at `rate`, from now
// on; samples() is what has come so far, stop() ends the recording.
function recordSink(pulse, rate = 16000) {
  const rec = launch('parec', ['-d', 'null.monitor', '--raw', '--format=s16le', `--rate=${rate}`, '--channels=1',
    '--latency-msec=10'], { stdio: ['ignore', 'pipe', 'ignore'], env: { ...process.env, PULSE_SERVER: pulse.server } });
  const chunks = [];
  let bytes = 0;
  rec.stdout.on('data', (d) => { chunks.push(d); bytes += d.length; });
  const samples = () => {
    const all = Buffer.concat(chunks, bytes);
    const out = new Int16Array(all.length >> 1);
    for (let i = 0; i < out.length; i++) out[i] = all.readInt16LE(2 * i);
    return out;
  };
  return { rate, samples, count: () => bytes >> 1, stop: () => stopGroup(rec) };
}

// The largest magnitude among samples [from, to).
function peak(samples, from = 0, to = samples.length) {
  let p = 0;
  for (let i = Math.max(0, from); i < Math.min(to, samples.length); i++) p = Math.max(p, Math.abs(samples[i]));
  return p;
}

Object.assign(module.exports, { startPulse, recordSink, peak });

// ---------------------------------------------------------------- what the tests of a file share

// Stands in for a part that starts later: once filled, every member read or written on
// it is the part's. A file names its shared parts at its top, and its tests use them
// (x.display, s.backend) as they would the parts themselves.
function standIn(name) {
  let part = null;
  const proxy = new Proxy({}, {
    get(_, key) {
      if (part) return Reflect.get(part, key);
      // Not a promise, and nothing for inspection to show.
      if (typeof key === 'symbol' || key === 'then') return undefined;
      throw new Error(`${name}.${key}: ${name} has not started (used outside its block, or its start failed)`);
    },
    set(_, key, value) {
      if (!part) throw new Error(`${name}.${key}: ${name} has not started`);
      return Reflect.set(part, key, value);
    },
    has: (_, key) => (part ? key in part : false),
  });
  return { proxy, fill: (p) => { part = p; } };
}

// The set-up that the tests of a file, or of the describe block it is called in, share:
// started before the first of them and stopped after the last, newest first. Returns its
// parts at once, each standing in for its part until it has started:
//   x       the X server (x.display): Xvfb, or Xvnc with a monitor per entry of `screens`;
//           openbox on it with `windowManager`; none with `display: false`
//   dir     a temporary folder, there at once (`dir`: its name's prefix), left for the end of
//           the file: hosts write caches there until they stop
//   bus     a private session bus in dir (with `bus`); system: a private system bus (with `system`)
//   ...     the file's own parts, `more: { name: async (parts) => part }`, started in this order
//           after the buses; each ends by its stop() or close()
//   s       a host past its first page call (with `session`: startSession's options, or a
//           function of the parts that returns them; on x unless they name a display;
//           `main: true` makes it mainSession's, which takes only `env`)
// With `skip` (the file's skip reason) nothing starts.
function setUp({ skip = false, display = true, windowManager = false, screens, dir, bus = false, system = false,
  more = {}, session } = {}) {
  const parts = {};
  const fills = {};
  const name = (key) => {
    const s = standIn(key);
    parts[key] = s.proxy;
    fills[key] = s.fill;
  };
  if (display) name('x');
  if (!skip && (dir || bus || system)) parts.dir = tempDir(typeof dir === 'string' ? dir : undefined);
  if (bus) name('bus');
  if (system) name('system');
  for (const key of Object.keys(more)) name(key);
  if (session) name('s');

  const stops = [];
  const started = (key, part, stop) => {
    stops.push(stop);
    fills[key](part);
  };
  before(async () => {
    if (skip) return;
    if (display) {
      const x = screens ? await startMonitors({ screens, windowManager }) : await startDisplay({ windowManager });
      started('x', x, () => x.stop());
    }
    for (const [key, want, busName] of [['bus', bus, 'session'], ['system', system, 'system']]) {
      if (!want) continue;
      const b = await startBus(parts.dir, busName);
      started(key, b, () => b.stop());
    }
    for (const [key, start] of Object.entries(more)) {
      const part = await start(parts);
      started(key, part, () => (part.stop ? part.stop() : part.close()));
    }
    if (session) {
      const { main, display: on = parts.x.display, ...opts } = typeof session === 'function' ? session(parts) : session;
      if (main) {
        const s = await mainSession(on, opts.env);
        started('s', s, () => s.close());
      } else {
        const s = await startSession({ display: on, ...opts });
        started('s', s, () => s.close());
        await hello(s.backend);
      }
    }
  });
  after(async () => {
    while (stops.length) await stops.pop()();
  });
  return parts;
}

Object.assign(module.exports, { setUp });
