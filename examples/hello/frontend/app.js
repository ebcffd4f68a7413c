// The example page: everything it shows comes from the backend through window.quib.
'use strict';

const $ = (id) => document.getElementById(id);

const state = { greeting: '', count: 0, title: '', accent: '' };

function status(text) {
  $('status').textContent = text;
}

// A file dropped on a page that does not take it loads in the page's place, as a file
// page with the same origin as the application's own: this page takes drops itself.
for (const type of ['dragover', 'drop']) window.addEventListener(type, (e) => e.preventDefault());

// Called by the backend through EVAL.
window.app = {
  tint(color) {
    state.accent = color;
    document.documentElement.style.setProperty('--accent', color);
    status('The backend recoloured the page (' + color + ').');
  },
  state: () => ({ ...state }),
};

async function start() {
  if (!window.quib) {
    $('greeting').textContent = 'Open this page in quibex';
    return;
  }
  try {
    const g = await quib.api.call('hello.greeting');
    state.greeting = g.text;
    $('greeting').textContent = g.text;
    $('detail').textContent = 'Backend ' + g.runtime + ', process ' + g.pid + ', ' + g.mode + ' mode.';
  } catch (e) {
    $('greeting').textContent = 'The backend did not answer';
  }

  $('count').addEventListener('click', async () => {
    const r = await quib.api.call('hello.count');
    state.count = r.count;
    $('count-out').textContent = r.count === 1 ? 'Once.' : r.count + ' times.';
  });

  $('set-title').addEventListener('click', async () => {
    const r = await quib.win.setTitle($('title').value);
    state.title = r.title;
    status('Title set to "' + r.title + '".');
  });

  $('tint').addEventListener('click', () => {
    quib.api.call('hello.tint').catch((e) => status('Failed: ' + JSON.stringify(e)));
  });

  $('quit').addEventListener('click', () => quib.quit());
}

start();
