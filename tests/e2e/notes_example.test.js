'use strict';
// The notes example (examples/notes), as a user meets it: in command-line mode its
// backend's demo saves, copies and opens the About window; then the test does what a
// person does: Control-O and a path typed into the open panel, choices in the tray
// menu. As a bundle, saving shows a notification whose "Open folder" action opens the
// folder. Every service is the test's own: X server, session bus, home folder.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const h = require('./harness');
const tray = require('./tray_support');

const EXAMPLE = path.join(h.ROOT, 'examples/notes');
const NOTE = 'Milk, eggs, tea'; // what the demo types

const { x } = h.setUp({ windowManager: true });

// A home folder and a session bus of the test's own; dialogs answered by the host's
// test auto-dialog (which accepts save panels: the proposed ~/Notes/Untitled.txt).
// `stop(f)` adds to what the test stops at its end, last started first.
async function session(t) {
  const stack = [];
  const stop = (f) => stack.push(f);
  t.after(async () => { for (const f of stack.reverse()) await f(); });
  const dir = h.tempDir();
  stop(() => h.removeDir(dir));
  const bus = await h.startBus(dir);
  stop(() => bus.stop());
  const env = { ...h.sessionEnv(dir, bus), QUIBEX_TEST_AUTODLG: '1', GSETTINGS_BACKEND: 'memory' };
  return { dir, bus, env, stop };
}

// The exit of a program run with h.Host: its code, once it has ended by itself.
async function exitCode(proc) {
  const e = await h.until(() => proc.exited, 'the application to end\n' + proc.stderr.slice(-2000));
  proc.checkSanitizers();
  return e.signal ? 'signal ' + e.signal : e.code;
}

// Waits until the program's output has a line matching re; returns the match.
const outputLine = (proc, re, what) => h.until(() => re.exec(proc.stdout), what + '\n' + proc.stderr.slice(-2000));
const clipboard = () => h.xrun(x.display, 'xclip', ['-o', '-selection', 'clipboard']).catch(() => '');

test('command line: the demo saves, copies and opens About; the user opens a file and uses the tray', async (t) => {
  const { dir, bus, env, stop } = await session(t);
  const watcher = await tray.startWatcher(bus);
  stop(() => watcher.stop());
  const app = new h.Host([path.join(EXAMPLE, 'backend/notes.py'), '--host', h.HOST_BIN, '--demo'],
    { display: x.display, bin: h.SYSTEM_PYTHON, env });
  stop(() => app.stop());

  // The demo typed a note, saved it through File > Save, copied it, read the clipboard
  // back and opened the About window; the page shows all of it.
  const state = JSON.parse((await outputLine(app, /^page: state (.*)$/m, 'the page state'))[1]);
  assert.deepEqual(state, { note: NOTE, status: 'Copied the note', clipboard: NOTE, windows: ['main', 'about'] });
  assert.equal(fs.readFileSync(path.join(dir, 'Notes/Untitled.txt'), 'utf8'), NOTE);
  assert.equal(await clipboard(), NOTE);
  await h.findWindow(x.display, 'About Notes');
  const main = await h.findWindow(x.display, 'Untitled.txt – Notes');

  // The tray item is on the (test's) panel with its menu.
  const item = await watcher.expectEvent((e) => e.event === 'registered', 'the tray item');
  const props = await watcher.ask('props', { service: item.service, path: item.path });
  assert.equal(props.ToolTip[2], 'Notes');
  const menu = await watcher.ask('layout', { service: item.service, path: props.Menu });
  const labels = menu.root.children.map((c) => c.props.label).filter(Boolean);
  assert.deepEqual(labels, ['New note', 'Copy note', 'Show Notes', 'Quit Notes']);
  const choose = (label) => watcher.ask('event', { service: item.service, path: props.Menu,
    item: menu.root.children.find((c) => c.props.label === label).id });

  // Control-O (File > Open…) opens the open panel; the user types a path into it.
  const todo = path.join(dir, 'todo.txt');
  fs.writeFileSync(todo, 'Call Ada\nBuy stamps\n');
  await h.xdotool(x.display, ['windowactivate', '--sync', main.id]);
  await h.xdotool(x.display, ['key', '--clearmodifiers', 'ctrl+o']);
  const panel = await h.findWindow(x.display, 'Open');
  await h.xdotool(x.display, ['windowactivate', '--sync', panel.id]);
  await h.xdotool(x.display, ['key', '--clearmodifiers', 'ctrl+l']);
  await h.xdotool(x.display, ['type', '--delay', '10', todo]);
  // Return opens the file (the first one may only close the location's completion list).
  await h.until(async () => {
    if (!(await h.windowTitles(x.display)).includes('Open')) return true;
    await h.xdotool(x.display, ['key', 'Return']);
    await h.sleep(300);
    return false;
  }, 'the open panel to close');
  await h.findWindow(x.display, 'todo.txt – Notes');

  // Tray > Copy note copies the opened note; Tray > Quit Notes ends the application.
  await choose('Copy note');
  await h.until(async () => (await clipboard()) === 'Call Ada\nBuy stamps\n', 'the opened note on the clipboard');
  await choose('Quit Notes');
  assert.equal(await exitCode(app), 0, app.stderr);
});

test('bundle: make-bundle.sh lays out Notes.app; saving notifies, and "Open folder" opens the folder', async (t) => {
  const { dir, bus, env, stop } = await session(t);
  const notifications = path.join(dir, 'notifications.log');
  const mock = await h.startMock(bus.address, 'notification_daemon', { log: notifications });
  stop(() => mock.stop());
  // The desktop's handler for folders is a script of the test's that writes down what it was given.
  const opened = path.join(dir, 'opened');
  const script = path.join(dir, 'open-folder.sh');
  fs.writeFileSync(script, `#!/bin/sh\nprintf '%s' "$1" > '${opened}'\n`, { mode: 0o755 });
  fs.mkdirSync(path.join(dir, '.local/share/applications'), { recursive: true });
  fs.writeFileSync(path.join(dir, '.local/share/applications/folder-probe.desktop'),
    `[Desktop Entry]\nType=Application\nName=Folder probe\nExec=${script} %f\nMimeType=inode/directory;\n`);
  fs.mkdirSync(path.join(dir, '.config'), { recursive: true });
  fs.writeFileSync(path.join(dir, '.config/mimeapps.list'), '[Default Applications]\ninode/directory=folder-probe.desktop\n');

  const build = path.join(dir, 'build');
  fs.mkdirSync(build);
  fs.symlinkSync(h.HOST_BIN, path.join(build, 'quibex'));
  const bundle = execFileSync(path.join(EXAMPLE, 'make-bundle.sh'), [build]).toString().trim();
  assert.equal(bundle, path.join(build, 'Notes.app'));
  for (const f of ['Contents/Info.plist', 'Contents/MacOS/qbx', 'Contents/Resources/app/frontend/index.html']) {
    assert.ok(fs.existsSync(path.join(bundle, f)), f);
  }

  const app = new h.Host([], { display: x.display, bin: path.join(bundle, 'Contents/MacOS/quibex'),
    env: { ...env, NOTES_DEMO: '1' } });
  stop(() => app.stop());
  await outputLine(app, /^demo: note\.save$/m, 'the demo\'s save');
  // Info.plist's QuibexWindowSize: a page 760 wide (the menu bar adds to the height only).
  const main = await h.findWindow(x.display, 'Untitled.txt – Notes');
  assert.equal(main.width, 760);
  // The notification server was told: "Saved", the file, and the action.
  const notify = await h.until(() => fs.existsSync(notifications) &&
    /Notify "Notes" 0 .*"Saved" "(.*)\nUntitled\.txt was saved\." \["default", "", "open-folder", "Open folder"\]/
      .exec(fs.readFileSync(notifications, 'utf8')), 'the notification');
  assert.equal(notify[1], path.join(dir, 'Notes'));

  // The user chooses "Open folder" on it (the server's signal, as a click sends it).
  await h.gdbusCall(bus.address, mock.name, '/org/freedesktop/Notifications', 'org.freedesktop.DBus.Mock.EmitSignal',
    'org.freedesktop.Notifications', 'ActionInvoked', 'us', "[<uint32 1>, <'open-folder'>]");
  await h.until(() => fs.existsSync(opened) && fs.readFileSync(opened, 'utf8'), 'the folder opened');
  assert.equal(fs.readFileSync(opened, 'utf8'), path.join(dir, 'Notes'));

  // Closing the main window (Alt+F4) ends the application.
  await h.xdotool(x.display, ['windowactivate', '--sync', main.id]);
  await h.xdotool(x.display, ['key', '--clearmodifiers', 'alt+F4']);
  assert.equal(await exitCode(app), 0, app.stderr);
});
