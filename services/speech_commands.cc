// SAY, SAYSTOP and VOICES. Every SAY waits in one table until it is answered; the
// speech thread's end of an utterance and SAYSTOP both answer through it, under
// its lock, so each SAY is answered exactly once.

#include "services/speech_commands.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/answers.h"
#include "base/json_out.h"
#include "core/records.h"
#include "platform/speech.h"

namespace {

std::mutex g_say_mu;
std::map<std::uint64_t, std::string> g_pending;  // in the order the SAYs came
std::uint64_t g_next_token = 0;

void finish(std::uint64_t token, bool ok) {
  std::lock_guard<std::mutex> lock(g_say_mu);
  auto it = g_pending.find(token);
  if (it == g_pending.end()) return;  // SAYSTOP answered it
  send_got(it->second, ok_json(ok));
  g_pending.erase(it);
}

const char* quality_word(int q) { return q == 3 ? "premium" : q == 2 ? "enhanced" : "default"; }

}  // namespace

void do_say(void*, std::unique_ptr<SayReq> req) {
  std::uint64_t token;
  {
    std::lock_guard<std::mutex> lock(g_say_mu);
    token = ++g_next_token;
    g_pending.emplace(token, req->id);
  }
  platform::Speech* q = platform::speech();
  if (!q) return finish(token, false);  // this desktop cannot speak
  q->speak(platform::Utterance{req->text, req->voice, req->rate}, [token](bool ok) { finish(token, ok); });
}

void do_saystop(void*) {
  {
    std::lock_guard<std::mutex> lock(g_say_mu);
    for (const auto& [token, id] : g_pending) send_got(id, ok_json(false));
    g_pending.clear();
  }
  if (platform::Speech* q = platform::running_speech()) q->stop_all();
}

void do_voices(void*, std::unique_ptr<VoicesReq> req) {
  std::string list = "[";
  if (platform::Speech* q = platform::speech())
    for (const platform::Voice& v : q->voices()) {
      if (list.size() > 1) list += ',';
      list += JsonObject()
                  .text("id", v.id)
                  .text("name", v.name)
                  .text("lang", v.lang)
                  .text("quality", quality_word(v.quality))
                  .str();
    }
  send_got(req->id, "{\"ok\":true,\"voices\":" + list + "]}");
}
