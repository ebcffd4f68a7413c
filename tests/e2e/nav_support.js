'use strict';
// Support for the navigation and popup tests: a local web site that records every
// request, a temporary home whose desktop hands URLs to a recording script, and
// the web processes of a host.
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const h = require('./harness');

// Serves the test pages on 127.0.0.1 and records each request (path and time).
//   /redirect?to=<path>   302 to <path>
//   /slow?ms=<n>          a page after n ms
//   /frames.html?src=...  a page with one iframe per src
//   /eval.html            runs each script posted to it (a frame of another origin, say)
function site() {
  const requests = [];
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://x');
    requests.push({ path: req.url, at: performance.now() });
    if (url.pathname === '/redirect') {
      res.writeHead(302, { location: url.searchParams.get('to') });
      res.end();
      return;
    }
    if (url.pathname === '/slow') {
      setTimeout(() => {
        res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
        res.end('<!doctype html><title>slow</title><script src="/probe.js"></script><p>slow</p>');
      }, Number(url.searchParams.get('ms') || 3000));
      return;
    }
    if (url.pathname === '/eval.html') {
      res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
      res.end('<!doctype html><title>eval</title><script>addEventListener("message", (e) => eval(e.data))</script>');
      return;
    }
    if (url.pathname === '/frames.html') {
      const frames = url.searchParams.getAll('src').map((s) => `<iframe src="${s.replace(/"/g, '&quot;')}"></iframe>`);
      res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
      res.end(`<!doctype html><title>frames</title><script src="/probe.js"></script>${frames.join('')}`);
      return;
    }
    fs.readFile(path.join(h.PAGES, path.basename(url.pathname)), (err, data) => {
      if (err) { res.writeHead(404); res.end(); return; }
      const type = url.pathname.endsWith('.js') ? 'text/javascript' : 'text/html';
      res.writeHead(200, { 'content-type': type + '; charset=utf-8' });
      res.end(data);
    });
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      const origin = `http://127.0.0.1:${server.address().port}`;
      resolve({
        origin, port: server.address().port, requests,
        url: (p) => origin + p,
        // Whether the server was asked for this path (with its query).
        saw: (p) => requests.some((r) => r.path === p),
        when: (p) => (requests.find((r) => r.path === p) || {}).at,
        close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }),
      });
    });
  });
}

// A loopback port that nothing listens on.
function closedPort() {
  return new Promise((resolve) => {
    const srv = require('node:net').createServer().listen(0, '127.0.0.1', () => {
      const p = srv.address().port;
      srv.close(() => resolve(p));
    });
  });
}

// A home of the test's own whose desktop opens every http, https and mailto URL
// with a script that writes it to a file: what the host hands to the desktop.
function desktopHome(dir) {
  const home = path.join(dir, 'home');
  const apps = path.join(home, '.local/share/applications');
  const config = path.join(home, '.config');
  fs.mkdirSync(apps, { recursive: true });
  fs.mkdirSync(config, { recursive: true });
  const log = path.join(home, 'opened.txt');
  const script = path.join(home, 'opener.sh');
  fs.writeFileSync(script, `#!/bin/sh\nprintf '%s\\n' "$1" >> '${log}'\n`, { mode: 0o755 });
  const schemes = ['http', 'https', 'mailto', 'tel'];
  fs.writeFileSync(path.join(apps, 'qbx-test-opener.desktop'),
    '[Desktop Entry]\nType=Application\nName=Test opener\nNoDisplay=true\n' +
    `Exec=${script} %u\nMimeType=${schemes.map((s) => 'x-scheme-handler/' + s + ';').join('')}\n`);
  fs.writeFileSync(path.join(config, 'mimeapps.list'),
    '[Default Applications]\n' + schemes.map((s) => `x-scheme-handler/${s}=qbx-test-opener.desktop\n`).join(''));
  return {
    env: {
      HOME: home,
      XDG_CONFIG_HOME: config,
      XDG_DATA_HOME: path.join(home, '.local/share'),
      XDG_CACHE_HOME: path.join(home, '.cache'),
    },
    opened() {
      try { return fs.readFileSync(log, 'utf8').split('\n').filter(Boolean); } catch (e) { return []; }
    },
  };
}

// The WebKit web processes started by the host (its descendants).
function webProcesses(rootPid) {
  const parent = new Map();
  const name = new Map();
  for (const d of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(d)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${d}/stat`, 'utf8');
      const close = stat.lastIndexOf(')');
      name.set(Number(d), stat.slice(stat.indexOf('(') + 1, close));
      parent.set(Number(d), Number(stat.slice(close + 2).split(' ')[1]));
    } catch (e) { /* gone */ }
  }
  const out = [];
  for (const [pid, comm] of name) {
    if (!comm.startsWith('WebKitWebProces')) continue;
    for (let p = parent.get(pid); p; p = parent.get(p)) {
      if (p === rootPid) { out.push(pid); break; }
    }
  }
  return out;
}

// Parses a NAV or POPUP line's JSON; null for other lines.
function event(line, word) {
  if (!line.startsWith(word + ' ')) return null;
  try { return JSON.parse(line.slice(word.length + 1)); } catch (e) { return null; }
}

// The next NAVQ line passing `where(id, window, url, frame)`, as {id, window, url, frame}.
async function expectNavq(b, where = () => true, ms) {
  const m = await b.expectLine((l) => {
    const x = /^NAVQ (\S+) (\S+)\t(.*)\t(main|sub)$/.exec(l);
    return x && where(x[1], x[2], x[3], x[4]);
  }, ms);
  const x = /^NAVQ (\S+) (\S+)\t(.*)\t(main|sub)$/.exec(m);
  return { id: x[1], window: x[2], url: x[3], frame: x[4] };
}

async function expectNav(b, where, ms) {
  return event(await b.expectLine((l) => { const e = event(l, 'NAV'); return e && where(e); }, ms), 'NAV');
}

async function expectPopupq(b, where = () => true, ms) {
  const re = /^POPUPQ (\S+) (\S+)\t(\S+)\t(.*)\t(.*)$/;
  const m = await b.expectLine((l) => { const x = re.exec(l); return x && where(x[1], x[2], x[3], x[4], x[5]); }, ms);
  const x = re.exec(m);
  return { id: x[1], window: x[2], opener: x[3], url: x[4], fallback: x[5] };
}

async function expectPopup(b, where = () => true, ms) {
  return event(await b.expectLine((l) => { const e = event(l, 'POPUP'); return e && where(e); }, ms), 'POPUP');
}

// Answers every NAVQ at once with `answer` (a function of the question, or a text)
// until stopped; returns the stop function.
function answerNavq(b, answer = 'allow') {
  const prev = b.onLine;
  b.onLine = (l) => {
    const x = /^NAVQ (\S+) (\S+)\t(.*)\t(main|sub)$/.exec(l);
    if (x) {
      const a = typeof answer === 'function' ? answer({ id: x[1], window: x[2], url: x[3], frame: x[4] }) : answer;
      if (a) b.send(`NAVR ${x[1]} ${a}`);
    }
    return prev ? prev(l) : false;
  };
  return () => { b.onLine = prev; };
}

// Lines that arrived so far are not matched by later expectations.
function skipSeen(b) {
  b.taken.fill(true);
}

module.exports = { skipSeen, site, closedPort, desktopHome, webProcesses, event, expectNavq, expectNav, expectPopupq, expectPopup, answerNavq };
