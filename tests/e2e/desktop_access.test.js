'use strict';
// SECRET against gnome-keyring on a private session bus, AUTH against a polkit
// mock on a private system bus, OSA, and WINCTRL moving another application's
// window under a window manager.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['dbus-daemon', 'dbus'], ['gdbus', 'libglib2.0-bin'], ['gnome-keyring-daemon', 'gnome-keyring'],
  ['xwininfo', 'x11-utils'], ['xprop', 'x11-utils']],
  [['dbusmock', 'python3-dbusmock']]);

let asked = 0;
async function ask(b, cmd, rest) {
  const id = 'k' + (++asked);
  b.send(`${cmd} ${id} ${rest}`);
  return b.answer(id);
}

// gnome-keyring-daemon serving the Secret Service on `bus`, its login keyring
// created and unlocked inside `dir`.
async function startKeyring(dir, bus) {
  const env = { ...process.env, ...h.sessionEnv(dir, bus) };
  const daemon = h.launch('gnome-keyring-daemon', ['--unlock', '--foreground', '--components=secrets'],
    { stdio: ['pipe', 'ignore', 'pipe'], env });
  daemon.stdin.end('test');
  let err = '';
  daemon.stderr.on('data', (d) => { err = (err + d).slice(-2000); });
  await h.until(async () => {
    if (daemon.exitCode !== null) throw new Error('gnome-keyring-daemon ended: ' + err);
    return h.hasOwner(bus.address, 'org.freedesktop.secrets');
  }, 'the keyring on the bus');
  return { stop: () => h.stopGroup(daemon) };
}

describe('secrets, authentication and scripts', { skip }, () => {
  const { x, dir, bus, s } = h.setUp({ dir: 'qbx-access-', bus: true, more: { keyring: (p) => startKeyring(p.dir, p.bus) },
    session: (p) => ({ env: { ...h.sessionEnv(p.dir, p.bus), QUIBEX_POLKIT_ACTION: undefined } }) });

  test('set, replace, get, delete and get a missing secret in the keyring', async () => {
    const b = s.backend;
    const steps = [
      ['get\tmail\talice', { ok: true, value: null }],
      ['del\tmail\talice', { ok: true }],
      ['set\tmail\talice\tfirst', { ok: true }],
      ['set\tmail\talice\tsecond\\tpart é', { ok: true }],
      ['get\tmail\talice', { ok: true, value: 'second\tpart é' }],
      ['get\tmail\tbob', { ok: true, value: null }],
      ['set\t\t\tno names', { ok: true }],
      ['get\t\t', { ok: true, value: 'no names' }],
      ['del\tmail\talice', { ok: true }],
      ['get\tmail\talice', { ok: true, value: null }],
      ['rename\tmail\talice', { ok: false, error: 'unknown secret op' }],
    ];
    for (const [rest, want] of steps) assert.deepEqual(await ask(b, 'SECRET', rest), want, rest);
    // The replace left one item for the pair, not two.
    const items = await h.run(h.SYSTEM_PYTHON, ['-c', `
import gi; gi.require_version('Secret', '1'); from gi.repository import Secret
s = Secret.Service.get_sync(Secret.ServiceFlags.LOAD_COLLECTIONS)
print(len([i for c in s.get_collections() for i in c.get_items() if i.get_attributes().get('service') == 'mail']))
`], h.sessionEnv(dir, bus));
    assert.equal(items.trim(), '0');
  });

  test('a secret stored twice keeps one item holding the second value', async () => {
    const b = s.backend;
    assert.deepEqual(await ask(b, 'SECRET', 'set\tvault\tme\tone'), { ok: true });
    assert.deepEqual(await ask(b, 'SECRET', 'set\tvault\tme\ttwo'), { ok: true });
    const out = await h.run(h.SYSTEM_PYTHON, ['-c', `
import gi; gi.require_version('Secret', '1'); from gi.repository import Secret
s = Secret.Service.get_sync(Secret.ServiceFlags.LOAD_COLLECTIONS)
items = [i for c in s.get_collections() for i in c.get_items() if i.get_attributes().get('service') == 'vault']
for i in items: i.load_secret_sync()
print(len(items), items[0].get_secret().get_text() if items else '')
`], h.sessionEnv(dir, bus));
    assert.equal(out.trim(), '1 two');
  });

  test('a service or account that is not UTF-8 text is refused with an answer', async () => {
    const b = s.backend;
    const bad = (id, rest) => Buffer.concat([Buffer.from(`SECRET ${id} `), Buffer.from(rest, 'latin1')]);
    const refused = { ok: false, error: 'service and account must be UTF-8 text' };
    for (const [id, rest] of [['u1', 'get\tcaf\xe9\tme'], ['u2', 'set\tmail\t\xff\tv'], ['u3', 'del\tmail\t\xc3']]) {
      b.send(bad(id, rest));
      const line = await b.expectLine((l) => l.startsWith(`GOT ${id} `));
      assert.deepEqual(JSON.parse(line.slice(`GOT ${id} `.length)), refused, id);
    }
    assert.deepEqual(await ask(b, 'SECRET', 'get\tmail\tnobody'), { ok: true, value: null });
  });

  test('scripts are not available; authentication without a configured action answers at once', async () => {
    const b = s.backend;
    assert.deepEqual(await ask(b, 'OSA', 'return "hi"'), { ok: false, error: 'unsupported' });
    assert.deepEqual(await ask(b, 'AUTH', 'Unlock'), { ok: false, error: 'authentication unavailable' });
  });

  test('without a keyring, or without a session bus, the store answers an error, never success', async () => {
    const empty = await h.startBus(dir, 'nokeyring');
    for (const env of [h.sessionEnv(dir, empty), h.sessionEnv(dir, null)]) {
      const t = await h.startSession({ display: x.display, env });
      try {
        await h.hello(t.backend);
        for (const rest of ['set\ta\tb\tc', 'get\ta\tb', 'del\ta\tb']) {
          const got = await ask(t.backend, 'SECRET', rest);
          assert.equal(got.ok, false, rest);
          assert.match(got.error, /^keychain error -?\d+/);
        }
      } finally {
        await t.close();
      }
    }
    await empty.stop();
  });
});

test('a Secret Service that never answers fails the request within seconds', { skip }, async () => {
  const x = await h.startDisplay();
  const dir = h.tempDir('qbx-hung-secrets-');
  const bus = await h.startBus(dir, 'session');
  const peer = await h.startSilentPeer(bus.address, 'org.freedesktop.secrets');
  let s;
  try {
    s = await h.startSession({ display: x.display, env: h.sessionEnv(dir, bus) });
    await h.hello(s.backend);
    // Well inside the harness's wait; libsecret alone would take 50 s.
    const got = await ask(s.backend, 'SECRET', 'get\tmail\talice');
    assert.equal(got.ok, false);
    assert.match(got.error, /^keychain error -?\d+: .*Timeout/);
  } finally {
    if (s) await s.close();
    await peer.stop();
    await bus.stop();
    await x.stop();
  }
});

describe('authentication through polkit', { skip }, () => {
  const { x, dir, system } = h.setUp({ dir: 'qbx-polkit-', system: true, more: {
    polkit: (p) => h.startMock(p.system.address, 'polkitd', { log: path.join(p.dir, 'polkit.log'),
      busName: 'org.freedesktop.PolicyKit1' }),
  } });

  // A host whose system bus is `bus`, with an action configured, for `fn(backend)`.
  async function withHost(bus, fn) {
    const s = await h.startSession({
      display: x.display,
      env: { DBUS_SYSTEM_BUS_ADDRESS: bus.address, QUIBEX_POLKIT_ACTION: 'org.example.unlock', HOME: dir },
    });
    try {
      await h.hello(s.backend);
      await fn(s.backend);
    } finally {
      await s.close();
    }
  }

  test('the configured action is asked for; the answer says whether it was granted', async () => {
    await withHost(system, async (b) => {
      assert.deepEqual(await ask(b, 'AUTH', 'Open the vault'), { ok: false, error: 'not authorized' });
      await h.gdbusCall(system.address, 'org.freedesktop.PolicyKit1', '/org/freedesktop/PolicyKit1/Authority',
        'org.freedesktop.DBus.Mock.SetAllowed', "['org.example.unlock']");
      assert.deepEqual(await ask(b, 'AUTH', ''), { ok: true, error: null });
      const log = fs.readFileSync(path.join(dir, 'polkit.log'), 'utf8');
      assert.match(log, /CheckAuthorization .*org\.example\.unlock/);
    });
  });

  test('a polkit that is missing or never answers does not get the request: answered within seconds', async () => {
    const none = await h.startBus(dir, 'nopolkit');
    const hung = await h.startBus(dir, 'hungpolkit');
    const peer = await h.startSilentPeer(hung.address, 'org.freedesktop.PolicyKit1');
    try {
      for (const bus of [hung, none]) {
        await withHost(bus, async (b) => {
          assert.deepEqual(await ask(b, 'AUTH', 'Open the vault'), { ok: false, error: 'authentication unavailable' });
        });
      }
      assert.deepEqual(peer.held(), ['org.freedesktop.DBus.Properties.Get'], 'no prompt was asked for');
    } finally {
      await peer.stop();
      await hung.stop();
      await none.stop();
    }
  });
});

describe("other applications' windows", { skip }, () => {
  const { x, dir, bus } = h.setUp({ windowManager: true, dir: 'qbx-winctrl-', bus: true });

  test("another process's window moves and resizes to the outer frame asked for", async () => {
    const env = h.sessionEnv(dir, bus);
    const peer = await h.startPeer(x.display, { env, x: 50, y: 60 });
    const s = await h.mainSession(x.display, env);
    try {
      const b = s.backend;
      assert.deepEqual(await ask(b, 'WINCTRL', `${peer.pid}\t200\t150\t420\t300`), { ok: true, error: null });
      const f = await h.untilValue(() => h.frameGeometry(x.display, peer.xid),
        (g) => g.x === 200 && g.y === 150 && g.w === 420 && g.h === 300, 'the peer moved');
      assert.ok(f.client.width < 420 || f.extents.l + f.extents.r === 0);
      for (const pid of [99999999, 0, -1])
        assert.deepEqual(await ask(b, 'WINCTRL', `${pid}\t0\t0\t100\t100`), { ok: false, error: 'no movable window' }, String(pid));
    } finally {
      await s.close();
      await peer.stop();
    }
  });
});
