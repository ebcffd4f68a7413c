'use strict';
// Host overhead of the on-device model path against a scripted model server on
// 127.0.0.1 that answers at once (windowless host under Xvfb):
// - a plain generation: the AI line leaving the backend to its GOT line arriving;
// - a tool call: the AITOOL line arriving at the backend (which answers at once)
//   to the model server receiving the request that carries the result.
//   node bench/e2e/ai.js [runs]
const http = require('node:http');
const h = require('../../tests/e2e/harness');

const N = Number(process.argv[2] || 200);
const WARM = 20;
const now = () => performance.now();
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const fmt = (x) => x.toFixed(3);

async function main() {
  let onChat = () => {};
  const server = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', (d) => chunks.push(d));
    req.on('end', () => {
      const at = now();
      const body = JSON.parse(Buffer.concat(chunks).toString() || '{}');
      const msg = onChat(body, at);
      res.writeHead(200, { 'content-type': 'application/json' });
      res.end(JSON.stringify({ choices: [{ message: msg }] }));
    });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  const x = await h.startDisplay();
  const s = await h.startSession({
    display: x.display,
    env: { QUIBEX_NO_MAIN_WINDOW: '1', QUIBEX_AI_URL: `http://127.0.0.1:${server.address().port}` },
  });
  try {
    const b = s.backend;
    let waiting = null;
    let toolSeenAt = 0;
    b.onLine = (line) => {
      if (line.startsWith('AITOOL ')) {
        toolSeenAt = now();
        b.send(`AITOOLRESULT ${line.slice(7, line.indexOf(' ', 7))} 42`);
        return true;
      }
      if (line.startsWith('GOT ') && waiting) { waiting(); return true; }
      return false;
    };
    const ask = (line) => new Promise((resolve) => { waiting = resolve; b.send(line); });

    // Plain generations.
    onChat = () => ({ role: 'assistant', content: 'ok' });
    const gen = [];
    for (let i = 0; i < N + WARM; i++) {
      const t0 = now();
      await ask(`AI gen g${i} hello`);
      if (i >= WARM) gen.push(now() - t0);
    }

    // One tool call per generation.
    const tool = [];
    onChat = (body, at) => {
      if (body.messages.length === 1) {
        return { role: 'assistant', content: null,
          tool_calls: [{ id: 'c', type: 'function', function: { name: 'f', arguments: '{}' } }] };
      }
      tool.push(at - toolSeenAt);
      return { role: 'assistant', content: 'done' };
    };
    for (let i = 0; i < N + WARM; i++) await ask(`AI gen t${i} go\t\t[{"name":"f"}]`);
    tool.splice(0, WARM);

    console.log(`plain generation, AI line to GOT: median ${fmt(median(gen))} ms over ${gen.length} runs`);
    console.log(`tool call, AITOOL to the next model request: median ${fmt(median(tool))} ms over ${tool.length} runs`);
    console.log(`host overhead: ${fmt(median(gen))} ms per generation, ${fmt(median(tool))} ms per tool call`);
  } finally {
    await s.close();
    await x.stop();
    server.close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
