#include "services/audio_watch.h"

#include <utility>

#include "platform/observers.h"

namespace {

platform::ObserverList<platform::AudioServer::Change>& observers() {
  static platform::ObserverList<platform::AudioServer::Change> list;
  return list;
}

platform::AudioServer* g_watched = nullptr;

}  // namespace

void audio_watch_join(int& token, AudioChangeFn fn) {
  if (!token) token = observers().add(std::move(fn));
  platform::AudioServer* server = platform::audio_server();
  if (!server || server == g_watched) return;
  g_watched = server;
  server->watch([](platform::AudioServer::Change change) { observers().notify(change); });
}

void audio_watch_reset() { g_watched = nullptr; }
