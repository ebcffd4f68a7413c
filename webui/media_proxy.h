#pragma once
// The media proxy: pages of trusted origins load remote audio and video through
// the host's own "quib-media" scheme, with headers that let the media feed the
// page's audio graph; the same trust list decides camera and microphone access.

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/media.h"

// A whole-string match where '*' matches any run of bytes, the empty one included.
bool media_glob(std::string_view pattern, std::string_view text);
// Whether an origin may use a capability ("proxy", "camera", "microphone"): file
// pages always may; other origins need a rule of the trust list.
bool media_trusted(const std::string& capability, const std::string& origin);
// The origin of a URL as the trust list names it: "scheme://host[:port]", the
// default port of http and https left out; "file://" for files; "null" without a
// scheme.
std::string url_origin_str(const std::string& url);

// What to do with a request of the page for a "quib-media" URL.
platform::MediaDecision media_decide(const platform::MediaRequest& request);
// The status and headers the page sees for an upstream response.
platform::MediaHead media_response_head(const platform::MediaUpstream& upstream);
// Camera and microphone: granted when the top document and every document that
// may have asked are trusted, else left to the desktop's prompt.
bool media_capture_trusted(const platform::CaptureRequest& request);

// Puts the scheme and the capture decision in place for every web view.
void install_media_scheme_hook();

// Forgets the trust list, so that the next use reads it again; for tests.
void media_trust_reset_for_tests();
