#pragma once
// The HTTP client on libcurl, built into its own module (libquibex-http.so) so
// that libcurl and its TLS stack load only when the first exchange is made.
// The module's entry, quibex_http_module, returns this client.

#include "platform/http.h"

namespace platform::curl {

// The one client; lives as long as the process.
HttpClient& curl_http_client();

}  // namespace platform::curl
