// Page client library: window.quib, window.__emit and the sample-mixer host.
// Runs once per document, right after the bridge shim, before the page's own scripts.
(() => {
  'use strict';

  // Every API function maps onto this. Keep calls in the form call('<method>', ...)
  // inside the API functions: the capability table is read from those literals
  // (CAP_TABLE below).
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

  // What each function needs from the backend to work, derived from the sources of
  // the API functions by tests/js/cap_table.js, so that no page scans them as it
  // loads: every method and every event the API uses, and one word per function,
  // "<path>|<methods>|<events>". After changing the API run
  // `node tests/js/cap_table.js --write`; tests/js fail while these lists are stale.
  const CAP_CALLS = `
    fetch log quit notify media.proxy system.info system.capabilities system.locale system.battery
    system.wifi system.idleTime system.requirements dialog.alert dialog.confirm clip.write
    dialog.openFile dialog.openFiles dialog.pickFolder dialog.saveFile dialog.prompt theme.get
    win.open win.close win.windows win.setTitle win.setSize win.hide win.show win.center
    win.minimize win.fullscreen win.ensureOnScreen win.restore win.getState win.zoom win.print
    win.stopFind win.setAlwaysOnTop win.setResizable win.setClickThrough win.setAllSpaces
    win.setHideOnClose win.setMinSize win.setZoom win.setLevel win.setPosition win.setFullscreen
    win.setChrome win.dragOut win.startDrag win.startResize win.printToPDF win.find win.share
    win.menu.set win.menu.reset win.menu.update win.menu.get menu.set menu.update menu.get
    menu.setContext store.get store.set store.delete store.all hotkey.register hotkey.unregister
    tray.set tray.remove tray.position clip.read clip.changeCount clip.watch clip.unwatch
    audio.filters audio.filterSet audio.balance sampler.load sampler.play sampler.set sampler.stop
    sampler.stopAll sampler.master sampler.unload audioTap.start audioTap.stop macos.applescript
    macos.quickLook macos.ocr macos.recorder.start macos.recorder.stop macos.ai.availability
    macos.ai.generate macos.selectedText macos.otherWindows macos.moveWindow app.info update.check
    update.install app.keystroke app.paste perm.check perm.request app.mouse app.mouseTracking.start
    app.mouseTracking.stop app.screens app.foregroundScreen app.paths app.screenAt app.screenFor
    app.matchScreen app.setAsDefaultHandler shell.open shell.reveal shell.trash login.get login.set
    app.badge app.attention app.icon app.progress app.presence power.prevent power.allow
    app.frontmost app.spotlight sound.play app.captureScreen app.pickColor app.thumbnail secrets.get
    secrets.set secrets.delete app.authenticate nowplaying.set nowplaying.clear app.say
    app.stopSpeaking app.voices
  `;
  const CAP_EVENTS = `
    theme window-state drop menu contextmenu hotkey tray trayclick clipboard-change audio-tap
    open-url open-files notification-click notification-action screens-changed media-key
  `;
  const CAP_TABLE = `
    api.call|| api.on|| api.off|| fetch|fetch| log|log| quit|quit| notify|notify|
    proxyURL|media.proxy| fileURL|| system.info|system.info| system.architecture|system.info|
    system.capabilities|system.capabilities| system.locale|system.locale|
    system.battery|system.battery| system.wifi|system.wifi| system.idleTime|system.idleTime|
    system.requirements|system.requirements| system.missing|system.requirements|
    system.promptMissing|system.requirements,dialog.alert,dialog.confirm,clip.write| system.os||
    system.isMacOS|| system.isWindows|| system.isLinux|| dialog.openFile|dialog.openFile|
    dialog.openFiles|dialog.openFiles| dialog.pickFolder|dialog.pickFolder|
    dialog.saveFile|dialog.saveFile| dialog.alert|dialog.alert| dialog.confirm|dialog.confirm|
    dialog.prompt|dialog.prompt| theme.get|theme.get| theme.on||theme win.open|win.open|
    win.close|win.close| win.windows|win.windows| win.setTitle|win.setTitle|
    win.setSize|win.setSize| win.hide|win.hide| win.show|win.show| win.center|win.center|
    win.minimize|win.minimize| win.fullscreen|win.fullscreen| win.ensureOnScreen|win.ensureOnScreen|
    win.restore|win.restore| win.getState|win.getState| win.zoom|win.zoom| win.print|win.print|
    win.stopFind|win.stopFind| win.setAlwaysOnTop|win.setAlwaysOnTop|
    win.setResizable|win.setResizable| win.setClickThrough|win.setClickThrough|
    win.setAllSpaces|win.setAllSpaces| win.setHideOnClose|win.setHideOnClose|
    win.setMinSize|win.setMinSize| win.setZoom|win.setZoom| win.setLevel|win.setLevel|
    win.setPosition|win.setPosition| win.setFullscreen|win.setFullscreen|
    win.setChrome|win.setChrome| win.startDrag|win.dragOut,win.startDrag|
    win.startResize|win.startResize| win.dragOut|win.dragOut| win.printToPDF|win.printToPDF|
    win.find|win.find| win.share|win.share| win.menu.set|win.menu.set|
    win.menu.reset|win.menu.reset| win.menu.update|win.menu.update| win.menu.get|win.menu.get|
    win.onState||window-state win.onDrop||drop menu.set|menu.set| menu.update|menu.update|
    menu.get|menu.get| menu.setContext|menu.setContext| menu.on||menu menu.onContext||contextmenu
    store.get|store.get| store.set|store.set| store.delete|store.delete| store.all|store.all|
    hotkey.register|hotkey.register| hotkey.unregister|hotkey.unregister| hotkey.on||hotkey
    tray.set|tray.set| tray.remove|tray.remove| tray.position|tray.position| tray.on||tray
    tray.onClick||trayclick clipboard.read|clip.read| clipboard.write|clip.write|
    clipboard.changeCount|clip.changeCount| clipboard.watch|clip.watch|
    clipboard.unwatch|clip.unwatch| clipboard.onChange|clip.watch|clipboard-change
    audio.filters|audio.filters| audio.filter|audio.filterSet| audio.balance|audio.balance|
    audio.clear|audio.balance,audio.filters| audio.pageChain|| audio.sampler.load|sampler.load|
    audio.sampler.play|sampler.play,sampler.set,sampler.stop| audio.sampler.stopAll|sampler.stopAll|
    audio.sampler.master|sampler.master| audio.sampler.unload|sampler.unload|
    audioTap.start|audioTap.start| audioTap.stop|audioTap.stop| audioTap.on||audio-tap
    macos.applescript|macos.applescript| macos.quickLook|macos.quickLook| macos.ocr|macos.ocr|
    macos.recorder.start|macos.recorder.start| macos.recorder.stop|macos.recorder.stop|
    macos.ai.availability|macos.ai.availability| macos.ai.generate|macos.ai.generate|
    macos.selectedText|macos.selectedText| macos.otherWindows|macos.otherWindows|
    macos.moveWindow|macos.moveWindow| app.info|app.info| app.update.check|update.check|
    app.update.install|update.install| app.keystroke|app.keystroke| app.paste|app.paste|
    app.permissions.check|perm.check| app.permissions.request|perm.request|
    app.mousePosition|app.mouse| app.mouseTracking.start|app.mouseTracking.start|
    app.mouseTracking.stop|app.mouseTracking.stop| app.screens|app.screens|
    app.foregroundScreen|app.foregroundScreen| app.paths|app.paths| app.screenAt|app.screenAt|
    app.screenFor|app.screenFor| app.matchScreen|app.matchScreen|
    app.setAsDefaultHandler|app.setAsDefaultHandler| app.shell.open|shell.open|
    app.shell.reveal|shell.reveal| app.shell.trash|shell.trash| app.launchAtLogin.get|login.get|
    app.launchAtLogin.set|login.set| app.badge|app.badge| app.attention|app.attention|
    app.icon|app.icon| app.progress|app.progress| app.presence|app.presence|
    app.power.preventSleep|power.prevent| app.power.allowSleep|power.allow|
    app.frontmostApp|app.frontmost| app.spotlight|app.spotlight| app.beep|sound.play|
    app.playSound|sound.play| app.captureScreen|app.captureScreen| app.pickColor|app.pickColor|
    app.thumbnail|app.thumbnail| app.secrets.get|secrets.get| app.secrets.set|secrets.set|
    app.secrets.delete|secrets.delete| app.authenticate|app.authenticate|
    app.nowPlaying.set|nowplaying.set| app.nowPlaying.clear|nowplaying.clear| app.say|app.say|
    app.stopSpeaking|app.stopSpeaking| app.voices|app.voices| app.onOpenUrl||open-url
    app.onOpenFiles||open-files app.onNotificationClick||notification-click
    app.onNotificationAction||notification-action app.onScreensChanged||screens-changed
    app.onMediaKey||media-key
  `;
  const words = (text) => text.split(/\s+/).filter((w) => w !== '');

  let capTable = null; // path -> {calls, events}, read from CAP_TABLE on first use
  let capVerdicts = null; // {calls, events} of the latest answer; null until one came
  let capWorking = [];

  function capUses() {
    if (!capTable) {
      capTable = new Map();
      for (const entry of words(CAP_TABLE)) {
        const [path, calls, events] = entry.split('|');
        capTable.set(path, { calls: calls ? calls.split(',') : [], events: events ? events.split(',') : [] });
      }
    }
    return capTable;
  }

  const verdictOf = (kind, name) => {
    const map = capVerdicts && capVerdicts[kind];
    return isObj(map) && Object.prototype.hasOwnProperty.call(map, name) ? map[name] : undefined;
  };

  function failing(path) {
    const rec = capUses().get(path);
    const out = [];
    for (const m of rec.calls) { const v = verdictOf('calls', m); if (v !== true) out.push(v); }
    for (const e of rec.events) { const v = verdictOf('events', e); if (v !== true) out.push(v); }
    return out;
  }

  // Nothing works before the first answer, so can(), list() and get() agree.
  const works = (path) => capVerdicts !== null && capUses().has(path) && failing(path).length === 0;
  const capPaths = () => Array.from(capUses().keys()).sort();

  function capFetch() {
    return call('client.capabilities', { calls: words(CAP_CALLS), events: words(CAP_EVENTS) }).then((ans) => {
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
    if (!capUses().has(path)) return { ok: false, why: 'unknown' };
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
