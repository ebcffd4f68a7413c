// Hooks the end-to-end tests drive through EVAL; results travel back as page calls.
window.probe = {
  report(tag, data) {
    return quib.api.call('report', Object.assign({ tag }, data)).catch(() => {});
  },
  // Makes a call and reports how its promise settled; mode "len" reports only the
  // length of the value's JSON text.
  call(tag, method, params, mode) {
    const out = (ok, value) =>
      probe.report(tag, mode === 'len' ? { ok, len: JSON.stringify(value).length } : { ok, value });
    quib.api.call(method, params).then((v) => out(true, v), (v) => out(false, v));
  },
};
// EVAL scripts may use probe once this has arrived.
quib.api.call('probe.ready').catch(() => {});
