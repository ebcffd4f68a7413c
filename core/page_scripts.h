#pragma once
// Scripts the host injects into pages, embedded at build time.

// The page client library (window.quib, window.__emit, window.__quibSampler).
extern const char QUIB_CLIENT_JS[];
// The bridge shim (core/js/quib_shim.js), with its window-id mark in place; the
// page bridge fills the mark in (quib_shim_js).
extern const char QUIB_SHIM_JS[];
