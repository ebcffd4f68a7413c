#pragma once
// Scripts the host injects into pages, embedded at build time.

// The page client library (window.quib, window.__emit, window.__quibSampler).
extern const char QUIB_CLIENT_JS[];
