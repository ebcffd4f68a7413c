#pragma once
// The on-device model on Linux: a model server on this machine (llama.cpp's
// server, Ollama and the like) reached over HTTP with the OpenAI-compatible
// chat-completions protocol. This file holds where it is and how one request
// reaches it; model_bridge.cc speaks the protocol.

#include <functional>
#include <string>

#include "platform/http.h"

struct AiServerConfig {
  std::string url;            // base URL, "http://127.0.0.1:8080"; "" = no server set
  std::string model;          // sent as the request's model; "" = the server's own choice
  bool allow_remote = false;  // a host off this machine is accepted
};

// Set once by start-up; read by the AI queue and the tool threads.
void ai_set_server_config(const AiServerConfig& config);
AiServerConfig ai_server_config();

using platform::HttpCut;
using platform::HttpRequest;
using platform::HttpResponse;

using HttpTransport = std::function<HttpResponse(const HttpRequest&)>;

// One exchange through the desktop's HTTP client, blocking the calling thread;
// safe on any thread. Without a client it fails with the reason.
HttpResponse http_send(const HttpRequest& request);
// The exchange the bridge uses: http_send, or what a test put in its place.
HttpResponse ai_http(const HttpRequest& request);
void ai_set_transport_for_tests(HttpTransport transport);  // empty = http_send

// Whether the desktop's HTTP client could be set up at all; without it the
// bridge cannot work.
bool ai_http_ready();
// Checks the configured base URL before anything is sent: "" when usable, else
// the reason, worded for the user.
std::string ai_check_server(const AiServerConfig& config);
// Whether host (as an URL gives it: "127.0.0.1", "[::1]", "localhost") names
// this machine's loopback interface.
bool ai_host_is_loopback(const std::string& host);
// The full address of a protocol path ("/chat/completions") under the base URL;
// a base that already ends in "/v1" is not given a second one.
std::string ai_endpoint(const std::string& base, const std::string& path);
