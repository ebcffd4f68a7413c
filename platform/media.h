#pragma once
// The "quib-media" scheme as the desktop serves it for the host: the host decides
// each request and the response's head; the desktop fetches and streams.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A page's request for a "quib-media" URL.
struct MediaRequest {
  std::string url;                      // the quib-media URL
  std::optional<std::string> accept;    // the Accept header, when sent
  std::optional<std::string> origin;    // the Origin header, when sent
  std::string document_url;             // the address of the page's document
  HeaderList headers;                   // every header the page sent
};

// Refused (403, with a stderr line), bad (400), or fetched from `target` with
// `headers`.
struct MediaDecision {
  enum Kind { kRefuse, kBadTarget, kFetch } kind = kRefuse;
  int code = 403;
  std::string message;
  std::string target;
  HeaderList headers;
};

// What the upstream answered, before the host's filter.
struct MediaUpstream {
  bool http = true;               // an HTTP response (else: no status, no headers)
  int status = 200;
  std::string mime;               // as the response gives it; "" = none
  std::int64_t length = -1;       // the announced body length; -1 = unknown
  HeaderList headers;
};

// What the page gets.
struct MediaHead {
  int status = 200;
  HeaderList headers;
};

// Camera and microphone requests of a page. The desktop may not know which of
// the page's documents asked: `frames` holds the origin of every document that
// may have, the top one's included; empty when even that is not known.
struct CaptureRequest {
  bool camera = false;
  bool microphone = false;
  std::string origin;               // the top document's origin
  std::vector<std::string> frames;  // the origins of the documents that may have asked
};

struct MediaScheme {
  std::function<MediaDecision(const MediaRequest&)> decide;
  std::function<MediaHead(const MediaUpstream&)> head;
  // true: grant; false: leave it to the desktop's own question.
  std::function<bool(const CaptureRequest&)> capture;
};

}  // namespace platform
