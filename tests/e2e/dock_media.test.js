'use strict';
// The tile and the media controls on the real desktop: LauncherEntry signals seen by
// a subscriber on a private session bus, the windows' composed icon and urgency
// hint, and an MPRIS client that reads what is playing and presses its buttons.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['dbus-daemon', 'dbus'], ['gdbus', 'libglib2.0-bin'], ['xprop', 'x11-utils'], ['convert', 'imagemagick']]);

// The LauncherEntry subscriber: its lines are JSON signals.
async function listen(env) {
  const p = h.launch(h.SYSTEM_PYTHON, [path.join(__dirname, 'peers/launcher_listener.py')],
    { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...env } });
  const signals = [];
  let ready = false;
  require('node:readline').createInterface({ input: p.stdout }).on('line', (l) => {
    if (l === 'ready') ready = true;
    else signals.push(JSON.parse(l));
  });
  await h.until(() => ready, 'the launcher-entry listener');
  return { signals, stop: () => h.stopGroup(p) };
}

describe('tile and media controls', { skip }, () => {
  const { x, dir, bus, s } = h.setUp({ windowManager: true, dir: 'qbx-dock-', bus: true,
    session: () => ({ main: true, env: env() }) });
  // The host's environment: its home in dir, the private session bus.
  const env = () => h.sessionEnv(dir, bus);

  test('BADGE and PROGRESS reach the docks as LauncherEntry updates', async () => {
    const l = await listen(env());
    try {
      s.backend.send('BADGE 5');
      s.backend.send('PROGRESS 0.25');
      s.backend.send('ATTENTION 1');
      s.backend.send('PROGRESS');
      await h.until(() => l.signals.length >= 4, 'four updates');
      const [badge, progress, attention, none] = l.signals;
      assert.equal(badge.uri, 'application://quibex.desktop');
      assert.deepEqual(badge.props, { count: 5, 'count-visible': true, progress: 0, 'progress-visible': false });
      assert.deepEqual(progress.props, { count: 5, 'count-visible': true, progress: 0.25, 'progress-visible': true });
      assert.equal(attention.props.urgent, true);
      assert.equal(none.props['progress-visible'], false);
    } finally {
      await l.stop();
    }
  });

  test('the windows carry the composed icon; APPICON with an unreadable file changes nothing', async () => {
    const icon = path.join(dir, 'icon.png');
    await h.run('convert', ['-size', '64x64', 'xc:#20a040', icon]);
    const iconProp = async () => (await h.xprop(x.display, s.main.id, '_NET_WM_ICON')).slice(0, 200);
    s.backend.send(`APPICON ${icon}`);
    s.backend.send('PROGRESS 0.5');
    const first = await h.untilValue(iconProp, (t) => /Icon \(128 x 128\)/.test(t), 'a 128 x 128 icon');
    s.backend.send(`APPICON ${path.join(dir, 'nope.png')}`);
    s.backend.send('BADGE');
    s.backend.send('PROGRESS -1');
    s.backend.send('APPICON');
    await h.untilValue(iconProp, (t) => !/Icon \(128 x 128\)/.test(t), 'the plain icon again');
    assert.ok(first);
  });

  test('an MPRIS client reads what is playing, and its buttons come back as MEDIAKEY', async () => {
    const b = s.backend;
    const info = { title: 'Blue "Moon"', artist: 'Ann', album: 'Nights', duration: 200, elapsed: 83.25, playing: false };
    b.send('NOWPLAYING ' + h.wireEscape(JSON.stringify(info)));
    const names = async () => (await h.gdbusCall(bus.address, 'org.freedesktop.DBus', '/org/freedesktop/DBus',
      'org.freedesktop.DBus.ListNames')).match(/org\.mpris\.MediaPlayer2\.[^']+/g) || [];
    const [name] = await h.untilValue(names, (n) => n.length === 1, 'the MPRIS player');
    assert.match(name, /^org\.mpris\.MediaPlayer2\.quibex\.instance\d+$/);
    const get = (prop) => h.gdbusCall(bus.address, name, '/org/mpris/MediaPlayer2', 'org.freedesktop.DBus.Properties.Get',
      'org.mpris.MediaPlayer2.Player', prop);
    const meta = await get('Metadata');
    assert.match(meta, /'xesam:title': <'Blue "Moon"'>/);
    assert.match(meta, /'xesam:artist': <\['Ann'\]>/);
    assert.match(meta, /'xesam:album': <'Nights'>/);
    assert.match(meta, /'mpris:length': <int64 200000000>/);
    assert.match(await get('PlaybackStatus'), /'Paused'/);
    assert.match(await get('Position'), /<int64 83250000>/);
    const call = (m, ...args) => h.gdbusCall(bus.address, name, '/org/mpris/MediaPlayer2', `org.mpris.MediaPlayer2.Player.${m}`, ...args);
    const presses = [
      [['PlayPause'], 'MEDIAKEY toggle'], [['Play'], 'MEDIAKEY play'], [['Pause'], 'MEDIAKEY pause'],
      [['Next'], 'MEDIAKEY next'], [['Previous'], 'MEDIAKEY previous'],
      [['SetPosition', '/io/quibex/Track/current', '123456789'], 'MEDIAKEY seek\t123.457'],
      [['Seek', '1000000'], 'MEDIAKEY seek\t84.250'],
    ];
    for (const [[m, ...args], want] of presses) {
      await call(m, ...args);
      assert.equal(await b.expectLine((l) => l.startsWith('MEDIAKEY')), want, m);
    }
    b.send('NOWPLAYING clear');
    await h.untilValue(() => get('PlaybackStatus'), (t) => /'Stopped'/.test(t), 'stopped');
    await call('PlayPause');
    assert.equal(await b.expectLine((l) => l.startsWith('MEDIAKEY')), 'MEDIAKEY toggle', 'still armed after clear');
  });
});
