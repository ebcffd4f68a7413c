// Page client library: window.quib, window.__emit and the sample-mixer host.
// Runs once per document, right after the bridge shim, before the page's own scripts.
(() => {
  'use strict';

  // Every API function maps onto this. Keep calls in the form call('<method>', ...)
  // inside the API functions: the capability table reads those literals from their sources.
  const call = (method, params) => window.__invoke(JSON.stringify({ method, params }));

  const handlers = new Map(); // a Map, so event names like "constructor" are plain keys
  let clipWatching = false;
  let fetchCounter = 0;

  // ---------------------------------------------------------------- helpers

  const isObj = (v) => v !== null && typeof v === 'object';
  const tagOf = (v) => Object.prototype.toString.call(v);
  const isArrayBuffer = (v) => tagOf(v) === '[object ArrayBuffer]';
  const isBlob = (v) => typeof Blob !== 'undefined' && v instanceof Blob;
  const isBinary = (v) => isArrayBuffer(v) || ArrayBuffer.isView(v) || isBlob(v);

  const screenOpt = (s) => (isObj(s) ? s.id : s);

  function dialogOpts(fn, opts, field) {
    if (opts === null || opts === undefined) return {};
    if (typeof opts === 'string' && field) return { [field]: opts };
    if (isObj(opts) && !Array.isArray(opts)) return opts;
    throw new TypeError('quib.dialog.' + fn + '(message, opts): opts must be an object' +
      (field ? ' or a ' + field + ' string' : '') +
      ', got ' + (Array.isArray(opts) ? 'an array' : typeof opts));
  }

  async function toBytes(v) {
    if (isArrayBuffer(v)) return new Uint8Array(v);
    if (ArrayBuffer.isView(v)) return new Uint8Array(v.buffer, v.byteOffset, v.byteLength);
    return new Uint8Array(await v.arrayBuffer());
  }

  function bytesToB64(bytes) {
    let bin = '';
    for (let i = 0; i < bytes.length; i += 32768) {
      bin += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
    }
    return btoa(bin);
  }

  function b64ToBytes(b64) {
    const bin = atob(String(b64));
    const out = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }

  function report(err) {
    if (typeof window.reportError === 'function') window.reportError(err);
    else setTimeout(() => { throw err; }, 0);
  }

  // Start answers of watches that can fail: anything but {ok: true} becomes an Error.
  function watchStarted(prefix, ans) {
    if (isObj(ans) && ans.ok === true) return;
    const a = isObj(ans) ? ans : {};
    const err = new Error(a.message || prefix + (a.code || 'failed'));
    err.code = a.code || 'failed';
    throw err;
  }

  function normHeaders(h) {
    if (h === undefined || h === null) return undefined;
    if (typeof Headers !== 'undefined' && h instanceof Headers) {
      const o = {};
      h.forEach((value, name) => { o[name] = value; });
      return o;
    }
    if (Array.isArray(h)) {
      const o = {};
      for (const pair of h) o[pair[0]] = pair[1];
      return o;
    }
    return h;
  }

  // The first package must be matched as a whole word: a plain substring search
  // would cut "apt install libfoo-dev foo" inside "libfoo-dev".
  function packagePosition(command, pkg) {
    const re = /\S+/g;
    let m;
    while ((m = re.exec(command)) !== null) {
      if (m[0] === pkg) return m.index;
    }
    return -1;
  }

  function installCommand(missing) {
    const owner = missing.find((e) => isObj(e) && isObj(e.install));
    const mgr = owner && owner.install;
    const pkgs = [];
    for (const e of missing) {
      const list = isObj(e) && isObj(e.install) && e.install.packages;
      if (!Array.isArray(list)) continue;
      for (const p of list) if (!pkgs.includes(p)) pkgs.push(p);
    }
    if (!mgr || !pkgs.length) return null;
    const command = typeof mgr.command === 'string' ? mgr.command : '';
    if (!command) return null;
    const first = Array.isArray(mgr.packages) && mgr.packages.length ? String(mgr.packages[0]) : '';
    const at = first ? packagePosition(command, first) : -1;
    return at < 0 ? command : command.slice(0, at) + pkgs.join(' ');
  }

  const entriesOf = (ans) => (Array.isArray(ans) ? ans : isObj(ans) ? Object.values(ans) : []);
  const notOk = (e) => !(isObj(e) && e.ok === true);

  // ---------------------------------------------------------------- events

  const api = {
    call: (method, params) => call(method, params),
    on(event, fn) {
      let list = handlers.get(event);
      if (!list) handlers.set(event, (list = []));
      list.push(fn);
      return () => api.off(event, fn);
    },
    off(event, fn) {
      const list = handlers.get(event);
      if (!list) return;
      const i = list.indexOf(fn);
      if (i >= 0) list.splice(i, 1);
    },
  };

  window.__emit = (msg) => {
    if (!isObj(msg)) return;
    const list = handlers.get(msg.event);
    if (!list) return;
    // A copy: subscribing or unsubscribing inside a handler leaves this dispatch alone.
    for (const fn of list.slice()) {
      try { fn(msg.data); } catch (err) { report(err); }
    }
  };

  // ---------------------------------------------------------------- fetch

  async function quibFetch(url, init) {
    const opts = init || {};
    fetchCounter = (fetchCounter + 1) >>> 0;
    const id = 'f' + fetchCounter;

    let bodyText;
    let bodyB64;
    const body = opts.body;
    if (body === null || body === undefined) {
      // no body
    } else if (typeof body === 'string') {
      bodyText = body;
    } else if (typeof URLSearchParams !== 'undefined' && body instanceof URLSearchParams) {
      bodyText = body.toString();
    } else if (isBinary(body)) {
      bodyB64 = bytesToB64(await toBytes(body));
    } else {
      bodyText = String(body);
    }

    const head = await call('fetch', {
      url: String(url), id, stream: !!opts.stream, method: opts.method,
      headers: normHeaders(opts.headers), redirect: opts.redirect, bodyText, bodyB64,
    });

    // These statuses may not carry a body; Response refuses one.
    const nullBody = head.status === 204 || head.status === 205 || head.status === 304;
    let resBody = null;
    if (nullBody) {
      resBody = null;
    } else if (opts.stream) {
      resBody = new ReadableStream({
        pull(controller) {
          return call('fetch.pull', { id }).then((chunk) => {
            if (chunk && chunk.done) controller.close();
            else controller.enqueue(b64ToBytes((chunk && chunk.bodyB64) || ''));
          });
        },
        cancel() {
          return call('fetch.cancel', { id });
        },
      });
    } else if (head.bodyB64) {
      resBody = b64ToBytes(head.bodyB64);
    }

    const res = new Response(resBody, {
      status: head.status, statusText: head.statusText, headers: head.headers,
    });
    try {
      Object.defineProperty(res, 'url', { value: head.url, configurable: true });
      Object.defineProperty(res, 'redirected', { value: head.redirected, configurable: true });
    } catch (e) { /* a frozen Response keeps its own values */ }
    return res;
  }

  // ---------------------------------------------------------------- URLs

  function fileURL(path) {
    let p = String(path);
    if (/^[A-Za-z]:[\\/]/.test(p) || p.startsWith('\\\\')) p = p.replace(/\\/g, '/');
    const network = p.startsWith('//');
    if (!network && !p.startsWith('/')) p = '/' + p;
    const enc = p.split('/').map(encodeURIComponent).join('/').replace(/%3A/gi, ':');
    return network ? 'file:' + enc : 'file://' + enc;
  }

  // ---------------------------------------------------------------- page-side filter chain

  const RETUNE = 0.015;
  const num = (v, d) => (typeof v === 'number' && Number.isFinite(v) ? v : d);

  function pageChain(ctx) {
    const input = ctx.createGain();
    const bal = ctx.createGain();
    bal.channelCount = 2;
    bal.channelCountMode = 'explicit';
    const split = ctx.createChannelSplitter(2);
    const left = ctx.createGain();
    const right = ctx.createGain();
    const merge = ctx.createChannelMerger(2);
    const output = ctx.createGain();
    bal.connect(split);
    split.connect(left, 0);
    split.connect(right, 1);
    left.connect(merge, 0, 0);
    right.connect(merge, 0, 1);
    merge.connect(output);
    input.connect(bal);

    let defs = [];
    let nodes = [];
    const typeOf = (s) => s.type || 'peaking';

    function makeNode(s) {
      if (typeOf(s) === 'gain') {
        const g = ctx.createGain();
        g.gain.value = num(s.gain, 1);
        return g;
      }
      const f = ctx.createBiquadFilter();
      f.type = typeOf(s);
      f.frequency.value = num(s.freq, 1000);
      f.Q.value = num(s.q, 1);
      f.gain.value = num(s.gain, 0);
      return f;
    }

    function rebuild() {
      input.disconnect();
      for (const n of nodes) n.disconnect();
      nodes = defs.map(makeNode);
      let prev = input;
      for (const n of nodes) { prev.connect(n); prev = n; }
      prev.connect(bal);
    }

    function retune(node, s) {
      const t = ctx.currentTime;
      if (typeOf(s) === 'gain') {
        node.gain.setTargetAtTime(num(s.gain, 1), t, RETUNE);
        return;
      }
      node.frequency.setTargetAtTime(num(s.freq, 1000), t, RETUNE);
      node.Q.setTargetAtTime(num(s.q, 1), t, RETUNE);
      node.gain.setTargetAtTime(num(s.gain, 0), t, RETUNE);
    }

    const chain = {
      input,
      output,
      filters(list) {
        defs = (Array.isArray(list) ? list : []).map((s) => Object.assign({}, s));
        rebuild();
        return true;
      },
      filter(i, patch) {
        if (!nodes[i]) return true;
        const before = typeOf(defs[i]);
        defs[i] = Object.assign({}, defs[i], patch);
        if (typeOf(defs[i]) !== before) rebuild();
        else retune(nodes[i], defs[i]);
        return true;
      },
      balance(v) {
        const b = typeof v === 'number' && !Number.isNaN(v) ? Math.min(1, Math.max(-1, v)) : 0;
        const t = ctx.currentTime;
        left.gain.setTargetAtTime(b > 0 ? 1 - b : 1, t, RETUNE);
        right.gain.setTargetAtTime(b < 0 ? 1 + b : 1, t, RETUNE);
        return true;
      },
      clear() {
        chain.filters([]);
        chain.balance(0);
        return true;
      },
    };
    return chain;
  }

  // ---------------------------------------------------------------- the API

  const quib = {
    api,
    fetch: quibFetch,
    log: (msg) => call('log', { msg }),
    quit: () => call('quit'),
    notify: (title, body, opts) => call('notify', { title, body, ...opts }),
    proxyURL: (url) => 'quib-media://proxy/?u=' + encodeURIComponent(String(url)),
    fileURL,

    system: {
      info: () => call('system.info'),
      architecture: () => call('system.info').then((info) => (info ? info.arch : undefined)),
      capabilities: () => call('system.capabilities'),
      locale: () => call('system.locale'),
      battery: () => call('system.battery'),
      wifi: () => call('system.wifi'),
      idleTime: () => call('system.idleTime'),
      requirements: (ids, opts) =>
        call('system.requirements', { ids: ids || null, refresh: !!(opts && opts.refresh) }),
      missing: (ids) =>
        call('system.requirements', { ids: ids || null }).then((ans) => entriesOf(ans).filter(notOk)),
      async promptMissing(ids, opts) {
        const o = opts || {};
        const ans = await call('system.requirements', { ids: ids || null });
        const missing = entriesOf(ans).filter(notOk);
        if (!missing.length) return { missing: [], copied: false };

        const command = installCommand(missing);
        const field = (e, k) => (isObj(e) ? e[k] : undefined);
        let detail = missing.map((e) => '• ' + field(e, 'feature') + ' — ' + field(e, 'detail')).join('\n\n');
        if (command) detail += '\n\n' + command;
        const title = o.title || (missing.length === 1
          ? field(missing[0], 'feature') + ' needs a system package'
          : 'Some features need system packages');

        if (!command) {
          await call('dialog.alert', { message: title, detail });
          return { missing, copied: false };
        }
        const yes = await call('dialog.confirm', {
          message: title, detail, ok: o.ok || 'Copy install command', cancel: o.cancel || 'Not now',
        });
        if (!yes) return { missing, copied: false };
        try {
          await call('clip.write', { text: command });
          return { missing, copied: true };
        } catch (e) {
          return { missing, copied: false };
        }
      },
      os() {
        const ua = String((typeof navigator !== 'undefined' && navigator.userAgent) || '');
        if (/Windows/i.test(ua)) return 'windows';
        if (/Linux|X11/i.test(ua)) return 'linux';
        return 'macos';
      },
      isMacOS: () => window.quib.system.os() === 'macos',
      isWindows: () => window.quib.system.os() === 'windows',
      isLinux: () => window.quib.system.os() === 'linux',
    },

    dialog: {
      openFile: (opts) => call('dialog.openFile', { types: (opts || {}).types }),
      openFiles: (opts) => call('dialog.openFiles', { types: (opts || {}).types }),
      pickFolder: () => call('dialog.pickFolder'),
      saveFile: (opts) => call('dialog.saveFile', { types: (opts || {}).types, name: (opts || {}).name }),
      alert: async (message, opts) => call('dialog.alert', { message, ...dialogOpts('alert', opts, 'detail') }),
      confirm: async (message, opts) => call('dialog.confirm', { message, ...dialogOpts('confirm', opts, 'detail') }),
      prompt: async (message, opts) => call('dialog.prompt', { message, ...dialogOpts('prompt', opts) }),
    },

    theme: {
      get: () => call('theme.get'),
      on: (fn) => api.on('theme', (d) => fn(d.dark)),
    },

    win: {
      get id() { return window.__QUIB_WIN || 'main'; },
      open: (id, opts) => call('win.open', { id, ...opts }),
      close: (id) => call('win.close', id === undefined || id === null ? {} : { id }),
      windows: () => call('win.windows'),
      setTitle: (title) => call('win.setTitle', { title }),
      setSize: (width, height, opts) => call('win.setSize', { width, height, units: (opts || {}).units }),
      hide: (opts) => call('win.hide', opts || {}),
      show: (opts) => call('win.show', opts || {}),
      center: () => call('win.center'),
      minimize: () => call('win.minimize'),
      fullscreen: () => call('win.fullscreen'),
      ensureOnScreen: () => call('win.ensureOnScreen'),
      restore: () => call('win.restore'),
      getState: () => call('win.getState'),
      zoom: () => call('win.zoom'),
      print: () => call('win.print'),
      stopFind: () => call('win.stopFind'),
      setAlwaysOnTop: (enabled) => call('win.setAlwaysOnTop', { enabled }),
      setResizable: (enabled) => call('win.setResizable', { enabled }),
      setClickThrough: (enabled) => call('win.setClickThrough', { enabled }),
      setAllSpaces: (enabled) => call('win.setAllSpaces', { enabled }),
      setHideOnClose: (enabled) => call('win.setHideOnClose', { enabled }),
      setMinSize: (width, height) => call('win.setMinSize', { width, height }),
      setZoom: (factor) => call('win.setZoom', { factor }),
      setLevel: (level) => call('win.setLevel', { level }),
      setPosition: (x, y, opts) =>
        call('win.setPosition', { x, y, screen: screenOpt((opts || {}).screen), units: (opts || {}).units }),
      setFullscreen: (enabled, opts) =>
        call('win.setFullscreen', { enabled, screen: screenOpt((opts || {}).screen) }),
      setChrome: (opts) => call('win.setChrome', opts),
      startDrag: (opts) => (opts && opts.files ? call('win.dragOut', opts) : call('win.startDrag')),
      startResize: (edge) => call('win.startResize', { edge }),
      dragOut: (opts) => call('win.dragOut', opts),
      printToPDF: (path) => call('win.printToPDF', { path }),
      find: (term, opts) => call('win.find', {
        term, forward: (opts || {}).forward !== false, matchCase: !!(opts || {}).matchCase,
      }),
      share: (opts) => call('win.share', opts || {}),
      menu: {
        set: (menus) => call('win.menu.set', { menus }),
        reset: () => call('win.menu.reset'),
        update: (id, patch) => call('win.menu.update', { id, ...patch }),
        get: (id) => call('win.menu.get', { id }),
      },
      onState: (fn) => api.on('window-state', fn),
      onDrop: (fn) => api.on('drop', (d) => fn(d.paths)),
    },

    menu: {
      set: (menus) => call('menu.set', { menus }),
      update: (id, patch) => call('menu.update', { id, ...patch }),
      get: (id) => call('menu.get', { id }),
      setContext: (items) => call('menu.setContext', { items }),
      on: (fn) => api.on('menu', (d) => fn(d.id)),
      onContext: (fn) => api.on('contextmenu', (d) => fn(d.id)),
    },

    store: {
      get: (key) => call('store.get', { key }),
      set: (key, value) => call('store.set', { key, value }),
      delete: (key) => call('store.delete', { key }),
      all: () => call('store.all'),
    },

    hotkey: {
      register: (id, combo) => call('hotkey.register', { id, combo }),
      unregister: (id) => call('hotkey.unregister', { id }),
      on: (fn) => api.on('hotkey', (d) => fn(d.id)),
    },

    tray: {
      set: (opts) => call('tray.set', opts),
      remove: () => call('tray.remove'),
      position: () => call('tray.position'),
      on: (fn) => api.on('tray', (d) => fn(d.id)),
      onClick: (fn) => api.on('trayclick', () => fn()),
    },

    clipboard: {
      read: () => call('clip.read'),
      write: (data) => call('clip.write', data),
      changeCount: () => call('clip.changeCount'),
      watch: (intervalMs) => { clipWatching = true; return call('clip.watch', { intervalMs }); },
      unwatch: () => { clipWatching = false; return call('clip.unwatch'); },
      onChange(fn) {
        if (!clipWatching) window.quib.clipboard.watch();
        return api.on('clipboard-change', fn);
      },
    },

    audio: {
      filters: (list) => call('audio.filters', { filters: list || [] }),
      filter: (index, patch) => call('audio.filterSet', { index, filter: patch || {} }),
      balance: (v) => call('audio.balance', { value: v }),
      clear: () => call('audio.balance', { value: 0 }).then(() => call('audio.filters', { filters: [] })),
      pageChain,
      sampler: {
        async load(name, source) {
          if (typeof source === 'string') return call('sampler.load', { name: String(name), path: source });
          if (!isBinary(source)) throw new Error('sampler.load: pass a path or an ArrayBuffer');
          const bytesB64 = bytesToB64(await toBytes(source));
          return call('sampler.load', { name: String(name), bytesB64 });
        },
        play: (name, opts) => call('sampler.play', { name: String(name), ...opts }).then((ans) => {
          const id = ans ? ans.id : undefined;
          return {
            id,
            set: (patch) => call('sampler.set', { id, ...patch }),
            stop: () => call('sampler.stop', { id }),
          };
        }),
        stopAll: () => call('sampler.stopAll'),
        master: (v) => call('sampler.master', { value: v }),
        unload: (name) => call('sampler.unload', { name }),
      },
    },

    audioTap: {
      start: (opts) => call('audioTap.start', opts).then((ans) => {
        watchStarted('audioTap: ', ans);
        return true;
      }),
      stop: () => call('audioTap.stop'),
      on: (fn) => api.on('audio-tap', fn),
    },

    macos: {
      applescript: (source) => call('macos.applescript', { source }),
      quickLook: (paths) => call('macos.quickLook', { paths }),
      ocr: (path) => call('macos.ocr', { path }),
      recorder: {
        start: (opts) => call('macos.recorder.start', opts || {}),
        stop: () => call('macos.recorder.stop'),
      },
      ai: {
        availability: () => call('macos.ai.availability'),
        generate(prompt, opts) {
          const o = opts || {};
          if (o.tools) {
            console.warn('quib.macos.ai.generate: `tools` only works from the backend ' +
              '(app.macos.ai.generate) — ignored here');
          }
          return call('macos.ai.generate', { prompt, instructions: o.instructions });
        },
      },
      selectedText: () => call('macos.selectedText'),
      otherWindows: () => call('macos.otherWindows'),
      moveWindow: (pid, rect) => call('macos.moveWindow', { pid, ...rect }),
    },

    app: {
      info: () => call('app.info'),
      update: {
        check: () => call('update.check'),
        install: () => call('update.install'),
      },
      keystroke: (combo) => call('app.keystroke', { combo }),
      paste: () => call('app.paste'),
      permissions: {
        check: (name) => call('perm.check', { name }),
        request: (name) => call('perm.request', { name }),
      },
      mousePosition: () => call('app.mouse'),
      mouseTracking: {
        start: () => call('app.mouseTracking.start').then((ans) => {
          watchStarted('mouseTracking: ', ans);
          return { ok: true };
        }),
        stop: () => call('app.mouseTracking.stop'),
      },
      screens: () => call('app.screens'),
      foregroundScreen: () => call('app.foregroundScreen'),
      paths: () => call('app.paths'),
      screenAt: (x, y) => call('app.screenAt', { x, y }),
      screenFor: (rect) => call('app.screenFor', { rect }),
      matchScreen: (saved) => call('app.matchScreen', { saved }),
      setAsDefaultHandler: (ext) => call('app.setAsDefaultHandler', { ext }),
      shell: {
        open: (target) => call('shell.open', { target }),
        reveal: (path) => call('shell.reveal', { path }),
        trash: (path) => call('shell.trash', { path }),
      },
      launchAtLogin: {
        get: () => call('login.get'),
        set: (enabled) => call('login.set', { enabled }),
      },
      badge: (text) => call('app.badge', { text }),
      attention: (opts) => call('app.attention', opts || {}),
      icon: (path) => call('app.icon', { path }),
      progress: (value) => call('app.progress', { value }),
      presence: (mode) => call('app.presence', { mode }),
      power: {
        preventSleep: (reason, opts) => call('power.prevent', { reason, ...opts }),
        allowSleep: () => call('power.allow'),
      },
      frontmostApp: () => call('app.frontmost'),
      spotlight: (query) => call('app.spotlight', { query }),
      beep: () => call('sound.play', {}),
      playSound: (target) => call('sound.play', { target }),
      captureScreen: (screenId) => call('app.captureScreen', { screenId }),
      pickColor: () => call('app.pickColor'),
      thumbnail: (path, size) => call('app.thumbnail', { path, size }),
      secrets: {
        get: (key) => call('secrets.get', { key }),
        set: (key, value) => call('secrets.set', { key, value }),
        delete: (key) => call('secrets.delete', { key }),
      },
      authenticate: (reason) => call('app.authenticate', { reason }),
      nowPlaying: {
        set: (info) => call('nowplaying.set', info || {}),
        clear: () => call('nowplaying.clear'),
      },
      say: (text, opts) => call('app.say', { text, ...opts }),
      stopSpeaking: () => call('app.stopSpeaking'),
      voices: () => call('app.voices'),
      onOpenUrl: (fn) => api.on('open-url', (d) => fn(d.url)),
      onOpenFiles: (fn) => api.on('open-files', (d) => fn(d.paths)),
      onNotificationClick: (fn) => api.on('notification-click', (d) => fn(d.id)),
      onNotificationAction: (fn) => api.on('notification-action', fn),
      onScreensChanged: (fn) => api.on('screens-changed', fn),
      onMediaKey: (fn) => api.on('media-key', fn),
    },
  };

  // ---------------------------------------------------------------- capabilities

  // path -> {calls, events}: what a function needs from the backend to work.
  const capUses = new Map();
  let capVerdicts = null; // {calls, events} of the latest answer; null until one came
  let capWorking = [];

  function capBuild() {
    const direct = new Map(); // path -> {calls, events, refs}
    const fixed = { fetch: ['fetch'], proxyURL: ['media.proxy'] };
    const walk = (obj, prefix, seen) => {
      if (seen.has(obj)) return;
      seen.add(obj);
      for (const key of Object.keys(obj)) {
        const path = prefix + key;
        if (path === 'capabilities') continue;
        const d = Object.getOwnPropertyDescriptor(obj, key);
        if (!d || !('value' in d)) continue; // getters such as win.id
        const v = d.value;
        if (typeof v === 'function') {
          direct.set(path, scan(path, v, fixed));
        } else if (isObj(v)) {
          walk(v, path + '.', seen);
        }
      }
    };
    walk(window.quib, '', new Set());

    const uniq = (list) => Array.from(new Set(list));
    for (const path of direct.keys()) {
      const calls = [];
      const events = [];
      const visited = new Set([path]);
      const stack = [path];
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
      capUses.set(path, { calls: uniq(calls), events: uniq(events) });
    }
  }

  function scan(path, fn, fixed) {
    if (fixed[path]) return { calls: fixed[path].slice(), events: [], refs: [] };
    const src = Function.prototype.toString.call(fn);
    const grab = (re) => Array.from(src.matchAll(re), (m) => m[1]);
    return {
      calls: grab(/\bcall\(\s*['"]([^'"]+)['"]/g),
      events: grab(/\bapi\.on\(\s*['"]([^'"]+)['"]/g),
      refs: grab(/\bwindow\.quib\.([A-Za-z0-9_$.]+)\s*\(/g),
    };
  }

  const verdictOf = (kind, name) => {
    const map = capVerdicts && capVerdicts[kind];
    return isObj(map) && Object.prototype.hasOwnProperty.call(map, name) ? map[name] : undefined;
  };

  function failing(path) {
    const rec = capUses.get(path);
    const out = [];
    for (const m of rec.calls) { const v = verdictOf('calls', m); if (v !== true) out.push(v); }
    for (const e of rec.events) { const v = verdictOf('events', e); if (v !== true) out.push(v); }
    return out;
  }

  // Nothing works before the first answer, so can(), list() and get() agree.
  const works = (path) => capVerdicts !== null && capUses.has(path) && failing(path).length === 0;
  const capPaths = () => Array.from(capUses.keys()).sort();

  function capFetch() {
    const calls = [];
    const events = [];
    for (const rec of capUses.values()) {
      for (const m of rec.calls) if (!calls.includes(m)) calls.push(m);
      for (const e of rec.events) if (!events.includes(e)) events.push(e);
    }
    return call('client.capabilities', { calls, events }).then((ans) => {
      const a = isObj(ans) ? ans : {};
      capVerdicts = { calls: isObj(a.calls) ? a.calls : {}, events: isObj(a.events) ? a.events : {} };
      const before = capWorking;
      capWorking = capPaths().filter(works);
      const added = capWorking.filter((p) => !before.includes(p));
      const removed = before.filter((p) => !capWorking.includes(p));
      if (added.length || removed.length) {
        window.__emit({ event: 'capabilities-change', data: { added, removed } });
      }
    }, () => {});
  }

  const stripQuib = (path) => {
    const p = String(path);
    return p.startsWith('quib.') ? p.slice(5) : p;
  };
  const wildcard = (p) => (p.endsWith('.*') ? p.slice(0, -1) : null);

  function capGet(path) {
    if (!capUses.has(path)) return { ok: false, why: 'unknown' };
    if (capVerdicts === null) return { ok: false, why: 'pending' };
    const bad = failing(path);
    if (!bad.length) return { ok: true };
    const gated = bad.filter((v) => !isObj(v) || v.why === 'gate');
    if (gated.length) {
      const needs = [];
      for (const v of gated) {
        const n = isObj(v) ? v.needs : undefined;
        for (const x of Array.isArray(n) ? n : [n]) {
          if (x !== undefined && x !== null && x !== '' && !needs.includes(x)) needs.push(x);
        }
      }
      return { ok: false, why: 'gate', needs };
    }
    return { ok: false, why: bad[0].why, feature: bad[0].feature };
  }

  quib.capabilities = {
    ready: null,
    list: () => capWorking.slice(),
    can(path) {
      const p = stripQuib(path);
      const pre = wildcard(p);
      if (pre === null) return works(p);
      return capPaths().some((q) => q.startsWith(pre) && works(q));
    },
    get(path) {
      const p = stripQuib(path);
      const pre = wildcard(p);
      if (pre === null) return capGet(p);
      const under = capPaths().filter((q) => q.startsWith(pre));
      const pick = under.find(works) || under[0] || pre.slice(0, -1);
      return capGet(pick);
    },
    refresh: () => capFetch(),
    onChange: (fn) => api.on('capabilities-change', fn),
  };

  window.quib = quib;

  // ---------------------------------------------------------------- sampler host

  // Driven by the backend through evaluated script; pages use quib.audio.sampler.
  window.__quibSampler = (() => {
    const GLIDE = 0.005;
    const FADE = 0.05;
    const MAX_VOICES = 32;
    let ac = null;
    let masterGain = null;
    let smval = 1;
    let vseq = 0;
    const buffers = new Map();
    const voices = new Map(); // id -> sounding voice
    const fading = new Set(); // voices on their way out; they no longer count

    function ctx() {
      if (!ac) {
        const AC = window.AudioContext || window.webkitAudioContext;
        ac = new AC();
        masterGain = ac.createGain();
        masterGain.gain.value = smval;
        masterGain.connect(ac.destination);
      }
      if (ac.state === 'suspended') {
        try {
          const p = ac.resume();
          if (p && p.catch) p.catch(() => {});
        } catch (e) { /* resumes on a later use */ }
      }
      return ac;
    }

    function release(v) {
      if (voices.get(v.id) === v) voices.delete(v.id);
      fading.delete(v);
      for (const n of [v.src, v.gain, v.pan]) { try { n.disconnect(); } catch (e) { /* gone */ } }
    }

    function fadeOut(v) {
      if (voices.get(v.id) === v) voices.delete(v.id);
      fading.add(v);
      const t = ac.currentTime;
      v.gain.gain.setTargetAtTime(0, t, GLIDE);
      try { v.src.stop(t + FADE); } catch (e) { release(v); }
    }

    function cut(v) {
      try { v.src.stop(); } catch (e) { /* already stopped */ }
      release(v);
    }

    function decode(c, data) {
      return new Promise((resolve, reject) => {
        const p = c.decodeAudioData(data, resolve, reject);
        if (p && typeof p.then === 'function') p.then(resolve, reject);
      });
    }

    const result = (params) => call('sampler.hostResult', params).catch(() => {});

    return {
      async load(name, path) {
        try {
          const c = ctx();
          let data;
          try {
            const r = await window.fetch(window.quib.fileURL(path));
            if (!r.ok) throw new Error('http ' + r.status);
            data = await r.arrayBuffer();
          } catch (e) {
            const ans = await call('sampler.bytes', { name });
            data = b64ToBytes(ans && ans.b64).buffer;
          }
          buffers.set(name, await decode(c, data));
          result({ name, ok: true });
        } catch (err) {
          result({ name, ok: false, error: (err && err.message) || String(err) });
        }
      },

      play(id, name, vol, pan, rate, loop) {
        const c = ctx();
        const buf = buffers.get(name);
        if (!buf) return;
        // An id played again replaces its voice; the old one must not linger unstoppable.
        const same = voices.get(id);
        if (same) fadeOut(same);
        if (voices.size >= MAX_VOICES) {
          let oldest = null;
          for (const v of voices.values()) if (!oldest || v.seq < oldest.seq) oldest = v;
          fadeOut(oldest);
        }
        const src = c.createBufferSource();
        src.buffer = buf;
        src.playbackRate.value = num(rate, 1);
        src.loop = !!loop;
        const gain = c.createGain();
        gain.gain.value = num(vol, 1);
        const panner = c.createStereoPanner();
        panner.pan.value = num(pan, 0);
        src.connect(gain);
        gain.connect(panner);
        panner.connect(masterGain);
        const v = { id, name, src, gain, pan: panner, seq: ++vseq };
        src.onended = () => release(v);
        voices.set(id, v);
        src.start();
      },

      set(id, vol, pan, rate) {
        ctx();
        const v = voices.get(id);
        if (!v) return;
        const t = ac.currentTime;
        if (vol !== null && vol !== undefined) v.gain.gain.setTargetAtTime(vol, t, GLIDE);
        if (pan !== null && pan !== undefined) v.pan.pan.setTargetAtTime(pan, t, GLIDE);
        if (rate !== null && rate !== undefined) v.src.playbackRate.value = rate;
      },

      stop(id) {
        ctx();
        const v = voices.get(id);
        if (v) fadeOut(v);
      },

      stopAll() {
        ctx();
        for (const v of Array.from(voices.values())) fadeOut(v);
      },

      master(v) {
        smval = v;
        ctx();
        masterGain.gain.setTargetAtTime(v, ac.currentTime, GLIDE);
      },

      unload(name) {
        ctx();
        buffers.delete(name);
        for (const v of [...voices.values(), ...fading]) if (v.name === name) cut(v);
      },
    };
  })();

  // ---------------------------------------------------------------- start of the page

  call('client.hello').catch(() => {});
  capBuild();
  quib.capabilities.ready = capFetch();

  // Drag regions for frameless windows.
  const NO_DRAG = 'button, a, input, textarea, select, [contenteditable], [data-quib-nodrag]';
  window.addEventListener('mousedown', (e) => {
    if (e.button !== 0) return;
    const t = e.target;
    if (!t || typeof t.closest !== 'function') return;
    if (!t.closest('[data-quib-drag]') || t.closest(NO_DRAG)) return;
    if (e.detail === 2) call('win.zoom');
    else call('win.startDrag');
  });

  // Resize grips: only for hosts that say whether the window is frameless.
  if (typeof window.__QUIB_FRAMELESS === 'boolean') {
    const GRIPS = [
      ['nw', 'top:0;left:0;width:5px;height:5px;cursor:nwse-resize'],
      ['ne', 'top:0;right:0;width:5px;height:5px;cursor:nesw-resize'],
      ['sw', 'bottom:0;left:0;width:5px;height:5px;cursor:nesw-resize'],
      ['se', 'bottom:0;right:0;width:5px;height:5px;cursor:nwse-resize'],
      ['n', 'top:0;left:5px;right:5px;height:5px;cursor:ns-resize'],
      ['s', 'bottom:0;left:5px;right:5px;height:5px;cursor:ns-resize'],
      ['w', 'left:0;top:5px;bottom:5px;width:5px;cursor:ew-resize'],
      ['e', 'right:0;top:5px;bottom:5px;width:5px;cursor:ew-resize'],
    ];
    const addGrips = () => {
      const root = document.documentElement;
      const body = document.body;
      if (document.getElementById('__quibGrips')) return;
      if ((root && root.hasAttribute('data-quib-noresize')) ||
          (body && body.hasAttribute('data-quib-noresize'))) return;
      const box = document.createElement('div');
      box.id = '__quibGrips';
      box.style.cssText = 'position:fixed;inset:0;z-index:2147483647;pointer-events:none';
      for (const [edge, css] of GRIPS) {
        const strip = document.createElement('div');
        strip.style.cssText = 'position:absolute;pointer-events:auto;' + css;
        strip.addEventListener('mousedown', (e) => {
          if (e.button !== 0) return;
          e.preventDefault();
          e.stopPropagation();
          call('win.startResize', { edge });
        });
        box.appendChild(strip);
      }
      body.appendChild(box);
    };
    call('win.getState').then((st) => {
      if (!isObj(st) || !isObj(st.chrome) || st.chrome.frame !== false || st.resizable === false) return;
      if (document.body) addGrips();
      else document.addEventListener('DOMContentLoaded', addGrips, { once: true });
    }).catch(() => {});
  }
})();
