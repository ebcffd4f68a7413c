'use strict';
// SAY, SAYSTOP and VOICES with eSpeak NG, and SOUND through libcanberra, playing
// into a PulseAudio null sink the test starts (whose monitor tells what was heard),
// into one that stops answering, and with no audio device at all.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['pulseaudio', 'pulseaudio'], ['pactl', 'pulseaudio-utils'], ['parec', 'pulseaudio-utils']]);

const answer = (b, id) => b.answer(id);

describe('speech', () => {
  const { x, dir } = h.setUp({ dir: 'qbx-speech-' });

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
    const pulse = await h.startPulse(dir);
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
    const { pulse, s } = h.setUp({ display: false, more: { pulse: () => h.startPulse(dir, { ticking: true }) },
      session: (p) => ({ display: x.display, env: { PULSE_SERVER: p.pulse.server, HOME: dir } }) });

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

    test('after SAYSTOP the sink is silent within 200 ms', async () => {
      const b = s.backend;
      const rec = h.recordSink(pulse);
      try {
        const long = 'This goes on and on, for much longer than the stop takes to come along. '.repeat(3);
        for (const id of ['t1', 't2', 't3']) b.send(`SAY ${id} ${long}`);
        await h.until(() => h.peak(rec.samples()) > 3000, 'speech in the sink');
        await new Promise((r) => setTimeout(r, 1000));
        const at = rec.count();
        b.send('SAYSTOP');
        for (const id of ['t1', 't2', 't3']) assert.deepEqual(await answer(b, id), { ok: false });
        await h.until(() => rec.count() >= at + 1.5 * rec.rate, 'another 1.5 s of the sink');
        const heard = rec.samples();
        assert.ok(h.peak(heard, at - rec.rate / 2, at) > 3000, 'still speaking when the stop came');
        const late = h.peak(heard, at + 0.2 * rec.rate);
        assert.ok(late < 100, `peak ${late} of 32767 later than 200 ms after SAYSTOP`);
      } finally {
        await rec.stop();
      }
    });
  });

  test('a sound server that stops answering holds up neither the host nor the answers', { skip }, async () => {
    const pulse = await h.startPulse(h.tempDir('qbx-speech-stopped-'));
    const s = await h.startSession({ display: x.display, env: { PULSE_SERVER: pulse.server, HOME: dir } });
    try {
      const b = s.backend;
      await h.hello(b);
      pulse.pause();
      // Nothing has talked to the server yet: each of these is the first to.
      b.send('SOUND o1 bell');
      b.send('GET g1 windows');
      await b.expectLine((l) => l.startsWith('GOT g1 '), 5000);
      b.send('SAY o2 hello');
      b.send('VOICES o3');
      b.send('GET g2 windows');
      await b.expectLine((l) => l.startsWith('GOT g2 '), 5000);
      assert.equal((await answer(b, 'o3')).ok, true);
      // The sounds nobody can hear are answered, false, in a bounded time.
      assert.deepEqual(await answer(b, 'o1'), { ok: false });
      assert.deepEqual(await answer(b, 'o2'), { ok: false });
    } finally {
      await s.close();
      await pulse.stop();
    }
  });
});
