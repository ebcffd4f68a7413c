'use strict';
// SAY, SAYSTOP and VOICES with eSpeak NG, and SOUND through libcanberra, playing
// into a PulseAudio null sink the test starts, and with no audio device at all.
const { test, describe, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const NEED = [['pulseaudio', 'pulseaudio'], ['pactl', 'pulseaudio-utils']].filter(([t]) => !h.hasCommand(t));
const skip = NEED.length ? `needs ${NEED.map(([t, p]) => `${t} (${p})`).join(', ')}` : false;

const answer = (b, id) => b.expectLine((l) => l.startsWith(`GOT ${id} `)).then((l) => JSON.parse(l.slice(`GOT ${id} `.length)));

// A PulseAudio daemon in `dir` with a null sink, reachable only through its own socket.
async function startPulse(dir) {
  const sock = path.join(dir, 'pulse.sock');
  const run = path.join(dir, 'pulse-run');
  fs.mkdirSync(run, { recursive: true, mode: 0o700 });
  const daemon = h.launch('pulseaudio', ['-n', '--daemonize=no', '--exit-idle-time=-1', '--disable-shm=yes',
    '--use-pid-file=no', '-L', 'module-null-sink sink_name=null',
    '-L', `module-native-protocol-unix socket=${sock} auth-anonymous=1`],
  { stdio: ['ignore', 'ignore', 'pipe'], env: { ...process.env, HOME: dir, XDG_RUNTIME_DIR: run, DBUS_SESSION_BUS_ADDRESS: '' } });
  let err = '';
  daemon.stderr.on('data', (d) => { err = (err + d).slice(-3000); });
  const server = 'unix:' + sock;
  await h.until(async () => {
    if (daemon.exitCode !== null) throw new Error('pulseaudio ended: ' + err);
    return h.run('pactl', ['info'], { PULSE_SERVER: server }).then(() => true, () => false);
  }, 'pulseaudio');
  return { server, stop: () => h.stopGroup(daemon) };
}

describe('speech', () => {
  let x;
  let dir;
  before(async () => {
    x = await h.startDisplay();
    dir = h.tempDir('qbx-speech-');
  });
  after(async () => {
    if (x) await x.stop();
  });

  test('voices are listed with their keys', async () => {
    const s = await h.startSession({ display: x.display, env: { PULSE_SERVER: 'unix:' + path.join(dir, 'none'), HOME: dir } });
    try {
      await h.hello(s.backend);
      s.backend.send('SAYSTOP');  // before any SAY: nothing at all
      s.backend.send('VOICES v1');
      const got = await answer(s.backend, 'v1');
      assert.equal(got.ok, true);
      assert.ok(got.voices.length > 0, 'espeak-ng-data brings voices');
      for (const v of got.voices) {
        assert.deepEqual(Object.keys(v), ['id', 'name', 'lang', 'quality']);
        assert.ok(['default', 'enhanced', 'premium'].includes(v.quality));
      }
      assert.ok(got.voices.some((v) => /^en/.test(v.lang)), 'an English voice');
    } finally {
      await s.close();
    }
  });

  test('without any audio device a SAY still gets its one answer', async () => {
    const s = await h.startSession({ display: x.display,
      env: { PULSE_SERVER: 'unix:' + path.join(dir, 'none'), ALSA_CONFIG_PATH: '/dev/null', HOME: dir } });
    try {
      await h.hello(s.backend);
      s.backend.send('SAY n1 hello');
      assert.deepEqual(await answer(s.backend, 'n1'), { ok: false });
      s.backend.send('SAYSTOP');
      s.backend.send('VOICES v2');  // answered next: SAYSTOP had nothing to answer again
      const next = await s.backend.expectLine((l) => l.startsWith('GOT '));
      assert.match(next, /^GOT v2 /);
    } finally {
      await s.close();
    }
  });

  test('QUIT while an utterance is being spoken ends the host', { skip }, async () => {
    const pulse = await startPulse(dir);
    const t = await h.startSession({ display: x.display, env: { PULSE_SERVER: pulse.server, HOME: dir } });
    try {
      await h.hello(t.backend);
      t.backend.send('SAY q1 ' + 'This goes on and on for quite a while. '.repeat(20));
      t.backend.send('SAY q2 and this waits');
      t.backend.send('VOICES v');  // answered once the speech thread has the first utterance
      await answer(t.backend, 'v');
      t.backend.send('QUIT');
      assert.equal(await t.host.waitExit(), 0);
    } finally {
      await t.close();
      await pulse.stop();
    }
  });

  describe('into a null sink', { skip }, () => {
    let pulse;
    let s;
    before(async () => {
      pulse = await startPulse(dir);
      s = await h.startSession({ display: x.display, env: { PULSE_SERVER: pulse.server, HOME: dir } });
      await h.hello(s.backend);
    });
    after(async () => {
      if (s) await s.close();
      if (pulse) await pulse.stop();
    });

    test('SOUND plays theme names and files into the sink; an unknown name answers false', async () => {
      const b = s.backend;
      const cases = [['bell', true], ['/usr/share/sounds/freedesktop/stereo/complete.oga', true],
        ['no-such-sound-anywhere', false], ['/no/such/file.oga', false]];
      for (const [name, ok] of cases) {
        const id = 'snd' + name.length;
        b.send(`SOUND ${id} ${name}`);
        assert.deepEqual(await answer(b, id), { ok }, name);
      }
    });

    test('two SAYs are answered in order when each ends', async () => {
      const b = s.backend;
      b.send('SAY a1 one\ten-GB\t0.9');
      b.send('SAY a2 two\tno-such-voice\tnope');
      const first = await b.expectLine((l) => l.startsWith('GOT '));
      assert.equal(first, 'GOT a1 {"ok":true}');
      assert.deepEqual(await answer(b, 'a2'), { ok: true });
    });

    test('SAYSTOP answers every pending SAY once, then silence', async () => {
      const b = s.backend;
      const long = 'This sentence is long enough to still be speaking when the stop comes along.';
      b.send(`SAY s1 ${long}`);
      b.send(`SAY s2 ${long}`);
      b.send(`SAY s1 ${long}`);
      b.send('SAYSTOP');
      const got = [];
      for (let i = 0; i < 3; i++) got.push(await b.expectLine((l) => l.startsWith('GOT s')));
      assert.deepEqual(got.sort(), ['GOT s1 {"ok":false}', 'GOT s1 {"ok":false}', 'GOT s2 {"ok":false}']);
      // Nothing more for those ids: the next answer is the next command's.
      b.send('SAY s3 ok');
      assert.equal(await b.expectLine((l) => l.startsWith('GOT ')), 'GOT s3 {"ok":true}');
    });
  });
});
