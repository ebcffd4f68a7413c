// The registry of the current desktop: what main() or a test installs, and what
// every folder above reaches it by. Installing happens before anything runs
// (speech, made on first use from any thread, has a lock of its own).

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/audio.h"
#include "platform/capture.h"
#include "platform/clipboard.h"
#include "platform/desktop_keys.h"
#include "platform/desktop_shell.h"
#include "platform/dock.h"
#include "platform/http.h"
#include "platform/notifications.h"
#include "platform/platform.h"
#include "platform/speech.h"
#include "platform/system_access.h"
#include "platform/system_events.h"
#include "platform/system_info.h"

namespace platform {

namespace {

// The installed object of one interface; null until installed.
template <class T>
T*& slot() {
  static T* installed = nullptr;
  return installed;
}

}  // namespace

Platform& current() {
  if (!slot<Platform>()) {
    std::fputs("quibex: no platform installed\n", stderr);
    std::abort();
  }
  return *slot<Platform>();
}
void install(Platform* p) { slot<Platform>() = p; }

Application* application() { return slot<Application>(); }
void install_application(Application* app) { slot<Application>() = app; }
AppInstance* app_instance() { return slot<AppInstance>(); }
void install_app_instance(AppInstance* instance) { slot<AppInstance>() = instance; }

AudioServer* audio_server() { return slot<AudioServer>(); }
void install_audio_server(AudioServer* server) { slot<AudioServer>() = server; }
ScreenCapture* screen_capture() { return slot<ScreenCapture>(); }
void install_screen_capture(ScreenCapture* c) { slot<ScreenCapture>() = c; }
Clipboard* clipboard() { return slot<Clipboard>(); }
void install_clipboard(Clipboard* c) { slot<Clipboard>() = c; }
Notifier* notifier() { return slot<Notifier>(); }
void install_notifier(Notifier* n) { slot<Notifier>() = n; }
Dock* dock() { return slot<Dock>(); }
void install_dock(Dock* d) { slot<Dock>() = d; }
DesktopShell* desktop_shell() { return slot<DesktopShell>(); }
void install_desktop_shell(DesktopShell* shell) { slot<DesktopShell>() = shell; }
DesktopKeys* desktop_keys() { return slot<DesktopKeys>(); }
void install_desktop_keys(DesktopKeys* keys) { slot<DesktopKeys>() = keys; }
SystemEvents* system_events() { return slot<SystemEvents>(); }
void install_system_events(SystemEvents* events) { slot<SystemEvents>() = events; }
Permissions* permissions() { return slot<Permissions>(); }
void install_permissions(Permissions* p) { slot<Permissions>() = p; }
SystemAccess* system_access() { return slot<SystemAccess>(); }
void install_system_access(SystemAccess* access) { slot<SystemAccess>() = access; }
HttpClient* http_client() { return slot<HttpClient>(); }
void install_http_client(HttpClient* client) { slot<HttpClient>() = client; }
SystemInfo* system_info() { return slot<SystemInfo>(); }
void install_system_info(SystemInfo* info) { slot<SystemInfo>() = info; }

// ---- speech, made on first use ----

namespace {

std::mutex g_speech_mu;
std::function<std::unique_ptr<Speech>()> g_factory;
std::unique_ptr<Speech> g_speech;
// A lock of its own: the speech factory asks for an output while g_speech_mu is held.
std::mutex g_output_mu;
std::function<std::unique_ptr<SpeechOutput>()> g_output_factory;

}  // namespace

Speech* speech() {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  if (!g_speech && g_factory) g_speech = g_factory();
  return g_speech.get();
}

Speech* running_speech() {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  return g_speech.get();
}

void install_speech_factory(std::function<std::unique_ptr<Speech>()> factory) {
  std::lock_guard<std::mutex> lock(g_speech_mu);
  g_factory = std::move(factory);
}

void reset_speech() {
  std::unique_ptr<Speech> gone;
  {
    std::lock_guard<std::mutex> lock(g_speech_mu);
    gone.swap(g_speech);
  }
}

void install_speech_output(std::function<std::unique_ptr<SpeechOutput>()> make) {
  std::lock_guard<std::mutex> lock(g_output_mu);
  g_output_factory = std::move(make);
}

std::unique_ptr<SpeechOutput> make_speech_output() {
  std::lock_guard<std::mutex> lock(g_output_mu);
  return g_output_factory ? g_output_factory() : nullptr;
}

}  // namespace platform
