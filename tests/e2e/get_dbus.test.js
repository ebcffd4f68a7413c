'use strict';
// GET battery and wifi from UPower and NetworkManager on a private system bus:
// python-dbusmock plays the daemons, and the host's calls show in the mock's log.
// Without the daemons, or without a bus at all, both answer null and nothing waits.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./harness');

const skip = h.needs([['dbus-daemon', 'dbus'], ['gdbus', 'libglib2.0-bin']],
  [['dbusmock', 'python3-dbusmock']]);

const UPOWER = ['org.freedesktop.UPower', '/org/freedesktop/UPower'];
const NM = ['org.freedesktop.NetworkManager', '/org/freedesktop/NetworkManager'];
const NM_WIRELESS = 'org.freedesktop.NetworkManager.Device.Wireless';

const get = h.getAnswer;

describe('the system bus', { skip }, () => {
  const { x, dir, bus: sessionBus } = h.setUp({ dir: 'qbx-get-dbus-', bus: true });

  // A host whose system bus is `systemAddress`; the test's own HOME and session bus.
  async function host(systemAddress) {
    const s = await h.startSession({
      display: x.display,
      env: { DBUS_SYSTEM_BUS_ADDRESS: systemAddress, DBUS_SESSION_BUS_ADDRESS: sessionBus.address, HOME: dir },
    });
    await h.hello(s.backend);
    return s;
  }

  test('without the daemons, or without a bus, battery and wifi are null', async () => {
    const bus = await h.startBus(dir, 'empty');
    for (const address of [bus.address, 'unix:path=' + path.join(dir, 'no-such-bus')]) {
      const s = await host(address);
      try {
        for (let i = 0; i < 3; i++) {
          assert.equal(await get(s.backend, 'battery'), null, address);
          assert.equal(await get(s.backend, 'wifi'), null, address);
        }
        assert.deepEqual(await get(s.backend, 'windows'), ['main'], 'later questions still answer');
      } finally {
        await s.close();
      }
    }
    await bus.stop();
  });

  test('battery from UPower: charging, discharging, estimates, the composite device', async () => {
    const bus = await h.startBus(dir, 'upower');
    const log = path.join(dir, 'upower.log');
    const mock = await h.startMock(bus.address, 'upower', { params: { OnBattery: true }, log });
    const s = await host(bus.address);
    const call = (method, ...args) => h.gdbusCall(bus.address, ...UPOWER, method, ...args);
    try {
      const b = s.backend;
      assert.equal(await get(b, 'battery'), null, 'no battery yet');
      // A wireless mouse's battery powers no machine.
      await call('org.freedesktop.DBus.Mock.AddObject', '/org/freedesktop/UPower/devices/mouse',
        'org.freedesktop.UPower.Device',
        "{'Type': <uint32 5>, 'PowerSupply': <false>, 'IsPresent': <true>, 'Percentage': <12.0>}", '@a(ssss) []');
      assert.equal(await get(b, 'battery'), null, 'a mouse is no power source');

      const bat = (await call('org.freedesktop.DBus.Mock.AddDischargingBattery', 'mock_BAT', 'Bat', '42.4', '5400'))
        .match(/'([^']+)'/)[1];
      assert.deepEqual(await get(b, 'battery'), { percent: 42, charging: false, plugged: false, minutesRemaining: 90 });

      const set = (props) => call('org.freedesktop.DBus.Mock.SetDeviceProperties', bat, props);
      await set("{'TimeToEmpty': <int64 0>}");
      assert.equal((await get(b, 'battery')).minutesRemaining, null, 'no estimate yet');

      await h.gdbusCall(bus.address, UPOWER[0], bat, 'org.freedesktop.DBus.Mock.AddProperty', 'org.freedesktop.UPower.Device',
        'TimeToFull', '<int64 1830>');
      await set("{'State': <uint32 1>, 'Percentage': <42.5>}");
      await call('org.freedesktop.DBus.Properties.Set', 'org.freedesktop.UPower', 'OnBattery', '<false>');
      assert.deepEqual(await get(b, 'battery'), { percent: 43, charging: true, plugged: true, minutesRemaining: 30 });

      // The daemon's composite device speaks for all batteries once it shows one.
      await call('org.freedesktop.DBus.Mock.SetupDisplayDevice', '2', '2', '77.0', '77.0', '100.0', '10.0', '600', '0',
        'true', 'battery-good', '1');
      assert.deepEqual(await get(b, 'battery'), { percent: 77, charging: false, plugged: true, minutesRemaining: 10 });

      assert.match(fs.readFileSync(log, 'utf8'), /GetAll .*org\.freedesktop\.UPower\.Device/, 'the mock was asked');

      // A daemon that stops answering: the question ends null, and nothing waits for it.
      process.kill(mock.pid, 'SIGSTOP');
      b.send('GET stuck battery');
      b.send('GET meanwhile windows');
      const order = [];
      await Promise.all([
        b.expectLine(/^GOT stuck null$/).then(() => order.push('battery')),
        b.expectLine(/^GOT meanwhile \["main"\]$/).then(() => order.push('windows')),
      ]);
      assert.deepEqual(order, ['windows', 'battery']);
      process.kill(mock.pid, 'SIGCONT');
      await mock.stop();
      await h.untilValue(() => get(b, 'battery'), (v) => v === null, 'null once the daemon is gone');
    } finally {
      await s.close();
      await mock.stop();
      await bus.stop();
    }
  });

  test('wifi from NetworkManager: the first Wi-Fi device and its access point', async () => {
    const bus = await h.startBus(dir, 'nm');
    const mock = await h.startMock(bus.address, 'networkmanager');
    const s = await host(bus.address);
    const call = (method, ...args) => h.gdbusCall(bus.address, ...NM, method, ...args);
    try {
      const b = s.backend;
      assert.equal(await get(b, 'wifi'), null, 'no Wi-Fi interface');
      await call('org.freedesktop.DBus.Mock.AddEthernetDevice', 'eth', 'eth0', '100');
      const dev = (await call('org.freedesktop.DBus.Mock.AddWiFiDevice', 'wifi', 'wlan0', '100')).match(/'([^']+)'/)[1];
      assert.deepEqual(await get(b, 'wifi'), { ssid: null, bssid: null, rssi: 0, noise: null, txRate: 5 },
        'on, not associated');

      const ap = (await call('org.freedesktop.DBus.Mock.AddAccessPoint', dev, 'ap1', 'Caf\u00e9 "Net"',
        '00:11:22:33:AA:BB', '2', '2412', '54000', 'byte 82', '0')).match(/'([^']+)'/)[1];
      // The template leaves out the property NetworkManager names the connected access point with.
      await h.gdbusCall(bus.address, NM[0], dev, 'org.freedesktop.DBus.Mock.AddProperty', NM_WIRELESS, 'ActiveAccessPoint',
        `<objectpath '${ap}'>`);
      await call('org.freedesktop.DBus.Mock.SetProperty', dev, NM_WIRELESS, 'Bitrate', '<uint32 866700>');
      assert.deepEqual(await get(b, 'wifi'),
        { ssid: 'Caf\u00e9 "Net"', bssid: '00:11:22:33:AA:BB', rssi: -38, noise: null, txRate: 866 });

      await call('org.freedesktop.DBus.Mock.SetProperty', '/org/freedesktop/NetworkManager', 'org.freedesktop.NetworkManager',
        'WirelessEnabled', '<false>');
      assert.equal(await get(b, 'wifi'), null, 'the radio is off');
    } finally {
      await s.close();
      await mock.stop();
      await bus.stop();
    }
  });
});
