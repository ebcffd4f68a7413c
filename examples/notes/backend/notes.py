#!/usr/bin/env python3
"""Notes: a small quibex application. The page (frontend/) shows one note; this
backend owns everything else: the menus, the tray item, files, the clipboard,
windows and notifications. Python 3 standard library only.

  notes.py [--host PATH] [--demo]    command-line mode: listens, then starts the host
  (in a bundle, qbx starts it with $QUIBEX_SOCKET set: it connects there)

--demo (or NOTES_DEMO=1) clicks through the page by itself and prints what it did.
"""
import itertools, json, os, shutil, socket, subprocess, sys, tempfile, threading

HERE = os.path.dirname(os.path.abspath(__file__))
PAGES = os.path.normpath(os.path.join(HERE, '..', 'frontend'))
NOTES = os.path.join(os.path.expanduser('~'), 'Notes')  # where new notes are proposed
ABOUT_CALLS = {'client.hello', 'client.capabilities', 'win.close', 'log'}


def escape(text):
    """Wire escaping, for the fields the host unescapes (EVAL, CLIPWRITE, NOTIFY actions)."""
    return text.replace('\\', '\\\\').replace('\n', '\\n').replace('\t', '\\t').replace('\r', '\\r')


def raw(text):
    """Raw fields (titles, dialog texts) must hold no line break, TAB or other control character."""
    return ''.join(' ' if ord(c) < 32 or ord(c) == 127 else c for c in str(text))


class Host:
    """The socket to the host: one line per message; GOT answers are matched by id."""

    def __init__(self, sock):
        self.sock, self.lock, self.ids = sock, threading.Lock(), itertools.count(1)
        self.answers = {}  # answer id -> [threading.Event, value]

    def send(self, line):
        with self.lock:
            self.sock.sendall((line + '\n').encode())

    def ask(self, make_line):
        """Sends the command make_line(n) with a fresh number n and waits for GOT n.
        Request ids are numbers; a dialog's is q<n>, which the host answers as GOT <n>."""
        n = str(next(self.ids))
        slot = self.answers[n] = [threading.Event(), None]
        self.send(make_line(n))
        slot[0].wait()
        return self.answers.pop(n)[1]

    def emit(self, event, data=None, window='main'):
        """Pushes an event to a page: every handler it registered for `event` runs."""
        self.send('EVAL@%s window.__emit(%s)' % (window, escape(json.dumps({'event': event, 'data': data}))))

    def lines(self):
        for line in self.sock.makefile('r', encoding='utf-8', errors='replace', newline='\n'):
            line = line.rstrip('\n')
            if line.startswith('GOT '):
                n, _, value = line[4:].partition(' ')
                slot = self.answers.get(n)
                if slot:
                    slot[1] = json.loads(value)
                    slot[0].set()
            else:
                yield line


class Notes:
    def __init__(self, host, demo=False):
        self.host, self.demo, self.path = host, demo, None
        self.done = {}  # method -> threading.Event, for the demo to wait on
        self.served = {'client.hello', 'client.capabilities', 'note.ready', 'note.new', 'note.open',
                       'note.save', 'clip.write', 'clip.read', 'win.open', 'win.close', 'win.windows', 'log'}

    def start(self):
        self.host.send('TITLE@main Notes')
        for line in [
            # The menu bar: File, and the stock Edit menu. The host puts its application menu
            # (About, Quit with Control-Q) first; that Quit ends the host without a MENU line.
            'MENUBEGIN', 'MENU File', 'ITEM file.new\tNew\tcmd+n', 'ITEM file.open\tOpen…\tcmd+o',
            'ITEM file.save\tSave\tcmd+s', 'SEP', 'ITEM file.quit\tQuit\tcmd+q', 'MENUROLE edit', 'MENUEND',
            # The tray item: title, an icon-theme icon, not a template, tooltip, clicks open the menu.
            'TRAYBEGIN Notes\tsf:accessories-text-editor\t0\tNotes\t0', 'ITEM tray.new\tNew note',
            'ITEM tray.copy\tCopy note', 'ITEM tray.show\tShow Notes', 'SEP', 'ITEM tray.quit\tQuit Notes', 'TRAYEND']:
            self.host.send(line)

    # Lines from the host come here, each on a thread of its own: a handler may wait for
    # an answer (an open panel can be up for minutes) while other lines keep coming.
    def handle(self, line):
        word, _, rest = line.partition(' ')
        if word == 'CALL':  # CALL <window>:<n> [<payload>,<origin>]
            call_id, _, body = rest.partition(' ')
            payload, origin = json.loads(body)  # the page's text is JSON again (or should be)
            try:
                call = json.loads(payload)
            except ValueError:
                call = None
            return self.serve(call_id, origin, call if isinstance(call, dict) else {})
        if word in ('NAVQ', 'POPUPQ'):  # a page wants to leave our files: web links go to the browser
            qid, _, fields = rest.partition(' ')
            url = fields.split('\t')[1 if word == 'NAVQ' else 2]
            answer = 'external' if url.startswith('https://') else 'deny'
            return self.host.send('%s %s %s' % ('NAVR' if word == 'NAVQ' else 'POPUPR', qid, answer))
        if line in ('MENU file.quit', 'TRAY tray.quit'):
            return self.host.send('QUIT')
        if line == 'TRAY tray.show':
            return self.host.send('WINOP@main show')
        if word == 'MENU':  # the page has the note: it carries out File > New, Open…, Save
            return self.host.emit('menu', {'id': rest})
        if word == 'TRAY':  # New note, Copy note: the page's too
            return self.host.emit('tray', {'id': rest})
        if word == 'NOTIFYACTION' and rest.split('\t')[1] == 'open-folder' and self.path:
            answer = self.host.ask(lambda n: 'SHELL %s open\t%s' % (n, escape(os.path.dirname(self.path))))
            return print('notes: open folder', json.dumps(answer), flush=True)
        if word == 'WINCLOSED':
            return self.host.emit('windows-changed')  # the page's window list refreshes

    def serve(self, call_id, origin, call):
        window, _, number = call_id.partition(':')
        if not number.isdigit():
            return  # <window>:s<n> would be a frame's call: never answered
        method, params = call.get('method'), call.get('params')
        params = params if isinstance(params, dict) else {}
        # Who calls, before what: our pages are files, in our two windows; the About
        # window may only close itself. Anything else (a page a link brought in) gets nothing.
        allowed = self.served if window == 'main' else ABOUT_CALLS if window == 'about' else ()
        if origin != 'file://' or method not in allowed:
            return self.ret(call_id, {'error': 'not allowed: %s' % method}, status=1)
        try:
            result = getattr(self, 'do_' + method.replace('.', '_'))(params, window)
        except (OSError, ValueError) as e:
            return self.ret(call_id, {'error': str(e)}, status=1)
        self.ret(call_id, result)
        self.done.setdefault(method, threading.Event()).set()

    def ret(self, call_id, value, status=0):
        self.host.send('RET %s %d %s' % (call_id, status, json.dumps(value)))

    def do_client_hello(self, params, window):
        return {'ok': True}

    def do_client_capabilities(self, params, window):
        no = {'why': 'Notes does not offer this'}
        return {'calls': {m: (m in self.served) or no for m in params.get('calls', [])},
                'events': {e: (e in ('menu', 'tray')) or no for e in params.get('events', [])}}

    def do_note_ready(self, params, window):  # the page's handlers are in place
        return {'demo': self.demo}

    def do_note_new(self, params, window):
        self.path = None
        self.host.send('TITLE@main Notes')
        return {'ok': True}

    def do_note_open(self, params, window):
        # The backend asks for the file itself: the page never names a path to read.
        path = self.host.ask(lambda n: 'DLG q%s open\ttxt,md' % n)
        if path is None:
            return None
        with open(path, encoding='utf-8', errors='replace') as f:
            text = f.read(1 << 20)
        self.path = path
        self.host.send('TITLE@main ' + raw(os.path.basename(path)) + ' – Notes')
        return {'name': os.path.basename(path), 'text': text}

    def do_note_save(self, params, window):
        if self.path is None:  # a new note: propose ~/Notes/Untitled.txt
            os.makedirs(NOTES, exist_ok=True)
            self.path = self.host.ask(lambda n: 'DLG q%s save\ttxt\t%s' % (n, raw(os.path.join(NOTES, 'Untitled.txt'))))
            if self.path is None:
                return None
        with open(self.path, 'w', encoding='utf-8') as f:
            f.write(str(params.get('text', '')))
        name = os.path.basename(self.path)
        self.host.send('TITLE@main ' + raw(name) + ' – Notes')
        # Shown in bundle mode only; "Open folder" comes back as NOTIFYACTION.
        actions = json.dumps([{'id': 'open-folder', 'title': 'Open folder'}])
        self.host.send('NOTIFY saved\tSaved\t%s\t%s\t0\t%s' % (raw(name + ' was saved.'), raw(os.path.dirname(self.path)),
                                                              escape(actions)))
        return {'name': name, 'path': self.path}

    def do_clip_write(self, params, window):
        self.host.send('CLIPWRITE ' + escape(str(params.get('text', ''))))
        return {'ok': True}

    def do_clip_read(self, params, window):
        return self.host.ask(lambda n: 'GET %s clipboard' % n)

    def do_win_open(self, params, window):
        # The backend decides what a window shows; the page only asks for "about".
        if params.get('id') != 'about':
            raise ValueError('no such window')
        self.host.send('WINOPEN about\t%s\tAbout Notes\t360x220' % os.path.join(PAGES, 'about.html'))
        self.host.emit('windows-changed')
        return {'ok': True}

    def do_win_close(self, params, window):
        # The About page closes itself; the main page may close About, or end the application.
        target = params.get('id', window) if window == 'main' else window
        self.host.send('QUIT' if target == 'main' else 'WINCLOSE ' + raw(target))
        return {'ok': True}

    def do_win_windows(self, params, window):
        return self.host.ask(lambda n: 'GET %s windows' % n)

    def do_log(self, params, window):
        print('page:', params.get('msg'), flush=True)


def run_demo(notes):
    """Goes through the application as a user would, each step by the line a click
    would cause, and prints it; then the application is the user's."""
    def step(method, line):
        notes.done.pop(method, None)
        notes.host.send(line)
        if not notes.done.setdefault(method, threading.Event()).wait(20):
            sys.exit('demo: %s never came' % method)
        print('demo:', method, flush=True)

    def page(script):
        return 'EVAL@main ' + escape(script)
    notes.done.setdefault('note.ready', threading.Event()).wait(20)  # the page is up
    notes.host.send(page('note.value = "Milk, eggs, tea"'))  # typing
    step('note.save', page('window.__emit({event: "menu", data: {id: "file.save"}})'))  # File > Save
    for button, method in [('copy', 'clip.write'), ('paste', 'clip.read'), ('about', 'win.open'),
                           ('refresh', 'win.windows')]:
        step(method, page('document.getElementById("%s").click()' % button))
    step('log', page('setTimeout(() => quib.log("state " + JSON.stringify(pageState())), 300)'))


def main():
    args = sys.argv[1:]
    host_bin = args[args.index('--host') + 1] if '--host' in args else shutil.which('quibex') or 'quibex'
    demo = '--demo' in args or os.environ.get('NOTES_DEMO') == '1'
    proc = None
    if os.environ.get('QUIBEX_SOCKET'):  # bundle mode: the host listens, we connect
        sock = socket.socket(socket.AF_UNIX)
        sock.connect(os.environ['QUIBEX_SOCKET'])
    else:  # command-line mode: we listen, then start the host
        folder = tempfile.mkdtemp(prefix='notes-')
        server = socket.socket(socket.AF_UNIX)
        server.bind(os.path.join(folder, 'notes.sock'))
        server.listen(1)
        server.settimeout(0.2)
        proc = subprocess.Popen([host_bin, os.path.join(PAGES, 'index.html'), server.getsockname(),
                                 'Notes', '760x480', '1.0'])
        while True:
            try:
                sock = server.accept()[0]
                break
            except socket.timeout:
                if proc.poll() is not None:
                    sys.exit('notes: the host ended (%d) before it connected' % proc.returncode)
        sock.settimeout(None)
        server.close()
        shutil.rmtree(folder)
    notes = Notes(Host(sock), demo)
    notes.start()
    if demo:
        threading.Thread(target=run_demo, args=(notes,), daemon=True).start()
    for line in notes.host.lines():
        threading.Thread(target=notes.handle, args=(line,), daemon=True).start()
    sys.exit(proc.wait() if proc else 0)  # the host closed the socket: the session is over


if __name__ == '__main__':
    main()
