#include "core/app_hooks.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/json_out.h"
#include "base/utf8.h"
#include "core/window_ops.h"
#include "core/launcher.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/window_registry.h"
#include "core/wire.h"

using platform::ActivationPolicy;
using platform::OpenItem;

namespace {

// FNV-1a: a short, stable name for where a bundle lies.
std::uint32_t fnv1a(const std::string& s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

// Letters, digits, "_" and "-" only; an element never starts with a digit.
std::string id_element(const std::string& raw) {
  std::string e;
  for (unsigned char c : raw) e += (std::isalnum(c) && c < 0x80) || c == '_' || c == '-' ? char(c) : '_';
  if (!e.empty() && std::isdigit(static_cast<unsigned char>(e[0]))) e.insert(0, "_");
  return e;
}

std::string valid_app_id(const std::string& raw) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = raw.find('.', start);
    const std::string e = id_element(raw.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (!e.empty()) parts.push_back(e);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() < 2) parts.insert(parts.begin(), {"io", "quibex", "app"});
  // Elements of at most 100 characters: the first two always fit in 255.
  std::string id;
  for (const std::string& p : parts) {
    const std::string e = p.substr(0, 100);
    if (!id.empty() && id.size() + 1 + e.size() > 255) break;
    id += (id.empty() ? "" : ".") + e;
  }
  return id;
}

// A URI scheme and a colon: an ASCII letter, then letters, digits, "+", "-" or ".".
bool is_link(const std::string& s) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  const size_t colon = s.find(':');
  if (colon == std::string::npos || colon == 0 || !letter(s[0])) return false;
  for (size_t i = 1; i < colon; ++i)
    if (!letter(s[i]) && !(s[i] >= '0' && s[i] <= '9') && s[i] != '+' && s[i] != '-' && s[i] != '.') return false;
  return true;
}

bool names_existing_file(const std::string& s) {
  std::error_code ec;
  return !s.empty() && std::filesystem::exists(s, ec);
}

}  // namespace

StartArgs split_start_args(const std::vector<std::string>& args, bool in_bundle) {
  StartArgs out;
  out.open_start = in_bundle && !args.empty() && args[0] == "--open";
  if (out.open_start) {
    out.own.push_back(args[0]);
    out.open.assign(args.begin() + 1, args.end());
    return out;
  }
  if (in_bundle && args.size() == 1) {
    const std::string& a = args[0];
    if (a.rfind('-', 0) != 0 && (is_link(a) || names_existing_file(a))) {
      out.open.push_back(a);
      return out;
    }
    out.ignored = a;
  }
  out.own = args;
  return out;
}

std::string application_id_for(const std::string& bundle_identifier, const std::string& bundle_name,
                               const std::string& bundle_path) {
  if (!bundle_identifier.empty()) return valid_app_id(bundle_identifier);
  char where[16];
  std::snprintf(where, sizeof where, "%08x", unsigned(fnv1a(bundle_path)));
  std::string name = id_element(bundle_name);
  if (name.empty()) name = "App";
  return valid_app_id("io.quibex.app." + name + "_" + where);
}

void send_open_items(const std::vector<OpenItem>& items) {
  std::string files;
  for (const OpenItem& item : items) {
    if (!item.file) {
      if (!utf8_valid(item.text)) std::fputs("quibex: an opened URL is not UTF-8; sent with U+FFFD\n", stderr);
      sock_write_line("OPENURL " + utf8_sanitize(item.text));
      continue;
    }
    if (settings().own_argv_paths.count(item.text)) continue;
    if (!utf8_valid(item.text))
      std::fprintf(stderr, "quibex: an opened file's name is not UTF-8; sent with U+FFFD: %s\n",
                   json_escape(utf8_sanitize(item.text)).c_str());
    files += files.empty() ? "[" : ",";
    files += json_escape(utf8_sanitize(item.text));
  }
  if (!files.empty()) sock_write_line("OPENFILES " + files + "]");
}

bool any_window_visible() {
  if (platform::NativeWindow* main = window_for_id(g_w.load(), "main", Lookup::kProbe); main && main->visible())
    return true;
  for (const auto& [id, qw] : g_windows)
    if (qw.window && qw.window->visible()) return true;
  return false;
}

bool quib_reopen(bool has_visible_windows) {
  void* w = g_w.load();
  if (!has_visible_windows && settings().hide_on_close && w && window_for_id(w, "main")) {
    do_winop(w, std::make_unique<WinopReq>("main", "show"));
    return false;
  }
  return true;
}

void app_reopen() {
  if (!quib_reopen(any_window_visible())) return;
  if (platform::Application* a = platform::application()) a->unhide(true);
}

void install_open_handlers() {
  platform::AppInstance* instance = platform::app_instance();
  if (!instance) return;
  instance->set_handlers([](const std::vector<OpenItem>& items) { send_open_items(items); }, [] { app_reopen(); });
}

void install_order_front_suppression() {
  settings().suppress_order_front = true;
  platform::set_order_front_gate([] { return settings().suppress_order_front; });
}

void install_accessory_mode() {
  settings().accessory = true;
  platform::set_activation_policy_filter([](ActivationPolicy asked) {
    return settings().accessory && asked == ActivationPolicy::kRegular ? ActivationPolicy::kAccessory : asked;
  });
  install_order_front_suppression();
  if (platform::Application* a = platform::application()) a->set_activation_policy(ActivationPolicy::kAccessory);
}

void app_hooks_reset_for_tests() {
  platform::set_order_front_gate(nullptr);
  platform::set_activation_policy_filter(nullptr);
  settings().suppress_order_front = false;
  settings().accessory = false;
}
