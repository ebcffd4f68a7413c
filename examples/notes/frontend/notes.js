// The page of the Notes example. It holds the note's text; everything that needs the
// desktop (files, the clipboard, windows) is a call to the backend through window.quib.
'use strict';

const note = document.getElementById('note');
const showStatus = (text) => { document.getElementById('status').textContent = text; };

// What each button, menu item and tray item does. The backend turns File > Save (or
// Control-S) into a "menu" event with id "file.save", a tray choice into a "tray" event.
const actions = {
  'file.new': async () => {
    await quib.api.call('note.new');
    note.value = '';
    showStatus('New note');
  },
  'file.open': async () => {
    const opened = await quib.api.call('note.open'); // the backend shows the open panel
    if (!opened) return showStatus('Open cancelled');
    note.value = opened.text;
    showStatus('Opened ' + opened.name);
  },
  'file.save': async () => {
    const saved = await quib.api.call('note.save', { text: note.value });
    showStatus(saved ? 'Saved ' + saved.path : 'Save cancelled');
  },
  'note.copy': async () => {
    await quib.clipboard.write({ text: note.value });
    showStatus('Copied the note');
  },
  'note.paste': async () => {
    const clip = await quib.clipboard.read();
    document.getElementById('clipboard').textContent = clip && clip.text !== null ? clip.text : '(no text)';
  },
  'about': () => quib.win.open('about'),
  'windows': async () => {
    const list = document.getElementById('windows');
    list.replaceChildren(...(await quib.win.windows()).map((id) => {
      const li = document.createElement('li');
      li.textContent = id;
      return li;
    }));
  },
};

const buttons = { new: 'file.new', open: 'file.open', save: 'file.save', copy: 'note.copy',
  paste: 'note.paste', about: 'about', refresh: 'windows' };
for (const [button, action] of Object.entries(buttons)) {
  document.getElementById(button).addEventListener('click', () => run(action));
}
// Errors (a file that cannot be read, say) show in the status line.
const run = (action) => Promise.resolve(actions[action] && actions[action]()).catch((e) => showStatus('Error: ' + JSON.stringify(e)));

// A file dropped on the page must not replace it: a dropped HTML file would run as a
// page of ours, able to call the backend with our origin (file://).
for (const type of ['dragover', 'drop']) window.addEventListener(type, (e) => e.preventDefault());

quib.menu.on((id) => run(id));
quib.tray.on((id) => run({ 'tray.new': 'file.new', 'tray.copy': 'note.copy' }[id]));
quib.api.on('windows-changed', () => run('windows'));

// What the page shows, for the backend's demo mode.
function pageState() {
  return {
    note: note.value,
    status: document.getElementById('status').textContent,
    clipboard: document.getElementById('clipboard').textContent,
    windows: [...document.querySelectorAll('#windows li')].map((li) => li.textContent),
  };
}

run('windows');
quib.api.call('note.ready');
