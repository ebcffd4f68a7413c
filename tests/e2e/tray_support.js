'use strict';
// Peers of the tray tests: a StatusNotifierWatcher on a private session bus and an
// XEmbed system tray on the test's display (small Python programs beside this
// file that speak JSON lines), and image files made on the spot.

const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');
const h = require('./harness');

// Debian's interpreter, which has the python3-gi and python3-xlib modules.
const PYTHON = fs.existsSync('/usr/bin/python3') ? '/usr/bin/python3' : 'python3';

class JsonPeer {
  constructor(name, args, env) {
    this.name = name;
    this.events = [];
    this.taken = [];
    this.waiters = [];
    this.pending = new Map();
    this.nextId = 1;
    this.stderr = '';
    this.proc = h.launch(PYTHON, args, { env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.proc.stderr.on('data', (d) => { this.stderr = (this.stderr + d).slice(-4000); });
    this.proc.stdin.on('error', () => {});
    let buf = '';
    this.proc.stdout.setEncoding('utf8');
    this.proc.stdout.on('data', (d) => {
      buf += d;
      let i;
      while ((i = buf.indexOf('\n')) >= 0) {
        const line = buf.slice(0, i);
        buf = buf.slice(i + 1);
        if (line.trim()) this.push(JSON.parse(line));
      }
    });
  }

  push(msg) {
    if (msg.id !== undefined && this.pending.has(msg.id)) {
      this.pending.get(msg.id)(msg);
      this.pending.delete(msg.id);
      return;
    }
    const at = this.events.length;
    this.events.push(msg);
    this.taken.push(false);
    for (const w of this.waiters) {
      if (w.test(msg)) {
        this.taken[at] = true;
        this.waiters.splice(this.waiters.indexOf(w), 1);
        w.done(msg);
        break;
      }
    }
  }

  // The first event not matched before that passes `test`.
  expectEvent(test, what, ms = h.WAIT) {
    for (let i = 0; i < this.events.length; i++) {
      if (!this.taken[i] && test(this.events[i])) {
        this.taken[i] = true;
        return Promise.resolve(this.events[i]);
      }
    }
    return new Promise((resolve, reject) => {
      const w = { test, done: (m) => { clearTimeout(w.timer); resolve(m); } };
      w.timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(w), 1);
        const recent = this.events.slice(-10).map((e) => '  ' + JSON.stringify(e).slice(0, 300)).join('\n');
        reject(new Error(`${this.name}: no ${what} within ${ms} ms\nlast events:\n${recent}\n${this.stderr}`));
      }, ms);
      this.waiters.push(w);
    });
  }

  // Whether an event passing `test` came (and takes it).
  saw(test) {
    const i = this.events.findIndex((e, k) => !this.taken[k] && test(e));
    if (i >= 0) this.taken[i] = true;
    return i >= 0;
  }

  request(op, fields = {}, ms = h.WAIT) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${this.name}: no answer to ${op} within ${ms} ms\n${this.stderr}`));
      }, ms);
      this.pending.set(id, (msg) => { clearTimeout(timer); resolve(msg); });
      this.proc.stdin.write(JSON.stringify({ id, op, ...fields }) + '\n');
    });
  }

  // The answer's result; a failed request fails the test.
  async ask(op, fields) {
    const r = await this.request(op, fields);
    if (!r.ok) throw new Error(`${this.name}: ${op} failed: ${r.error}`);
    return r.result;
  }

  stop() { return h.stopGroup(this.proc, 500); }
}

// The watcher; with own false it is on the bus without the watcher's name until `own`.
// With stall it never answers a registration.
async function startWatcher(bus, { own = true, stall = false } = {}) {
  const args = [path.join(__dirname, 'sni_watcher.py'), bus.address, ...(stall ? ['--stall'] : [])];
  const w = new JsonPeer('watcher', args, process.env);
  await w.expectEvent((e) => e.event === 'ready', 'start');
  if (own) await w.ask('own');
  return w;
}

async function startXembedTray(display) {
  const t = new JsonPeer('xembed tray', [path.join(__dirname, 'xembed_tray.py')], { ...process.env, DISPLAY: display });
  await t.expectEvent((e) => e.event === 'ready', 'start');
  return t;
}

// The environment of a host that uses only the test's own bus and folders.
function trayEnv(dir, busAddress) {
  const home = path.join(dir, 'home');
  for (const d of ['', '.config', '.cache', '.local/share', 'run']) {
    fs.mkdirSync(path.join(home, d), { recursive: true, mode: 0o700 });
  }
  return {
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, '.config'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    XDG_DATA_HOME: path.join(home, '.local/share'),
    XDG_RUNTIME_DIR: path.join(home, 'run'),
    DBUS_SESSION_BUS_ADDRESS: busAddress,
  };
}

// ---------------------------------------------------------------- PNG files

const CRC = (() => {
  const t = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    t[n] = c >>> 0;
  }
  return t;
})();

function crc32(buf) {
  let c = 0xffffffff;
  for (const b of buf) c = CRC[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([len, body, crc]);
}

// A PNG of one RGBA colour.
function writePng(file, width, height, [r, g, b, a]) {
  const row = Buffer.alloc(1 + width * 4);
  for (let x = 0; x < width; x++) row.set([r, g, b, a], 1 + x * 4);
  const raw = Buffer.concat(Array.from({ length: height }, () => row));
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr.set([8, 6, 0, 0, 0], 8);
  fs.writeFileSync(file, Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]));
  return file;
}

// ---------------------------------------------------------------- the host's popup menu

// The host's mapped override-redirect windows: its popup menus.
async function popups(display, pid) {
  const ids = (await h.xdotool(display, ['search', '--onlyvisible', '--pid', String(pid)])).split('\n').filter(Boolean);
  const out = [];
  for (const id of ids) {
    const info = await h.xrun(display, 'xwininfo', ['-id', id]).catch(() => '');
    const num = (k) => Number((new RegExp(k + ':\\s+(-?\\d+)').exec(info) || [])[1]);
    // GTK keeps small helper windows mapped off screen.
    if (/Map State: IsViewable/.test(info) && /Override Redirect State: yes/.test(info) &&
        num('Absolute upper-left X') >= 0 && num('Absolute upper-left Y') >= 0) out.push(id);
  }
  return out;
}

// Waits for a popup menu of the host, chooses its first item with the keyboard
// (or closes it with Escape) and waits until it is gone.
async function choosePopupItem(display, pid, { escape = false } = {}) {
  await h.untilValue(() => popups(display, pid), (p) => p.length === 1, 'the popup menu');
  await h.xdotool(display, escape ? ['key', 'Escape'] : ['key', 'Down', 'Return']);
  await h.untilValue(() => popups(display, pid), (p) => p.length === 0, 'the popup menu to close');
}

module.exports = { startWatcher, startXembedTray, trayEnv, writePng, popups, choosePopupItem, PYTHON };
