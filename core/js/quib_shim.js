// The page side of the bridge: window.__invoke, window.__quibResolve and
// window.__quibAnswers. Runs first in every document of a window; the host puts
// the window's id in place of the mark between the quotes below.
// Texts as core/page_messages.h describes them: the calls of one turn go out
// together, each under its own number, after the turn's own code has run.
(() => {
  if (window.__quibShim) return; window.__quibShim = true;
  window.__QUIB_WIN = '@QUIB_WIN@';
  const MAX = 1000; // calls in one message
  const soon = queueMicrotask; // as it was before the page's scripts ran
  let seq = 0;
  const pending = {};
  let queue = []; // number, text, number, text, ...
  let flushing = false;
  let wantWay = false;
  const settle = (s, ok, jsonText) => {
    const p = pending[s]; if (!p) return; delete pending[s];
    let v = null; try { v = JSON.parse(jsonText); } catch (e) {}
    ok ? p.res(v) : p.rej(v);
  };
  // A message that cannot go out rejects its calls, as the post would have.
  const post = (text, calls, from, to) => {
    try {
      window.webkit.messageHandlers.quib.postMessage(text);
    } catch (e) {
      for (let i = from; i < to; i += 2) {
        const p = pending[calls[i]];
        if (p) { delete pending[calls[i]]; p.rej(e); }
      }
    }
  };
  const flush = () => {
    flushing = false;
    const q = queue; queue = [];
    // A call alone keeps its way back for its own answer; asked for a way back,
    // the page sends even one call in the batch form, whose way back any answer
    // may take (else an answer waiting for one could wait for good).
    if (q.length === 2 && !wantWay) {
      post(q[0] + ':' + q[1], q, 0, 2);
    } else {
      for (let i = 0; i < q.length; i += 2 * MAX) {
        const end = Math.min(q.length, i + 2 * MAX);
        let text = '*';
        for (let j = i; j < end; j += 2) text += q[j] + ':' + q[j + 1].length + ':' + q[j + 1];
        post(text, q, i, end);
      }
    }
    if (wantWay && !q.length) post('*', q, 0, 0);
    wantWay = false;
  };
  const later = () => { if (!flushing) { flushing = true; soon(flush); } };
  window.__invoke = (payload) => new Promise((res, rej) => {
    const s = ++seq; const text = String(payload);
    pending[s] = { res, rej };
    queue.push(s, text);
    later();
  });
  window.__quibResolve = settle;
  window.__quibAnswers = (t) => {
    if (typeof t !== 'string') return;
    for (let i = 1; i < t.length;) {
      const a = t.indexOf(':', i + 1); const b = a < 0 ? -1 : t.indexOf(':', a + 1);
      if (b < 0) break;
      const end = b + 1 + Number(t.slice(a + 1, b));
      if (!(end >= b + 1 && end <= t.length)) break;
      settle(Number(t.slice(i + 1, a)), t[i] === '1', t.slice(b + 1, end));
      i = end;
    }
    // Asked for after the settled calls' reactions have had their turn: calls
    // they make carry the way back in their batch.
    if (t[0] === '+') { wantWay = true; later(); }
  };
})();
