#include "services/notifications.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/wire_text.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/wire.h"
#include "platform/notifications.h"
#include "services/clip_format.h"

namespace {

// 0 not asked, 1 asking, 2 granted, 3 denied, 4 fallback (no server found).
int g_notif_auth = 0;
std::vector<NotifReq> g_notif_queue;
bool g_told_not_bundled = false;  // command-line mode drops NOTIFY, said once

struct Action {
  std::string id;
  std::string title;
  bool reply = false;
  std::string button_title;
  std::string placeholder;
};

// What the host needs to know of a notification on screen.
struct Shown {
  std::string identifier;           // the NOTIFY id, or the generated one
  std::vector<std::string> keys;    // its actions' ids
  std::string inline_reply_action;  // the action answered in the server's text field
};
std::map<std::uint32_t, Shown> g_shown;                // the server's id -> the notification
std::map<std::string, std::uint32_t> g_shown_by_ident;  // identifier -> the server's id

std::vector<Action> parse_actions(const std::string& text) {
  std::vector<Action> out;
  if (text.empty()) return out;
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_array()) return out;
  auto str = [](const nlohmann::json& o, const char* k) -> std::optional<std::string> {
    auto it = o.find(k);
    if (it == o.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  auto flag = [](const nlohmann::json& o, const char* k) {
    auto it = o.find(k);
    return it != o.end() && it->is_boolean() && it->get<bool>();
  };
  for (const auto& el : j) {
    if (!el.is_object()) continue;
    auto id = str(el, "id");
    if (!id) continue;
    Action a;
    a.id = *id;
    a.title = str(el, "title").value_or(a.id);
    a.reply = flag(el, "reply");
    a.button_title = str(el, "buttonTitle").value_or(a.title);
    a.placeholder = str(el, "placeholder").value_or("");
    out.push_back(std::move(a));
  }
  return out;
}

bool has(const std::vector<std::string>& caps, const char* cap) {
  for (const auto& c : caps)
    if (c == cap) return true;
  return false;
}

void debug(const std::string& error) {
  if (std::getenv("QUIBEX_NOTIF_DEBUG")) std::fprintf(stderr, "DBG deliver err=%s\n", error.empty() ? "none" : error.c_str());
}

void deliver_with(const NotifReq& req, const std::vector<std::string>& caps, bool fallback) {
  platform::Notifier* n = platform::notifier();
  if (!n) return;
  platform::NotifyRequest out;
  out.app_name = settings().app_name;
  out.app_icon = settings().app_icon;
  out.desktop_entry = settings().app_id;  // the desktop entry is named for the application id
  out.summary = req.title;
  // The server has no subtitle: it heads the body.
  std::string body = req.subtitle.empty() ? req.body : req.body.empty() ? req.subtitle : req.subtitle + "\n" + req.body;
  out.body = has(caps, "body-markup") ? markup_escape(body) : body;
  if (req.sound) out.sound_name = "message-new-instant";
  const std::string identifier = req.id.empty() ? new_uuid() : req.id;
  if (!req.id.empty())
    if (auto it = g_shown_by_ident.find(req.id); it != g_shown_by_ident.end()) out.replaces_id = it->second;

  Shown shown;
  shown.identifier = identifier;
  bool default_taken = false;
  for (const Action& a : parse_actions(req.actions)) {
    shown.keys.push_back(a.id);
    if (a.id == "default") default_taken = true;
    if (a.reply && shown.inline_reply_action.empty() && has(caps, "inline-reply")) {
      shown.inline_reply_action = a.id;
      out.inline_reply = true;
      out.reply_placeholder = a.placeholder;
      out.reply_button = a.button_title;
      continue;
    }
    out.actions.push_back({a.id, a.title});
  }
  // A click on the notification itself; a server without actions has no clicks.
  if (!default_taken) out.actions.insert(out.actions.begin(), {"default", ""});
  n->notify(out, [shown, fallback](std::uint32_t id, std::string error) {
    debug(error);
    if (!id) {
      if (fallback) std::fprintf(stderr, "quibex: no notification server on the session bus; a notification was not shown (%s)\n", error.c_str());
      return;
    }
    if (auto it = g_shown_by_ident.find(shown.identifier); it != g_shown_by_ident.end() && it->second != id)
      g_shown.erase(it->second);
    g_shown[id] = shown;
    g_shown_by_ident[shown.identifier] = id;
  });
}

// The server is asked for its capabilities anew for each notification, so that
// its markup and its reply field are used as it offers them now.
void deliver_notification(const NotifReq& req, bool fallback = false) {
  platform::Notifier* n = platform::notifier();
  if (!n) return;
  n->server([req, fallback](std::optional<std::vector<std::string>> caps) {
    if (!caps && fallback) {
      std::fputs("quibex: no notification server on the session bus; a notification was not shown\n", stderr);
      return;
    }
    deliver_with(req, caps.value_or(std::vector<std::string>{}), fallback);
  });
}

void on_event(const platform::NotifyEvent& e) {
  auto it = g_shown.find(e.id);
  if (it == g_shown.end()) return;  // another application's notification
  const Shown& s = it->second;
  switch (e.kind) {
    case platform::NotifyEvent::kAction: {
      bool known = false;
      for (const auto& k : s.keys) known = known || k == e.text;
      if (e.text == "default" && !known) {
        sock_write_line("NOTIFYCLICK " + wire_escape(s.identifier));
      } else if (known) {
        sock_write_line("NOTIFYACTION " + wire_escape(s.identifier) + "\t" + wire_escape(e.text) + "\t");
      }
      break;
    }
    case platform::NotifyEvent::kReplied:
      if (!s.inline_reply_action.empty())
        sock_write_line("NOTIFYACTION " + wire_escape(s.identifier) + "\t" + wire_escape(s.inline_reply_action) + "\t" +
                        wire_escape(e.text));
      break;
    case platform::NotifyEvent::kClosed:
      if (auto by = g_shown_by_ident.find(s.identifier); by != g_shown_by_ident.end() && by->second == e.id)
        g_shown_by_ident.erase(by);
      g_shown.erase(it);
      break;
  }
}

}  // namespace

void install_notif_delegate() {
  if (!settings().bundle_mode) return;
  if (platform::Notifier* n = platform::notifier()) n->listen(&on_event);
}

void do_notify(void*, std::unique_ptr<NotifReq> r) {
  if (!settings().bundle_mode) {
    if (!g_told_not_bundled)
      std::fputs("quibex: NOTIFY: notifications are shown only when the host runs from an application bundle; "
                 "this one and later ones are dropped\n",
                 stderr);
    g_told_not_bundled = true;
    return;
  }
  platform::Notifier* n = platform::notifier();
  if (!n) return;
  switch (g_notif_auth) {
    case 0:
      g_notif_auth = 1;
      g_notif_queue.push_back(*r);
      // Allowed = a notification server is there to show them.
      n->server([](std::optional<std::vector<std::string>> caps) {
        if (g_notif_auth != 1) return;
        g_notif_auth = caps ? 2 : 4;
        if (!caps)
          std::fputs("quibex: no notification server on the session bus; notifications are tried again one by one\n",
                     stderr);
        std::vector<NotifReq> queued;
        queued.swap(g_notif_queue);
        for (const NotifReq& q : queued) {
          if (caps)
            deliver_with(q, *caps, false);
          else
            deliver_notification(q, true);
        }
      });
      break;
    case 1: g_notif_queue.push_back(*r); break;
    case 2: deliver_notification(*r); break;
    case 3: break;
    case 4: deliver_notification(*r, true); break;
  }
}

void notif_reset_for_tests() {
  g_notif_auth = 0;
  g_notif_queue.clear();
  g_told_not_bundled = false;
  g_shown.clear();
  g_shown_by_ident.clear();
}
