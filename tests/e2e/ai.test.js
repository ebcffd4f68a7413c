'use strict';
// The on-device model through the real host: a scripted model server on
// 127.0.0.1 speaking the chat-completions protocol, a scripted backend sending AI
// lines and answering AITOOL.
const { test, describe } = require('node:test');
const assert = require('node:assert/strict');
const http = require('node:http');
const h = require('./harness');

// A model server whose answers each test scripts: models() for the model list,
// chat(body, res) for each chat request (return an object to send it as JSON).
function modelServer() {
  const state = {
    requests: [],
    models: () => ({ object: 'list', data: [{ id: 'tiny', object: 'model' }] }),
    chat: () => ({ choices: [{ message: { role: 'assistant', content: 'default' } }] }),
  };
  const server = http.createServer((req, res) => {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      let answer;
      if (req.method === 'GET' && req.url === '/v1/models') {
        answer = state.models();
      } else if (req.method === 'POST' && req.url === '/v1/chat/completions') {
        const parsed = JSON.parse(body);
        state.requests.push(parsed);
        answer = state.chat(parsed, res);
      } else {
        res.writeHead(404);
        res.end();
        return;
      }
      if (answer === undefined) return; // chat() answered or dropped the connection itself
      res.writeHead(200, { 'content-type': 'application/json' });
      res.end(JSON.stringify(answer));
    });
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      state.url = `http://127.0.0.1:${server.address().port}`;
      state.close = () => new Promise((r) => { server.closeAllConnections(); server.close(r); });
      resolve(state);
    });
  });
}

const text = (content) => ({ choices: [{ message: { role: 'assistant', content } }] });
const calls = (...list) => ({
  choices: [{
    message: {
      role: 'assistant', content: null,
      tool_calls: list.map(([id, name, args]) => ({ id, type: 'function', function: { name, arguments: args } })),
    },
  }],
});

let asked = 0;
// Sends an AI line and returns the parsed answer of its GOT line.
async function ai(b, op, fields = [], ms) {
  const id = 'ai' + (++asked);
  b.send(`AI ${op} ${id}` + (fields.length ? ' ' + fields.map(h.wireEscape).join('\t') : ''));
  return b.answer(id, ms);
}

function aitool(line) {
  const m = /^AITOOL (\d+) ([^\t]*)\t(.*)$/.exec(line);
  assert.ok(m, line);
  return { id: Number(m[1]), name: m[2], args: m[3] };
}
const isTool = (l) => l.startsWith('AITOOL ');

async function windowless(x, env) {
  return h.startSession({ display: x.display, env: { QUIBEX_NO_MAIN_WINDOW: '1', ...env } });
}

describe('on-device model', () => {
  const { x } = h.setUp();

  test('without a model server: unavailable, and a generation says how to set one', async () => {
    const s = await windowless(x, { QUIBEX_AI_URL: undefined, QUIBEX_AI_MODEL: undefined });
    try {
      assert.deepEqual(await ai(s.backend, 'available'), { ok: true, status: 'unavailable' });
      const r = await ai(s.backend, 'gen', ['Hello']);
      assert.equal(r.ok, false);
      assert.match(r.error, /QUIBEX_AI_URL/);
    } finally { await s.close(); }
  });

  test('a server that cannot be reached or lies off this machine is unavailable', async () => {
    const gone = await modelServer();
    await gone.close();
    for (const url of [gone.url, 'http://10.255.255.1:8080']) {
      const s = await windowless(x, { QUIBEX_AI_URL: url });
      try {
        assert.deepEqual(await ai(s.backend, 'available'), { ok: true, status: 'unavailable' }, url);
        const r = await ai(s.backend, 'gen', ['secret']);
        assert.equal(r.ok, false, url);
        assert.match(r.error, url === gone.url ? /cannot reach the model server/ : /not on this machine/);
      } finally { await s.close(); }
    }
  });

  describe('with a model server', () => {
    const { m, s } = h.setUp({ display: false, more: {
      m: modelServer,
      s: (p) => windowless(x, { QUIBEX_AI_URL: p.m.url, QUIBEX_AI_MODEL: 'tiny' }),
    } });

    test('available, and not when the named model is missing', async () => {
      assert.deepEqual(await ai(s.backend, 'available'), { ok: true, status: 'available' });
      m.models = () => ({ data: [{ id: 'other' }] });
      assert.deepEqual(await ai(s.backend, 'available'), { ok: true, status: 'unavailable' });
      m.models = () => ({ data: [{ id: 'tiny' }] });
    });

    test('a plain generation: instructions, prompt and model reach the server; text comes back in one line', async () => {
      m.requests = [];
      m.chat = () => text('Hi "there"\n\tbye\\');
      const r = await ai(s.backend, 'gen', ['Say hi\n', 'Be brief']);
      assert.deepEqual(r, { ok: true, text: 'Hi "there"\n\tbye\\' });
      assert.equal(m.requests.length, 1);
      const body = m.requests[0];
      assert.equal(body.model, 'tiny');
      assert.deepEqual(body.messages, [{ role: 'system', content: 'Be brief' }, { role: 'user', content: 'Say hi\n' }]);
      assert.equal(body.tools, undefined);
    });

    test('the model calls a declared tool; the backend answers it; the final text arrives', async () => {
      m.requests = [];
      m.chat = (body) => (body.messages.length === 1
        ? calls(['c1', 'add', '{"a":2,"b":3}'])
        : text(`sum is ${body.messages[body.messages.length - 1].content}`));
      const tools = JSON.stringify([{ name: 'add', description: 'Adds', parameters: { a: 'number', b: { type: 'int', description: 'second' } } }]);
      const id = 'ai' + (++asked);
      s.backend.send(`AI gen ${id} ${h.wireEscape('What is 2+3?')}\t\t${h.wireEscape(tools)}`);
      const call = aitool(await s.backend.expectLine(isTool));
      assert.equal(call.name, 'add');
      assert.deepEqual(JSON.parse(call.args), { a: 2, b: 3 });
      s.backend.send(`AITOOLRESULT ${call.id} 5`);
      const got = await s.backend.expectLine((l) => l.startsWith(`GOT ${id} `));
      assert.deepEqual(JSON.parse(got.slice(id.length + 5)), { ok: true, text: 'sum is 5' });
      const declared = m.requests[0].tools;
      assert.equal(declared.length, 1);
      assert.deepEqual(declared[0].function.parameters.properties,
        { a: { type: 'number' }, b: { type: 'integer', description: 'second' } });
      assert.deepEqual(declared[0].function.parameters.required, ['a', 'b']);
      assert.deepEqual(m.requests[1].messages[2], { role: 'tool', tool_call_id: 'c1', content: '5' });
    });

    test('two tool calls at once, answered in the opposite order; ids keep rising', async () => {
      m.requests = [];
      m.chat = (body) => (body.messages.length === 1
        ? calls(['x', 'f', '{"n":1}'], ['y', 'f', '{"n":2}'])
        : text(body.messages.slice(2).map((t) => `${t.tool_call_id}=${t.content}`).join(',')));
      const pending = ai(s.backend, 'gen', ['go', '', '[{"name":"f","parameters":{"n":"int"}}]']);
      const first = aitool(await s.backend.expectLine(isTool));
      const second = aitool(await s.backend.expectLine(isTool));
      assert.notEqual(first.id, second.id);
      s.backend.send(`AITOOLRESULT ${second.id} r${JSON.parse(second.args).n}`);
      s.backend.send(`AITOOLRESULT ${first.id} r${JSON.parse(first.args).n}`);
      assert.deepEqual(await pending, { ok: true, text: 'x=r1,y=r2' });
      // The next request's tool call gets a new id.
      m.chat = (body) => (body.messages.length === 1 ? calls(['z', 'f', '{"n":3}']) : text('ok'));
      const p2 = ai(s.backend, 'gen', ['again', '', '[{"name":"f"}]']);
      const third = aitool(await s.backend.expectLine(isTool));
      assert.ok(third.id > Math.max(first.id, second.id));
      s.backend.send(`AITOOLRESULT ${third.id} done`);
      assert.deepEqual(await p2, { ok: true, text: 'ok' });
    });

    test('servers that fail give a failed generation, and the queue goes on', async () => {
      const cases = [
        ['HTTP 500', (b, res) => { res.writeHead(500, { 'content-type': 'application/json' }); res.end('{"error":{"message":"boom"}}'); }, /HTTP 500: boom/],
        ['closed connection', (b, res) => { res.socket.destroy(); }, /cannot reach the model server/],
        ['invalid JSON', (b, res) => { res.writeHead(200); res.end('{"choices":['); }, /not valid JSON/],
        ['an undeclared tool', () => calls(['u', 'rm', '{}']), /not declared: rm/],
      ];
      for (const [what, chat, error] of cases) {
        m.chat = chat;
        const r = await ai(s.backend, 'gen', ['p', '', '[{"name":"f"}]']);
        assert.equal(r.ok, false, what);
        assert.match(r.error, error, what);
      }
      assert.equal(s.backend.lines.filter(isTool).filter((l) => / rm\t/.test(l)).length, 0);
      m.chat = () => text('still here');
      assert.deepEqual(await ai(s.backend, 'gen', ['p']), { ok: true, text: 'still here' });
    });

    test('a tool result that never comes: the model hears of the time-out, a late result is dropped', async () => {
      m.requests = [];
      m.chat = (body) => {
        const last = body.messages[body.messages.length - 1];
        if (body.messages.length === 1) return calls(['t1', 'slow', '{}']);
        if (body.messages.length === 3) return calls(['t2', 'slow', '{}']);
        return text(`first=${body.messages[2].content} second=${last.content}`);
      };
      const id = 'ai' + (++asked);
      s.backend.send(`AI gen ${id} wait\t\t[{"name":"slow"}]`);
      const first = aitool(await s.backend.expectLine(isTool));
      // An availability question does not wait for the generation.
      s.backend.send('AI available beside');
      const beside = await s.backend.expectLine((l) => l.startsWith('GOT beside '), 10000);
      assert.deepEqual(JSON.parse(beside.slice('GOT beside '.length)), { ok: true, status: 'available' });
      assert.equal(s.backend.lines.filter((l) => l.startsWith(`GOT ${id} `)).length, 0);
      const second = aitool(await s.backend.expectLine(isTool, 30000));
      assert.equal(second.id, first.id + 1);
      s.backend.send(`AITOOLRESULT ${first.id} too late`);
      s.backend.send(`AITOOLRESULT ${second.id} fresh`);
      const got = await s.backend.expectLine((l) => l.startsWith(`GOT ${id} `));
      assert.deepEqual(JSON.parse(got.slice(id.length + 5)),
        { ok: true, text: 'first={"error":"tool timed out"} second=fresh' });
    });

    test('a generation the server never answers holds up neither availability nor the exit', async () => {
      const own = await windowless(x, { QUIBEX_AI_URL: m.url });
      try {
        const seen = m.requests.length;
        m.chat = () => undefined; // never answers
        own.backend.send('AI gen stuck p');
        await h.until(() => m.requests.length > seen, 'the chat request');
        assert.deepEqual(await ai(own.backend, 'available', [], 10000), { ok: true, status: 'available' });
        own.backend.send('QUIT');
        await own.host.waitExit(5000);
      } finally { await own.close(); }
    });
  });
});
