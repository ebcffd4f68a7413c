// The AI tests' HTTP client: libcurl's, as the desktop's module serves it,
// installed before any test runs.

#include "platform/curl/curl_http.h"

namespace {

const bool installed = (platform::install_http_client(&platform::curl::curl_http_client()), true);

}  // namespace
