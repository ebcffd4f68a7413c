'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { load, plain } = require('./harness');

const METHODS = `fetch fetch.pull fetch.cancel log quit notify client.hello client.capabilities theme.get sound.play
system.info system.capabilities system.locale system.battery system.wifi system.idleTime system.requirements
dialog.openFile dialog.openFiles dialog.pickFolder dialog.saveFile dialog.alert dialog.confirm dialog.prompt
clip.read clip.changeCount clip.unwatch clip.write clip.watch
win.open win.close win.windows win.setTitle win.setSize win.hide win.show win.center win.minimize win.fullscreen
win.ensureOnScreen win.restore win.getState win.zoom win.print win.stopFind win.setAlwaysOnTop win.setResizable
win.setClickThrough win.setAllSpaces win.setHideOnClose win.setMinSize win.setZoom win.setLevel win.setPosition
win.setFullscreen win.setChrome win.startDrag win.startResize win.dragOut win.printToPDF win.find win.share
win.menu.set win.menu.reset win.menu.update win.menu.get
menu.set menu.update menu.get menu.setContext store.get store.delete store.set store.all hotkey.register hotkey.unregister
audio.filters audio.filterSet audio.balance sampler.load sampler.play sampler.set sampler.stop sampler.stopAll
sampler.master sampler.unload sampler.bytes sampler.hostResult audioTap.start audioTap.stop
macos.applescript macos.quickLook macos.ocr macos.recorder.start macos.recorder.stop macos.ai.availability
macos.ai.generate macos.selectedText macos.otherWindows macos.moveWindow
app.info app.keystroke app.paste app.mouse app.mouseTracking.start app.mouseTracking.stop app.screens
app.foregroundScreen app.paths app.screenAt app.screenFor app.matchScreen app.setAsDefaultHandler app.badge
app.attention app.icon app.progress app.presence app.frontmost app.spotlight app.captureScreen app.pickColor
app.thumbnail app.authenticate app.say app.stopSpeaking app.voices
update.check update.install perm.check perm.request shell.open shell.reveal shell.trash login.get login.set
power.prevent power.allow secrets.get secrets.set secrets.delete nowplaying.set nowplaying.clear
tray.set tray.remove tray.position`.split(/\s+/);

test('the list holds 146 distinct names', () => assert.equal(new Set(METHODS).size, 146));

test('every method is sent by some function, and nothing else is', async () => {
  const replies = {
    'system.requirements': [{ ok: false, feature: 'F', detail: 'D', install: { command: 'apt install p', packages: ['p'] } }],
    'dialog.confirm': true, 'sampler.play': { id: 'v1' }, fetch: { status: 200 },
    'fetch.pull': { bodyB64: 'QQ==' }, 'sampler.bytes': { b64: 'AAAA' },
  };
  const h = load({ reply: (m) => [true, m in replies ? replies[m] : { ok: true }] });
  const walk = (obj, prefix) => {
    for (const [k, v] of Object.entries(obj)) {
      if (prefix + k === 'api.call') continue; // sends whatever it is given
      if (typeof v === 'function') {
        try { Promise.resolve(v('x', 'y', 'z')).catch(() => {}); } catch (e) { /* needs real arguments */ }
      } else if (v && typeof v === 'object') walk(v, prefix + k + '.');
    }
  };
  walk(h.quib, '');
  h.quib.win.startDrag({ files: ['/a'] });
  h.quib.dialog.prompt('m'); // a string is no valid prompt option
  const voice = await h.quib.audio.sampler.play('kick');
  voice.set({ vol: 1 }); voice.stop();
  const res = await h.quib.fetch('http://x/', { stream: true });
  await h.tick();
  await res.body.cancel();
  await h.window.__quibSampler.load('kick', '/s.wav');
  await h.tick();
  assert.deepEqual([...new Set(h.sent.map((e) => e.method))].sort(), [...METHODS].sort());
});

test('capability query names every method a page function can send', () => {
  const h = load();
  const own = ['client.hello', 'client.capabilities', 'sampler.bytes', 'sampler.hostResult', 'fetch.pull', 'fetch.cancel'];
  const asked = h.last('client.capabilities').params;
  assert.deepEqual([...asked.calls].sort(), [...METHODS.filter((m) => !own.includes(m)), 'media.proxy'].sort());
  assert.equal(asked.events.length, 16);
});

test('payload texts', () => {
  const h = load();
  const cases = [
    [() => h.quib.quit(), '{"method":"quit"}'],
    [() => h.quib.win.close(), '{"method":"win.close","params":{}}'],
    [() => h.quib.win.close('w2'), '{"method":"win.close","params":{"id":"w2"}}'],
    [() => h.quib.log('hi'), '{"method":"log","params":{"msg":"hi"}}'],
    [() => h.quib.win.setSize(300, 200), '{"method":"win.setSize","params":{"width":300,"height":200}}'],
    [() => h.quib.win.setPosition(1, 2, { screen: { id: 7 } }), '{"method":"win.setPosition","params":{"x":1,"y":2,"screen":7}}'],
    [() => h.quib.win.setFullscreen(true, { screen: 3 }), '{"method":"win.setFullscreen","params":{"enabled":true,"screen":3}}'],
    [() => h.quib.win.find('a'), '{"method":"win.find","params":{"term":"a","forward":true,"matchCase":false}}'],
    [() => h.quib.win.hide(), '{"method":"win.hide","params":{}}'],
    [() => h.quib.win.startDrag(), '{"method":"win.startDrag"}'],
    [() => h.quib.win.menu.update('m', { enabled: false }), '{"method":"win.menu.update","params":{"id":"m","enabled":false}}'],
    [() => h.quib.notify('t', 'b', { sound: true }), '{"method":"notify","params":{"title":"t","body":"b","sound":true}}'],
    [() => h.quib.app.beep(), '{"method":"sound.play","params":{}}'],
    [() => h.quib.app.power.preventSleep('r', { display: true }), '{"method":"power.prevent","params":{"reason":"r","display":true}}'],
    [() => h.quib.audio.filters(), '{"method":"audio.filters","params":{"filters":[]}}'],
    [() => h.quib.audio.filter(2), '{"method":"audio.filterSet","params":{"index":2,"filter":{}}}'],
    [() => h.quib.system.requirements(null, { refresh: 1 }), '{"method":"system.requirements","params":{"ids":null,"refresh":true}}'],
    [() => h.quib.clipboard.watch(), '{"method":"clip.watch","params":{}}'],
  ];
  for (const [fn, text] of cases) {
    fn();
    assert.equal(h.sent.at(-1).text, text);
  }
});

test('dialog options', async () => {
  const h = load();
  const prefix = 'quib.dialog.';
  const bad = [
    [() => h.quib.dialog.prompt('m', 'x'), prefix + 'prompt(message, opts): opts must be an object, got string'],
    [() => h.quib.dialog.confirm('m', []), prefix + 'confirm(message, opts): opts must be an object or a detail string, got an array'],
    [() => h.quib.dialog.alert('m', 5), prefix + 'alert(message, opts): opts must be an object or a detail string, got number'],
  ];
  for (const [fn, message] of bad) {
    await assert.rejects(fn(), (e) => e.name === 'TypeError' && e.message === message);
  }
  assert.equal(h.calls().length, 0, 'nothing is sent for invalid options');
  h.quib.dialog.confirm('Sure?', 'It cannot be undone');
  h.quib.dialog.prompt('Name', { default: 'x' });
  h.quib.dialog.alert('Hi', null);
  assert.deepEqual(h.calls().map((e) => e.params), [
    { message: 'Sure?', detail: 'It cannot be undone' }, { message: 'Name', default: 'x' }, { message: 'Hi' }]);
});

test('watch starts that fail reject with an Error carrying the code', async () => {
  const cases = [
    [(q) => q.audioTap.start({ scope: 'system' }), 'audioTap.start', { ok: false, code: 'denied' }, 'audioTap: denied', 'denied'],
    [(q) => q.audioTap.start(), 'audioTap.start', null, 'audioTap: failed', 'failed'],
    [(q) => q.app.mouseTracking.start(), 'app.mouseTracking.start', { ok: false, message: 'No access', code: 'perm' }, 'No access', 'perm'],
  ];
  for (const [start, method, answer, message, code] of cases) {
    const h = load({ reply: (m) => (m === method ? [true, answer] : undefined) });
    await assert.rejects(start(h.quib), (e) => e.constructor.name === 'Error' && e.message === message && e.code === code);
  }
  const h = load({ reply: () => [true, { ok: true }] });
  assert.equal(await h.quib.audioTap.start(), true);
  assert.deepEqual(plain(await h.quib.app.mouseTracking.start()), { ok: true });
});

test('sampler.load sends a path or the bytes, and rejects anything else before sending', async () => {
  const h = load();
  h.quib.audio.sampler.load(1, '/a.wav');
  await h.tick();
  h.quib.audio.sampler.load('b', new Uint8Array([1, 2, 3]).subarray(1));
  await h.tick();
  assert.deepEqual(h.calls().map((e) => e.params), [{ name: '1', path: '/a.wav' }, { name: 'b', bytesB64: 'AgM=' }]);
  await assert.rejects(h.quib.audio.sampler.load('c', 42), { message: 'sampler.load: pass a path or an ArrayBuffer' });
  assert.equal(h.calls().length, 2);
});

test('ai.generate warns about tools and leaves them out', () => {
  const h = load();
  h.quib.macos.ai.generate('p', { tools: [{}], instructions: 'i' });
  assert.deepEqual(h.last('macos.ai.generate').params, { prompt: 'p', instructions: 'i' });
  assert.match(h.warnings[0], /`tools` only works from the backend/);
});
