'use strict';
// Backend entry of the test bundles: connects to the host's socket (QUIBEX_SOCKET) and
// relays both ways to the test's own socket (E2E_RELAY), after one line that tells the
// test how it was started. E2E_RELAY_DELAY_MS holds the host's socket back a while;
// E2E_RELAY_EXIT=<code> makes it end with that code before it ever connects;
// E2E_RELAY_HANDOFF=1 makes it start a copy of itself that does the work, and end
// with 0 at once, as a launcher script would.
const { spawn } = require('node:child_process');
const net = require('node:net');

const info = { argv: process.argv.slice(2), socket: process.env.QUIBEX_SOCKET || null };
if (process.env.E2E_RELAY_EXIT) process.exit(Number(process.env.E2E_RELAY_EXIT));
if (process.env.E2E_RELAY_HANDOFF === '1') {
  const env = { ...process.env, E2E_RELAY_HANDOFF: '', E2E_RELAY_DELAY_MS: '1500' };
  spawn(process.execPath, process.argv.slice(1), { env, stdio: 'ignore', detached: true }).unref();
  process.exit(0);
}

const test = net.createConnection(process.env.E2E_RELAY);
test.on('error', () => process.exit(1));
test.on('connect', () => {
  test.write('#relay ' + JSON.stringify(info) + '\n');
  setTimeout(() => {
    const host = net.createConnection(info.socket);
    host.on('error', (e) => {
      test.end('#relay-error ' + e.message + '\n');
      process.exit(1);
    });
    host.pipe(test);
    test.pipe(host);
    host.on('close', () => process.exit(0));
    test.on('close', () => process.exit(0));
  }, Number(process.env.E2E_RELAY_DELAY_MS || 0));
});
