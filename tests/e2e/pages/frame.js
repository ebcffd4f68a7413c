// Runs inside an iframe: tries every way a frame might reach the host, then tells the
// parent page what it tried.
window.frameAttack = function (name) {
  const r = {
    name,
    webkit: typeof window.webkit,
    quib: typeof window.quib,
    invoke: typeof window.__invoke,
    posted: 0,
    errors: [],
  };
  const handlers = window.webkit && window.webkit.messageHandlers;
  for (let n = 1; n <= 12; n++) {
    try {
      handlers.quib.postMessage(n + ':{"method":"evil","params":{"from":"' + name + '","n":' + n + '}}');
      r.posted++;
    } catch (e) {
      r.errors.push(String(e));
      break;
    }
  }
  try {
    if (typeof window.__invoke === 'function') {
      window.__invoke('{"method":"evil","params":{"from":"' + name + '-invoke"}}');
      r.invoked = true;
    }
    if (window.quib && window.quib.api) {
      window.quib.api.call('evil', { from: name + '-quib' });
      r.called = true;
    }
  } catch (e) {
    r.errors.push(String(e));
  }
  parent.postMessage({ frameReport: r }, '*');
};
