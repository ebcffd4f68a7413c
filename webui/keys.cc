#include "webui/keys.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "base/ascii_case.h"
#include "base/json_out.h"
#include "core/answers.h"
#include "core/launcher.h"
#include "core/records.h"
#include "core/window_chrome.h"
#include "core/wire.h"
#include "platform/desktop_keys.h"

namespace {

// Hot keys by name, and names by the id the desktop reports. Ids are never
// reused, so a press that arrives after its key was released names nothing.
std::map<std::string, std::uint32_t> g_hotkeys;
std::map<std::uint32_t, std::string> g_hotkey_ids;
std::uint32_t g_hotkey_seq = 1;
bool g_hotkey_handler_installed = false;

void ensure_hotkey_handler(platform::DesktopKeys& keys) {
  if (g_hotkey_handler_installed) return;
  g_hotkey_handler_installed = true;
  keys.set_hotkey_handler([](std::uint32_t id) {
    auto it = g_hotkey_ids.find(id);
    if (it != g_hotkey_ids.end()) sock_write_line("HOTKEY " + it->second);
  });
}

}  // namespace

Combo read_combo(const std::string& text) {
  Combo c;
  int keys = 0;
  bool empty_part = false;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    const std::string part = ascii_lower(text.substr(start, plus == std::string::npos ? std::string::npos : plus - start));
    if (part.empty()) {
      empty_part = true;
    } else if (part == "cmd" || part == "command" || part == "meta") {
      c.cmd = true;
    } else if (part == "ctrl" || part == "control") {
      c.ctrl = true;
    } else if (part == "alt" || part == "opt" || part == "option") {
      c.alt = true;
    } else if (part == "shift") {
      c.shift = true;
    } else if (part == "win" || part == "super") {
      c.win = true;
    } else {
      c.key = canonical_key(part);
      ++keys;
    }
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  c.valid = keys == 1 && !empty_part;
  if (!c.valid) c.key.clear();
  return c;
}

std::string canonical_key(const std::string& name) {
  if (name.size() == 1) {
    static const std::map<char, std::string> chars = {
        {'\'', "quote"}, {',', "comma"},        {'-', "minus"},     {'.', "period"},
        {'/', "slash"},  {';', "semicolon"},    {'=', "equal"},     {'[', "bracketleft"},
        {'\\', "backslash"}, {']', "bracketright"}, {'`', "grave"}};
    auto it = chars.find(name[0]);
    return it == chars.end() ? name : it->second;
  }
  static const std::map<std::string, std::string> aliases = {
      {"enter", "return"},   {"esc", "escape"},    {"delete", "backspace"}, {"del", "backspace"},
      {"apostrophe", "quote"}, {"equals", "equal"}, {"backtick", "grave"},   {"pgup", "pageup"},
      {"pgdn", "pagedown"}};
  auto it = aliases.find(name);
  return it == aliases.end() ? name : it->second;
}

int keycode_for(const std::string& name) {
  static std::once_flag once;
  static std::map<std::string, int>* table = nullptr;
  std::call_once(once, [] {
    table = new std::map<std::string, int>{
        {"a", 0},      {"s", 1},      {"d", 2},       {"f", 3},       {"h", 4},       {"g", 5},
        {"z", 6},      {"x", 7},      {"c", 8},       {"v", 9},       {"b", 11},      {"q", 12},
        {"w", 13},     {"e", 14},     {"r", 15},      {"y", 16},      {"t", 17},      {"o", 31},
        {"u", 32},     {"i", 34},     {"p", 35},      {"l", 37},      {"j", 38},      {"k", 40},
        {"n", 45},     {"m", 46},     {"1", 18},      {"2", 19},      {"3", 20},      {"4", 21},
        {"6", 22},     {"5", 23},     {"9", 25},      {"7", 26},      {"8", 28},      {"0", 29},
        {"space", 49}, {"tab", 48},   {"return", 36}, {"enter", 36},  {"escape", 53}, {"esc", 53},
        {"left", 123}, {"right", 124}, {"down", 125}, {"up", 126},    {"f1", 122},    {"f2", 120},
        {"f3", 99},    {"f4", 118},   {"f5", 96},     {"f6", 97},     {"f7", 98},     {"f8", 100},
        {"f9", 101},   {"f10", 109},  {"f11", 103},   {"f12", 111},   {"f13", 105},   {"f14", 107},
        {"f15", 113},  {"f16", 106},  {"f17", 64},    {"f18", 79},    {"f19", 80},    {"f20", 90},
        {"minus", 27}, {"equal", 24}, {"comma", 43},  {"period", 47}, {"slash", 44},  {"semicolon", 41},
        {"quote", 39}, {"bracketleft", 33}, {"bracketright", 30}, {"backslash", 42}, {"grave", 50},
        {"delete", 51}, {"backspace", 51}, {"forwarddelete", 117}, {"home", 115}, {"end", 119},
        {"pageup", 116}, {"pagedown", 121}};
  });
  auto it = table->find(name);
  return it == table->end() ? -1 : it->second;
}

void do_hotkey(void*, std::unique_ptr<HotkeyReq> record) {
  const HotkeyReq& req = *record;
  platform::DesktopKeys* keys = platform::desktop_keys();

  if (auto it = g_hotkeys.find(req.name); it != g_hotkeys.end()) {
    if (keys) keys->ungrab_hotkey(it->second);
    g_hotkeys.erase(it);
  }
  std::string error;
  if (!req.combo.empty()) {
    const Combo c = read_combo(req.combo);
    std::uint32_t mods = 0;
    if (c.cmd || c.win) mods |= platform::kHotCommand;
    if (c.ctrl) mods |= platform::kHotControl;
    if (c.alt) mods |= platform::kHotOption;
    if (c.shift) mods |= platform::kHotShift;
    const int code = c.valid ? keycode_for(c.key) : -1;
    if (code < 0) {
      error = c.valid ? "unknown key" : "needs exactly one key plus modifiers";
    } else if (!keys) {
      error = "the system refused it (already taken?)";
    } else {
      ensure_hotkey_handler(*keys);
      const std::uint32_t id = g_hotkey_seq++;
      if (keys->grab_hotkey(code, mods, id)) {
        g_hotkeys[req.name] = id;
        g_hotkey_ids[id] = req.name;
      } else {
        error = "the system refused it (already taken?)";
      }
    }
    if (!error.empty()) std::fprintf(stderr, "quibex: hotkey \"%s\" not registered: %s\n", req.combo.c_str(), error.c_str());
  }
  if (!req.reqId.empty()) send_got(req.reqId, error.empty() ? ok_json() : error_json(error));
}

void do_keystroke(void*, std::unique_ptr<KeystrokeReq> record) {
  const KeystrokeReq& req = *record;
  const Combo c = read_combo(req.spec);
  std::uint64_t flags = 0;
  if (c.cmd || c.win) flags |= platform::kModCommand;
  if (c.ctrl) flags |= platform::kModControl;
  if (c.alt) flags |= platform::kModOption;
  if (c.shift) flags |= platform::kModShift;
  const int code = c.valid ? keycode_for(c.key) : -1;
  platform::DesktopKeys* keys = platform::desktop_keys();
  const bool trusted = keys && keys->can_post_keys();
  // A key the keyboard map cannot type is not reported as posted.
  const bool posted = code >= 0 && keys && keys->post_key(code, flags);
  send_got(req.id, JsonObject().boolean("ok", posted && trusted).boolean("trusted", trusted).str());
}

void install_first_mouse_hook() {
  if (platform::DesktopKeys* keys = platform::desktop_keys())
    keys->set_first_click_policy([](platform::WebView* view) { return get_accepts_first_mouse(view); });
}

void hotkeys_reset_for_tests() {
  g_hotkeys.clear();
  g_hotkey_ids.clear();
  g_hotkey_seq = 1;
  g_hotkey_handler_installed = false;
}
