'use strict';
// The audio tap and the equalizer against a private PulseAudio server with a null
// output: sound played into it arrives in AUDIOTAP events at its frequency, the
// application's own sound (a page's oscillator, played by a web process) is told
// apart from other programs', and the equalizer cuts a band of it.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { spawn } = require('node:child_process');
const h = require('./harness');

const skip = h.needs([['pulseaudio', 'pulseaudio'], ['pacat', 'pulseaudio-utils'], ['pactl', 'pulseaudio-utils']]);
const RATE = 48000;
const QUIET = 0.0005;  // below this a sample counts as silence (a -30 dB cut stays above it)

let asked = 0;
async function request(b, line) {
  const id = 'a' + (++asked);
  b.send(line.replace('$ID', id));
  return b.answer(id);
}
const get = (b, key) => request(b, `GET $ID ${key}`);

// The left channel of every AUDIOTAP event from line index `from` on.
function tapped(b, from) {
  const left = [];
  const events = [];
  for (let i = from; i < b.lines.length; i++) {
    const l = b.lines[i];
    if (!l.startsWith('AUDIOTAP ')) continue;
    const [b64, rate, ch, frames, t0] = l.slice(9).split('\t');
    const pcm = Buffer.from(b64, 'base64');
    events.push({ rate: +rate, ch: +ch, frames: +frames, t0: +t0, bytes: pcm.length });
    for (let k = 0; k + 1 < pcm.length; k += 2 * +ch) left.push(pcm.readInt16LE(k) / 32767);
  }
  return { left, events };
}

// Waits for `seconds` of sound (non-silent samples) in the tap's events.
async function sound(b, from, seconds) {
  return h.until(() => {
    const t = tapped(b, from);
    const loud = t.left.filter((v) => Math.abs(v) > QUIET).length;
    return loud >= seconds * RATE ? t : null;
  }, `${seconds} s of tapped sound`, 30000);
}

// Frequency by zero crossings, and RMS, over the longest stretch of sound: a
// stream that underruns on its way leaves gaps of silence, which are not the
// tap's to fill.
function analyse(samples) {
  const GAP = 8;  // this many silent samples in a row: no sine of these levels has them
  let best = [0, 0];
  let start = -1;
  let quiet = 0;
  const close = (end) => { if (start >= 0 && end - start > best[1] - best[0]) best = [start, end]; start = -1; };
  samples.forEach((v, i) => {
    if (Math.abs(v) > QUIET) {
      if (start < 0) start = i;
      quiet = 0;
    } else if (++quiet === GAP) {
      close(i - GAP + 1);
    }
  });
  close(samples.length - quiet);
  const s = samples.slice(best[0] + 2400, best[1] - 2400);  // past fades and the filter's transient
  let crossings = 0;
  let sum = 0;
  for (let i = 1; i < s.length; i++) {
    if ((s[i - 1] < 0) !== (s[i] < 0)) crossings++;
    sum += s[i] * s[i];
  }
  return { freq: crossings / 2 / (s.length / RATE), rms: Math.sqrt(sum / s.length), n: s.length };
}

// Another program playing a sine into the default output.
function playSine(env, freq, seconds, amp = 0.5) {
  const n = Math.round(RATE * seconds);
  const buf = Buffer.alloc(n * 4);
  for (let i = 0; i < n; i++) {
    const v = Math.round(Math.sin(2 * Math.PI * freq * i / RATE) * amp * 32767);
    buf.writeInt16LE(v, i * 4);
    buf.writeInt16LE(v, i * 4 + 2);
  }
  const p = spawn('pacat', ['--playback', '--raw', '--format=s16le', `--rate=${RATE}`, '--channels=2'],
    { env: { ...process.env, ...env }, stdio: ['pipe', 'ignore', 'inherit'] });
  p.stdin.end(buf);
  return new Promise((resolve) => p.on('exit', resolve));
}

async function pactl(env, ...args) { return h.run('pactl', args, env); }

// Plays a sine again and again until the tap's events carry it; its frequency.
async function tappedSine(b, env, freq, what) {
  const t = await h.until(async () => {
    const from = b.lines.length;
    await playSine(env, freq, 0.6);
    await b.sync();
    const got = tapped(b, from);
    return got.left.filter((v) => Math.abs(v) > QUIET).length > RATE * 0.3 ? got : null;
  }, what, 30000, 200);
  return analyse(t.left).freq;
}

describe('audio', { skip }, () => {
  let pulse;
  const { x, dir, s } = h.setUp({
    dir: 'qbx-audio-',
    // A test restarts the sound server: what stops at the end is the one running then.
    more: { sound: async () => { await startPulse(); return { stop: () => h.stopGroup(pulse) }; } },
    session: () => ({ args: ['Audio'], env }),
  });
  const env = { ...h.sessionEnv(dir) };
  env.PULSE_SERVER = 'unix:' + path.join(env.XDG_RUNTIME_DIR, 'pulse', 'native');
  // The private sound server, always on the same socket.
  async function startPulse() {
    pulse = h.launch('pulseaudio', ['--daemonize=no', '--exit-idle-time=-1', '-n', '--disallow-exit',
      '--load=module-native-protocol-unix', `--load=module-null-sink sink_name=speakers rate=${RATE}`,
      `--load=module-null-sink sink_name=other rate=${RATE}`, '--log-target=stderr'],
    { env: { ...process.env, ...env }, stdio: 'ignore' });
    await h.until(() => pactl(env, 'info').then(() => true, () => false), 'the sound server');
    await pactl(env, 'set-default-sink', 'speakers');
  }

  test('the system tap hears a sine at its frequency, in int16 batches of the interval', async () => {
    const b = s.backend;
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t50'),
      { ok: true, sampleRate: RATE, channels: 2 });
    // The same settings: the same tap, one more reply.
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t50'), { ok: true, sampleRate: RATE, channels: 2 });
    const from = b.lines.length;
    const played = playSine(env, 1000, 1.5);
    const t = await sound(b, from, 1.0);
    await played;
    const a = analyse(t.left);
    assert.ok(Math.abs(a.freq - 1000) < 15, `tapped ${a.freq} Hz`);
    assert.ok(Math.abs(a.rms - 0.5 / Math.SQRT2) < 0.05, `rms ${a.rms}`);
    for (const e of t.events) {
      assert.equal(e.rate, RATE);
      assert.equal(e.ch, 2);
      assert.equal(e.bytes, e.frames * 4);
    }
    // Batches come about every 50 ms: a second of sound is some twenty of them, not one.
    assert.ok(t.events.length >= 12, `${t.events.length} batches`);
    b.send('AUDIOTAP STOP');
    await b.sync();
    const stopped = b.lines.length;
    await playSine(env, 1000, 0.3);
    await b.sync();
    assert.equal(tapped(b, stopped).events.length, 0, 'nothing is sent after a stop');
  });

  test('a change of the default output moves the tap to the new output', async () => {
    const b = s.backend;
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t40'), { ok: true, sampleRate: RATE, channels: 2 });
    await pactl(env, 'set-default-sink', 'other');
    try {
      // The rebuilt tap hears what plays on the new output.
      const freq = await tappedSine(b, env, 700, 'sound of the new output');
      assert.ok(Math.abs(freq - 700) < 15, `tapped ${freq} Hz`);
    } finally {
      await pactl(env, 'set-default-sink', 'speakers');
    }
    b.send('AUDIOTAP STOP');
  });

  test('the application tap takes the page\'s sound and the system tap can leave it out', async () => {
    const b = s.backend;
    // Nothing of the application plays yet.
    assert.deepEqual(await request(b, 'AUDIOTAP $ID app\t0\t80'), { ok: false, code: 'failed', status: 560947818 });
    b.eval(`window.__ctx = new AudioContext(); const o = __ctx.createOscillator(); o.frequency.value = 440;
      const g = __ctx.createGain(); g.gain.value = 0.3; o.connect(g).connect(__ctx.destination); o.start();
      __ctx.resume(); probe.report('playing', {state: __ctx.state});`);
    await b.expectReport('playing');
    // The page's stream comes from a web process, tagged as the host's.
    const props = await h.until(async () => {
      const out = await pactl(env, 'list', 'sink-inputs');
      return /quibex\.host = "\d+"/.test(out) ? out : null;
    }, 'the page\'s stream on the sound server');
    assert.match(props, new RegExp(`quibex\\.host = "${s.host.proc.pid}"`));

    let from = b.lines.length;
    assert.deepEqual(await request(b, 'AUDIOTAP $ID app\t0\t80'), { ok: true, sampleRate: RATE, channels: 2 });
    let a = analyse((await sound(b, from, 1.0)).left);
    assert.ok(Math.abs(a.freq - 440) < 10, `app tap heard ${a.freq} Hz`);

    // Everything but the application: another program's 1 kHz, without the page's 440 Hz.
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t1\t80'), { ok: true, sampleRate: RATE, channels: 2 });
    from = b.lines.length;
    const played = playSine(env, 1000, 1.5);
    a = analyse((await sound(b, from, 1.0)).left);
    await played;
    assert.ok(Math.abs(a.freq - 1000) < 15, `system-but-app heard ${a.freq} Hz`);
    b.send('AUDIOTAP STOP');
  });

  test('the equalizer cuts a band of the application\'s sound and puts everything back when off', async () => {
    const b = s.backend;
    b.eval(`if (!window.__ctx) throw new Error('no page sound'); probe.report('still', {state: __ctx.state});`);
    await b.expectReport('still');
    const level = async () => {
      const from = b.lines.length;
      const t = await sound(b, from, 1.0);
      return analyse(t.left);
    };
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t80'), { ok: true, sampleRate: RATE, channels: 2 });
    const before = await level();
    assert.ok(Math.abs(before.freq - 440) < 10, `before: ${before.freq} Hz`);

    assert.deepEqual(await get(b, 'audiofilters'), { available: true, state: 'off', filters: 0, heard: false });
    b.send('AUDIOFILTERS peaking,440,2,-30\tlinear,0,1,1');
    const on = await h.until(async () => {
      const st = await get(b, 'audiofilters');
      return st.state === 'active' ? st : null;
    }, 'the equalizer filtering');
    assert.deepEqual(on, { available: true, state: 'active', filters: 2, heard: true });
    const sinks = await pactl(env, 'list', 'short', 'sinks');
    assert.match(sinks, /quibex_eq_/);
    // Past the switch: the level that plays now is the filtered one.
    await h.until(async () => (await level()).rms < before.rms * 0.2, 'the band cut in the output', 30000);
    const cut = await level();
    assert.ok(Math.abs(cut.freq - 440) < 15, `cut: ${cut.freq} Hz`);

    // Another shape of list goes back to waiting and filters again at the first sound.
    b.send('AUDIOFILTERS linear,0,1,0.5');
    await h.until(async () => (await get(b, 'audiofilters')).state === 'active', 'the rebuilt equalizer');
    await h.until(async () => Math.abs((await level()).rms - before.rms * 0.5) < before.rms * 0.1,
      'half the level through a linear filter', 30000);

    // The application tap keeps hearing the page while its stream plays through the equalizer.
    assert.deepEqual(await request(b, 'AUDIOTAP $ID app\t0\t80'), { ok: true, sampleRate: RATE, channels: 2 });
    const app = await level();
    assert.ok(Math.abs(app.freq - 440) < 10, `app tap through the equalizer: ${app.freq} Hz`);
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t80'), { ok: true, sampleRate: RATE, channels: 2 });

    b.send('AUDIOFILTERS');
    assert.deepEqual(await get(b, 'audiofilters'), { available: true, state: 'off', filters: 0, heard: true });
    assert.doesNotMatch(await pactl(env, 'list', 'short', 'sinks'), /quibex_eq_/);
    await h.until(async () => Math.abs((await level()).rms - before.rms) < before.rms * 0.1, 'the full level again');
    b.send('AUDIOTAP STOP');
  });

  test('turning the equalizer off after the default output changed leaves the sound on the new output', async () => {
    const b = s.backend;
    b.eval(`if (!window.__ctx) throw new Error('no page sound'); probe.report('again', {state: __ctx.state});`);
    await b.expectReport('again');
    // Where each stream of the application plays: the page's, and one that asked for its own output.
    const placed = async () => {
      const sinks = JSON.parse(await pactl(env, '-f', 'json', 'list', 'short', 'sinks'));
      const name = (i) => (sinks.find((k) => k.index === i) || {}).name;
      const out = {};
      for (const si of JSON.parse(await pactl(env, '-f', 'json', 'list', 'sink-inputs'))) {
        if (si.properties['quibex.host'] !== String(s.host.proc.pid) || si.properties['quibex.internal']) continue;
        out[si.properties['application.name'] === 'pacat' ? 'chosen' : 'page'] = name(si.sink);
      }
      return out;
    };
    const mod = (await pactl(env, 'load-module', 'module-null-sink', 'sink_name=third', `rate=${RATE}`)).trim();
    const chosen = h.launch('pacat', ['--playback', '--raw', '--device=third', '/dev/zero'],
      { env: { ...process.env, ...env, PULSE_PROP: `quibex.host='${s.host.proc.pid}'` }, stdio: 'ignore' });
    try {
      await h.until(async () => (await placed()).chosen === 'third', 'the stream with its own output');
      b.send('AUDIOFILTERS peaking,440,2,-30');
      const first = await h.until(async () => {
        const p = await placed();
        return /^quibex_eq_/.test(p.page) && p.chosen === p.page ? p.page : null;
      }, 'both streams through the equalizer');
      await pactl(env, 'set-default-sink', 'other');
      // The equalizer rebuilds on the new output and takes the streams again.
      await h.until(async () => {
        const p = await placed();
        return /^quibex_eq_/.test(p.page) && p.page !== first && p.chosen === p.page;
      }, 'the equalizer rebuilt on the new output');
      b.send('AUDIOFILTERS');
      await b.sync();
      assert.deepEqual(await placed(), { page: 'other', chosen: 'third' });
      // The page's stream is the server's to route again: it follows the next change.
      await pactl(env, 'set-default-sink', 'speakers');
      await h.until(async () => (await placed()).page === 'speakers', 'the page following the default output');
    } finally {
      b.send('AUDIOFILTERS');
      await h.stopGroup(chosen);
      await pactl(env, 'set-default-sink', 'speakers');
      await pactl(env, 'unload-module', mod);
    }
  });

  test('a sound server that stops answering never hangs the host', async () => {
    const b = s.backend;
    // Stop the server itself (not its process group: pacat and friends are gone by now).
    process.kill(pulse.pid, 'SIGSTOP');
    try {
      const t0 = Date.now();
      const r = await request(b, 'AUDIOTAP $ID system\t0\t80');
      assert.equal(r.ok, false);
      assert.ok(Date.now() - t0 < 10000, `answered after ${Date.now() - t0} ms`);
      b.send('AUDIOFILTERS peaking,440,2,-30');
      assert.equal((await get(b, 'audiofilters')).available, false);
      await b.sync();  // the page and the main thread still answer
    } finally {
      process.kill(pulse.pid, 'SIGCONT');
    }
    // Once it answers again the host uses it again.
    await h.until(async () => (await get(b, 'audiofilters')).available, 'the sound server back', 30000, 500);
    assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t80'), { ok: true, sampleRate: RATE, channels: 2 });
    b.send('AUDIOTAP STOP');
  });

  test('the host ending with the equalizer on puts the streams back and unloads its sink', async () => {
    const b = s.backend;
    b.send('AUDIOFILTERS peaking,440,2,-30');
    await h.until(async () => (await get(b, 'audiofilters')).state === 'active', 'the equalizer filtering');
    assert.match(await pactl(env, 'list', 'short', 'sinks'), /quibex_eq_/);
    b.send('QUIT');
    await s.host.waitExit();
    await h.until(async () => !/quibex_eq_/.test(await pactl(env, 'list', 'short', 'modules')), 'the sink unloaded');
  });

  // Last but one: the server it restarts has none of the page's sound.
  test('a tap left on hears again once a sound server that died is back', async () => {
    const again = await h.startSession({ display: x.display, args: ['AudioAgain'], env });
    try {
      await h.hello(again.backend);
      const b = again.backend;
      assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t50'), { ok: true, sampleRate: RATE, channels: 2 });
      process.kill(pulse.pid, 'SIGKILL');
      await pulse.exitInfo;
      await h.stopGroup(pulse);
      await startPulse();
      // No new AUDIOTAP start: the tap that was left on hears the new server.
      const freq = await tappedSine(b, env, 1000, 'sound from the restarted server');
      assert.ok(Math.abs(freq - 1000) < 15, `tapped ${freq} Hz`);
      b.send('AUDIOTAP STOP');
      await b.sync();
    } finally {
      await again.close();
    }
  });

  test('without a sound server the tap is unsupported and the equalizer says so', async () => {
    const lone = h.tempDir('qbx-noaudio-');
    const quiet = await h.startSession({ display: x.display, args: ['NoAudio'],
      env: { ...h.sessionEnv(lone), PULSE_SERVER: 'unix:' + path.join(lone, 'no-such-socket') } });
    try {
      await h.hello(quiet.backend);
      const b = quiet.backend;
      assert.deepEqual(await request(b, 'AUDIOTAP $ID system\t0\t80'), { ok: false, code: 'unsupported' });
      b.send('AUDIOTAP STOP');  // says nothing
      b.send('AUDIOFILTERS peaking,440,2,-30');
      assert.deepEqual(await get(b, 'audiofilters'), { available: false, state: 'unsupported' });
      await b.sync();
      assert.equal(b.lines.filter((l) => l.startsWith('GOT ') || l.startsWith('AUDIOTAP ')).length, 2);
    } finally {
      await quiet.close();
    }
  });
});
