'use strict';
// Backend of the hello example: plain Node.js, no packages.
//
// Bundle mode (started by the host as `qbx run entry.js`): connects to $QUIBEX_SOCKET.
// Command-line mode: listens on a socket and waits for the host to connect:
//
//   node entry.js --listen <socket> [--host <quibex> [--page <index.html>]] [--demo [--screenshot <png>]]
//
// With --host it starts the host itself and ends with the host's exit code. --demo clicks
// through the page by evaluating script in it, checks what the page shows, optionally
// saves a screenshot of the display and quits.
//
// The safe pattern (docs/security.md): every call is checked against the origin of the
// page that made it, and a navigation out of the application's pages goes to the
// desktop's browser instead of loading in the window.

const { spawn, execFile } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');

const VERSION = '0.1.0';

function parseArgs(argv) {
  const opts = { listen: process.env.HELLO_SOCKET || '' };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    const next = () => {
      if (i + 1 >= argv.length) usage(a + ' needs a value');
      return argv[++i];
    };
    if (a === '--listen') opts.listen = next();
    else if (a === '--host') opts.host = next();
    else if (a === '--page') opts.page = next();
    else if (a === '--screenshot') opts.screenshot = next();
    else if (a === '--demo') opts.demo = true;
    else usage('unknown argument ' + a);
  }
  return opts;
}

function usage(why) {
  console.error('hello: ' + why);
  console.error('usage: node entry.js --listen <socket> [--host <quibex> [--page <index.html>]] [--demo [--screenshot <png>]]');
  process.exit(2);
}

const log = (...a) => console.error('hello:', ...a);

// ---------------------------------------------------------------- the wire

// EVAL scripts travel with backslash, LF, TAB and CR escaped.
const wireEscape = (s) => s.replace(/[\\\n\t\r]/g, (c) => ({ '\\': '\\\\', '\n': '\\n', '\t': '\\t', '\r': '\\r' })[c]);
// TITLE text travels raw: no line breaks.
const oneLine = (s) => String(s).replace(/[\x00-\x1f\x7f]/g, ' ');

// The origins of the application's own pages. The example's pages are files, and a
// file page calls with the origin "file://". Any other origin is a page that is not
// the application's, such as a web page that a navigation brought into a window.
const OWN_ORIGINS = new Set(['file://']);
// Links the desktop may open for the user; anything else that leaves is only dropped.
const HANDED_OUT = /^(https?|mailto):/i;

class Connection {
  constructor(sock, { mode, demo, screenshot }) {
    this.sock = sock;
    this.mode = mode;
    this.demo = demo ? new Demo(this, screenshot) : null;
    this.count = 0;
    this.result = 0;
    let buf = '';
    sock.setEncoding('utf8');
    sock.on('data', (d) => {
      buf += d;
      let i;
      while ((i = buf.indexOf('\n')) >= 0) {
        this.line(buf.slice(0, i));
        buf = buf.slice(i + 1);
      }
    });
    sock.on('error', (e) => log('socket:', e.message));
  }

  send(line) {
    if (!this.sock.destroyed) this.sock.write(line + '\n');
  }

  eval(script) {
    this.send('EVAL ' + wireEscape(script));
  }

  answer(id, status, value) {
    this.send(`RET ${id} ${status} ${JSON.stringify(value === undefined ? null : value)}`);
  }

  line(line) {
    if (line.startsWith('NAVQ ')) return this.navigation(line);
    const got = /^GOT n\d+ (.*)$/.exec(line); // how the SHELL open of a navigation went
    if (got) return void (JSON.parse(got[1]).ok || log('the desktop did not open a link:', got[1]));
    const m = /^CALL (\S+) (.*)$/s.exec(line);
    if (!m) return; // other events: nothing this example asked for
    const id = m[1];
    // A call from a frame inside the page is never answered.
    if (id.includes(':s')) return;
    let method;
    let params;
    try {
      // [payload, origin]: the origin of the page that made the call comes last.
      const args = JSON.parse(m[2]);
      const origin = args[args.length - 1];
      if (!OWN_ORIGINS.has(origin)) {
        log('refused a call from', origin);
        this.answer(id, 1, { error: 'refused: not a page of this application' });
        return;
      }
      const payload = JSON.parse(args[0]);
      method = payload.method;
      params = payload.params || {};
    } catch (e) {
      this.answer(id, 1, { error: 'bad request' });
      return;
    }
    const handler = METHODS[method];
    if (!handler) {
      this.answer(id, 1, { error: 'unknown method: ' + method });
      return;
    }
    Promise.resolve()
      .then(() => handler.call(this, params, id))
      .then((value) => { if (value !== NO_ANSWER) this.answer(id, 0, value); },
        (err) => this.answer(id, 1, { error: String(err && err.message ? err.message : err) }));
  }

  // NAVQ <id> <window>\t<url>\t<frame>: a page is about to leave for a web address or
  // another scheme, and loads after 400 ms unless the backend says otherwise. The host
  // never asks about file pages, so here every question is about a page outside the
  // application: it stays out of the window, and the desktop opens a link that the
  // page itself (not a frame inside it) follows.
  navigation(line) {
    const m = /^NAVQ (\S+) [^\t]*\t(.*)\t(main|sub)$/.exec(line);
    if (!m) return;
    const [, id, url, frame] = m;
    this.send(`NAVR ${id} deny`);
    if (frame === 'main' && HANDED_OUT.test(url)) this.send(`SHELL ${id} open\t${wireEscape(url)}`);
  }
}

const NO_ANSWER = Symbol('no answer');

const METHODS = {
  'client.hello'() {
    return { ok: true };
  },
  // Only the methods below are served; every other page function is reported unsupported.
  'client.capabilities'(p) {
    const calls = {};
    for (const c of p.calls || []) calls[c] = c in METHODS ? true : { why: 'unsupported' };
    const events = {};
    for (const e of p.events || []) events[e] = { why: 'unsupported' };
    return { calls, events };
  },
  'hello.greeting'() {
    // The page's script is running: the demo can start clicking.
    if (this.demo) this.demo.start();
    return { text: 'Hello from the backend', runtime: 'Node ' + process.version, pid: process.pid, mode: this.mode };
  },
  'hello.count'() {
    return { count: ++this.count };
  },
  'win.setTitle'(p) {
    const title = oneLine(p.title || '');
    this.send('TITLE ' + title);
    return { ok: true, title };
  },
  // The backend answers, then changes the page by evaluating script in it.
  'hello.tint'() {
    const colors = ['#8a3fb5', '#2f8f5b', '#c0522d', '#3466a8'];
    const color = colors[this.count % colors.length];
    this.eval(`window.app.tint(${JSON.stringify(color)})`);
    return { ok: true, color };
  },
  log(p) {
    log('page:', String(p.msg));
    return { ok: true };
  },
  quit() {
    setTimeout(() => this.send('QUIT'), 0);
    return { ok: true };
  },
  'demo.done'(p) {
    if (this.demo) this.demo.finish(p);
    return { ok: true };
  },
};

// ---------------------------------------------------------------- demo mode

class Demo {
  constructor(conn, screenshot) {
    this.conn = conn;
    this.screenshot = screenshot;
    this.started = false;
  }

  start() {
    if (this.started) return;
    this.started = true;
    const click = (id) => `document.getElementById(${JSON.stringify(id)}).click()`;
    // Short pauses so each step is drawn; the final check does not depend on them.
    const steps = [
      click('count'),
      click('count'),
      `document.getElementById('title').value = 'Hello demo ✓'; ${click('set-title')}`,
      click('tint'),
      // Waits for the page to have taken in every answer, then reports what it shows.
      `(function wait(n) {
         const s = window.app.state();
         if ((s.count === 2 && s.title && s.accent) || n > 100) quib.api.call('demo.done', s);
         else setTimeout(() => wait(n + 1), 50);
       })(0)`,
    ];
    steps.forEach((s, i) => setTimeout(() => this.conn.eval(s), 800 + i * 300));
  }

  finish(state) {
    const ok = state.count === 2 && state.title === 'Hello demo ✓' && /^#/.test(state.accent || '');
    console.log('demo: page state ' + JSON.stringify(state) + (ok ? '' : ' (unexpected)'));
    if (!ok) this.conn.result = 1;
    const quit = () => this.conn.send('QUIT');
    if (!this.screenshot) return void setTimeout(quit, 300);
    setTimeout(() => {
      execFile('import', ['-window', 'root', this.screenshot], (err) => {
        if (err) {
          log('screenshot failed:', err.message);
          this.conn.result = 1;
        } else {
          console.log('screenshot: ' + path.resolve(this.screenshot));
        }
        quit();
      });
    }, 500);
  }
}

// ---------------------------------------------------------------- start

function bundleMode() {
  const sock = net.createConnection(process.env.QUIBEX_SOCKET);
  const conn = new Connection(sock, { mode: 'bundle' });
  sock.on('error', (e) => {
    log('cannot connect to the host:', e.message);
    process.exit(1);
  });
  sock.on('close', () => process.exit(conn.result));
}

function commandLineMode(opts) {
  if (!opts.listen) usage('no socket: pass --listen <path> or set HELLO_SOCKET');
  if (fs.existsSync(opts.listen)) fs.unlinkSync(opts.listen);
  let conn = null;
  let host = null;
  const server = net.createServer((sock) => {
    if (conn) return void sock.destroy();
    conn = new Connection(sock, { mode: 'command-line', demo: opts.demo, screenshot: opts.screenshot });
    sock.on('close', () => {
      server.close();
      if (!host) process.exit(conn.result);
    });
  });
  server.on('error', (e) => {
    log('cannot listen on ' + opts.listen + ':', e.message);
    process.exit(1);
  });
  server.listen(opts.listen, () => {
    if (!opts.host) {
      const page = opts.page || path.join(__dirname, '../frontend/index.html');
      log(`listening on ${opts.listen}; start the host with:\n  quibex ${page} ${opts.listen} Hello 900x640 ${VERSION}`);
      return;
    }
    const page = opts.page || path.join(__dirname, '../frontend/index.html');
    host = spawn(opts.host, [page, opts.listen, 'Hello', '900x640', VERSION], { stdio: 'inherit' });
    host.on('error', (e) => {
      log('cannot start the host:', e.message);
      process.exit(1);
    });
    host.on('exit', (code, signal) => {
      server.close();
      fs.rmSync(opts.listen, { force: true });
      if (signal) log('the host ended by signal ' + signal);
      process.exit(code === 0 && !signal ? (conn ? conn.result : 1) : code || 1);
    });
  });
  for (const sig of ['SIGINT', 'SIGTERM']) {
    process.on(sig, () => {
      if (host) host.kill('SIGTERM');
      else process.exit(130);
    });
  }
}

if (process.env.QUIBEX_SOCKET) bundleMode();
else commandLineMode(parseArgs(process.argv.slice(2)));
