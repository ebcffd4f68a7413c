// The HTTP client on libcurl: one easy handle per exchange, on the caller's
// thread. A loopback-only exchange refuses every address off this machine where
// the socket is opened, and ignores proxies from the environment.

#include "platform/curl/curl_http.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "platform/module_entry.h"

namespace platform::curl {

namespace {

// An answer larger than this is no chat answer; stop reading rather than fill memory.
constexpr size_t kMaxAnswer = size_t(64) << 20;

// Names resolve at connect time (a hosts file may point "localhost" anywhere),
// so the address itself is checked where the socket is opened.
curl_socket_t open_loopback_socket(void*, curlsocktype, curl_sockaddr* addr) {
  if (!address_is_loopback(&addr->addr)) return CURL_SOCKET_BAD;
  return socket(addr->family, addr->socktype | SOCK_CLOEXEC, addr->protocol);
}

size_t collect(char* data, size_t size, size_t n, void* out) {
  auto* body = static_cast<std::string*>(out);
  if (body->size() + size * n > kMaxAnswer) return 0;
  body->append(data, size * n);
  return size * n;
}

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The stall bound of one exchange. libcurl calls the progress function at least
// about once a second, also while nothing moves.
struct StallWatch {
  long stall_ms = 0;
  Clock::time_point last = Clock::now();
  curl_off_t moved = -1;
  bool answering = false;  // a line of the answer's head has come
  bool stalled = false;
};

int watch_progress(void* p, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
  auto* w = static_cast<StallWatch*>(p);
  const bool sending = ultotal > 0 && ulnow < ultotal;
  if (dlnow + ulnow != w->moved || !(sending || w->answering)) {
    // Bytes moved, or the request is out and the model is at work: a silence
    // then is no stall, however long.
    w->moved = dlnow + ulnow;
    w->last = Clock::now();
    return 0;
  }
  if (ms_since(w->last) < w->stall_ms) return 0;
  w->stalled = true;
  return 1;
}

size_t watch_header(char*, size_t size, size_t n, void* p) {
  auto* w = static_cast<StallWatch*>(p);
  w->answering = true;
  w->last = Clock::now();
  return size * n;
}

class CurlHttp : public HttpClient {
 public:
  bool ready() override {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
  }

  bool url_parts(const std::string& url, std::string& scheme, std::string& host) override {
    CURLU* u = curl_url();
    bool ok = false;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
      char* h = nullptr;
      if (curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK && h) host = h, ok = true;
      curl_free(h);
      char* s = nullptr;
      if (curl_url_get(u, CURLUPART_SCHEME, &s, 0) == CURLUE_OK && s) scheme = s;
      curl_free(s);
    }
    curl_url_cleanup(u);
    return ok;
  }

  HttpResponse send(const HttpRequest& r) override {
    HttpResponse out;
    if (!ready()) {
      out.error = "the HTTP library could not be set up";
      return out;
    }
    CURL* h = curl_easy_init();
    if (!h) {
      out.error = "the HTTP library could not be set up";
      return out;
    }
    char errbuf[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: application/json");
    // A large body would first wait for "100 Continue": an answer's head that
    // comes before the model has worked, which the stall bound would misread.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    if (r.timeout_ms > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, r.timeout_ms);
    if (r.loopback_only) {
      // A proxy from the environment would carry the prompt off the machine.
      curl_easy_setopt(h, CURLOPT_PROXY, "");
      curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, open_loopback_socket);
    }
    if (!r.body.empty()) {
      headers = curl_slist_append(headers, "Content-Type: application/json");
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, r.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body.size()));
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &out.body);
    StallWatch watch;
    watch.stall_ms = r.stall_ms;
    if (r.stall_ms > 0) {
      curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, watch_progress);
      curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
      curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, watch_header);
      curl_easy_setopt(h, CURLOPT_HEADERDATA, &watch);
    }
    const Clock::time_point start = Clock::now();
    const CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OK) {
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &out.status);
    } else if (rc == CURLE_ABORTED_BY_CALLBACK && watch.stalled) {
      out.cut = HttpCut::Stalled;
      out.error = "nothing came for " + std::to_string(r.stall_ms) + " ms";
    } else if (rc == CURLE_OPERATION_TIMEDOUT && r.timeout_ms > 0 && ms_since(start) + 100 >= r.timeout_ms) {
      // libcurl's clock may read a millisecond short of ours; a connection
      // attempt that gave up on its own 5 s bound ends well before a longer one.
      out.cut = HttpCut::TimedOut;
      out.error = "no complete answer within " + std::to_string(r.timeout_ms) + " ms";
    } else if (rc == CURLE_WRITE_ERROR) {
      out.error = "the answer is larger than 64 MiB";
    } else if (rc == CURLE_COULDNT_CONNECT && r.loopback_only && std::strstr(errbuf, "socket") != nullptr) {
      out.error = "the server's address is not on this machine";
    } else {
      out.error = errbuf[0] ? errbuf : curl_easy_strerror(rc);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    return out;
  }
};

}  // namespace

HttpClient& curl_http_client() {
  static auto* client = new CurlHttp;
  return *client;
}

}  // namespace platform::curl

QUIBEX_MODULE_ENTRY(quibex_http_module) { return &platform::curl::curl_http_client(); }
