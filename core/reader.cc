#include "core/reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/wire_text.h"
#include "core/command_table.h"
#include "core/debug_notes.h"
#include "core/launcher.h"
#include "core/records.h"
#include "core/wire.h"

namespace {

using sv = std::string_view;
constexpr size_t npos = sv::npos;

template <size_t N>
inline bool starts(sv line, const char (&lit)[N]) {
  return line.size() >= N - 1 && std::memcmp(line.data(), lit, N - 1) == 0;
}

template <size_t N>
inline bool equals(sv line, const char (&lit)[N]) {
  return line.size() == N - 1 && std::memcmp(line.data(), lit, N - 1) == 0;
}

// The keyword followed by a space (plain form) or '@' (addressed form).
template <size_t N>
inline bool at_form(sv line, const char (&kw)[N]) {
  return line.size() > N - 1 && std::memcmp(line.data(), kw, N - 1) == 0 &&
         (line[N - 1] == ' ' || line[N - 1] == '@');
}

inline sv from(sv line, size_t n) { return n < line.size() ? line.substr(n) : sv(); }

// A matched line that lacks the space after its id at n is let go (and said so in
// debug mode).
void dropped_at(sv line, size_t n) { note_dropped(line, from(line, n).empty() ? "missing id" : "missing fields"); }

// The text from n up to the next space, and what follows that space.
inline bool id_at(sv line, size_t n, sv& id, sv& rest) {
  size_t sp = line.find(' ', n);
  if (sp == npos) [[unlikely]] {
    dropped_at(line, n);
    return false;
  }
  id = line.substr(n, sp - n);
  rest = line.substr(sp + 1);
  return true;
}

// Splits at the first space; without one, all of it is the head and the tail is empty.
inline void split_space(sv text, sv& head, sv& tail) {
  size_t sp = text.find(' ');
  if (sp == npos) {
    head = text;
    tail = sv();
  } else {
    head = text.substr(0, sp);
    tail = text.substr(sp + 1);
  }
}

// Numbers as the C conversions read them (leading blanks, then as much of a number
// as there is, 0 for none), from a NUL-terminated copy so that a conversion never
// reads past its field; values beyond the type's range are clamped.
inline long num_atol(sv s) { return std::strtol(std::string(s).c_str(), nullptr, 10); }
inline int num_atoi(sv s) { return int(std::clamp<long>(num_atol(s), INT_MIN, INT_MAX)); }
inline double num_atof(sv s) { return std::strtod(std::string(s).c_str(), nullptr); }

using Fields = std::vector<sv>;
using Batch = std::vector<platform::QueuedItem>;

inline std::string field(const Fields& f, size_t i) { return i < f.size() ? std::string(f[i]) : std::string(); }
inline std::string field_unescaped(const Fields& f, size_t i) {
  return i < f.size() ? wire_unescape(f[i]) : std::string();
}
// Every non-empty field from i on, unescaped.
inline std::vector<std::string> paths_from(const Fields& f, size_t i) {
  std::vector<std::string> out;
  for (; i < f.size(); ++i)
    if (!f[i].empty()) out.push_back(wire_unescape(f[i]));
  return out;
}

// Posts what the batch holds, in its order, and empties it.
inline void post_all(Batch& batch) {
  if (batch.empty()) return;
  launcher_dispatch_batch(batch.data(), batch.size());
  batch.clear();
}

// Adds the record to the batch that the main thread gets at the end of the read.
// In debug mode each command goes at once, remembering its line.
inline void hand_over(Batch& batch, platform::HandlerFn run, void* record) {
  void* w = g_w.load(std::memory_order_relaxed);
  if (settings().debug_on) [[unlikely]] {
    post_all(batch);
    return hand_over_noted(w, run, record);
  }
  batch.push_back({run, w, record});
}

// Hands the record over to the command's handler on the main thread. A command
// the table has no handler for lets its line go.
template <class Req>
inline void hand(Batch& batch, sv line, const Command<Req>& command, std::unique_ptr<Req> record) {
  if (!command) [[unlikely]]
    return note_dropped(line, "no handler");
  hand_over(batch, command.run, record.release());
}

template <class Req>
inline void hand(Batch& batch, sv line, const Command<Req>& command, std::type_identity_t<Req>&& record) {
  hand(batch, line, command, std::make_unique<Req>(std::move(record)));
}

inline void hand(Batch& batch, sv line, const Command<void>& command) {
  if (!command) [[unlikely]]
    return note_dropped(line, "no handler");
  hand_over(batch, command.run, nullptr);
}

inline void hand_string(Batch& batch, sv line, const Command<std::string>& command, sv text) {
  hand(batch, line, command, std::make_unique<std::string>(text));
}

// A backend that ends its lines with CR LF means the same lines.
inline sv without_cr(sv line) { return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line; }

void parse_size_pair(sv text, int& a, int& b) {
  std::string s(text);
  std::sscanf(s.c_str(), "%d %d", &a, &b);
}

}  // namespace

const std::vector<sv>& CommandReader::tabs(sv s) {
  split_tabs_into(s, fields_);
  return fields_;
}

void CommandReader::flush() { post_all(batch_); }

void CommandReader::handle_line(sv line) {
  read_line(line);
  flush();
}

void CommandReader::read_line(sv line) {
  const NotedLine noted(line);
  const CommandTable& t = command_table();
  sv id, rest;

  // 1 RET <id> <status> <payload>
  if (starts(line, "RET ")) {
    size_t sp1 = line.find(' ', 4);
    if (sp1 == npos) return dropped_at(line, 4);
    size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == npos) return note_dropped(line, "missing fields");
    auto r = std::make_unique<ReplyReq>();
    r->id.assign(line.substr(4, sp1 - 4));
    r->status = num_atoi(line.substr(sp1 + 1, sp2 - sp1 - 1));  // an empty status is 0
    r->payload.assign(line.substr(sp2 + 1));
    return hand(batch_, line, t.reply, std::move(r));
  }
  // 2 EVAL <script> | EVAL@<w> <script>
  if (at_form(line, "EVAL")) {
    auto r = std::make_unique<EvalReq>();
    if (line[4] == ' ') {
      r->win = "main";
      r->text = wire_unescape(from(line, 5));
    } else {
      if (!id_at(line, 5, id, rest)) return;
      r->win.assign(id);
      r->text = wire_unescape(rest);
    }
    return hand(batch_, line, t.eval, std::move(r));
  }
  // 3 TITLE@<w> <title>
  if (starts(line, "TITLE@")) {
    if (!id_at(line, 6, id, rest)) return;
    return hand(batch_, line, t.title_win, EvalReq{std::string(id), std::string(rest)});
  }
  // 4 TITLE <title>
  if (starts(line, "TITLE ")) return hand_string(batch_, line, t.title, from(line, 6));
  // 5 SIZE@<w> <W> <H>
  if (starts(line, "SIZE@")) {
    if (!id_at(line, 5, id, rest)) return;
    auto r = std::make_unique<SizeReq>(600, 400, std::string(id));
    parse_size_pair(rest, r->width, r->height);
    return hand(batch_, line, t.size, std::move(r));
  }
  // 6 SIZE <W> <H>
  if (starts(line, "SIZE ")) {
    auto r = std::make_unique<SizeReq>(960, 640, "main");
    parse_size_pair(from(line, 5), r->width, r->height);
    return hand(batch_, line, t.size, std::move(r));
  }
  // 7 WINOPEN <id>\t<url>\t<title>\t<WxH>\t<chrome...>\t<x>\t<y>\t\t<traffic>\t<parent>\t<panel>
  if (starts(line, "WINOPEN ")) {
    const Fields& f = tabs(from(line, 8));
    auto r = std::make_unique<WinOpenReq>();
    r->id = f[0];
    r->url = field(f, 1);
    r->title = field(f, 2);
    if (f.size() > 3) std::sscanf(std::string(f[3]).c_str(), "%dx%d", &r->width, &r->height);
    r->titlebar = field(f, 4);
    r->buttons = field(f, 5);
    r->transparent = field(f, 6);
    r->material = field(f, 7);
    r->square = field(f, 8);
    r->firstMouse = field(f, 9);
    r->traffic = field(f, 13);
    if (f.size() > 11 && !f[10].empty() && !f[11].empty()) {
      r->hasPos = true;
      r->x = num_atoi(f[10]);
      r->y = num_atoi(f[11]);
    }
    r->parent = field(f, 14);
    r->panel = f.size() > 15 && f[15] == "1";
    return hand(batch_, line, t.winopen, std::move(r));
  }
  // 8 WINCLOSE <w>
  if (starts(line, "WINCLOSE ")) return hand_string(batch_, line, t.winclose, from(line, 9));
  // 9 DLG <id> <kind>\t<arg>...
  if (starts(line, "DLG ")) {
    if (!id_at(line, 4, id, rest)) return;
    const Fields& f = tabs(rest);
    auto r = std::make_unique<DlgReq>();
    r->id.assign(id);
    r->kind.assign(f[0]);
    r->args.assign(f.begin() + 1, f.end());
    return hand(batch_, line, t.dialog, std::move(r));
  }
  // 10 NAVR <id> <answer>
  if (starts(line, "NAVR ")) {
    if (!id_at(line, 5, id, rest)) return;
    return hand(batch_, line, t.navr, NavrReq{std::string(id), std::string(rest)});
  }
  // 11 POPUPR <id> <answer>
  if (starts(line, "POPUPR ")) {
    if (!id_at(line, 7, id, rest)) return;
    return hand(batch_, line, t.popupr, PopuprReq{std::string(id), std::string(rest)});
  }
  // 12 FIND <id> <text>[\t<forward>[\t<case>]]
  if (starts(line, "FIND ")) {
    if (!id_at(line, 5, id, rest)) return;
    const Fields& f = tabs(rest);
    auto r = std::make_unique<FindReq>();
    r->id.assign(id);
    r->text = f[0];
    r->forward = f.size() > 1 ? f[1] != "0" : true;
    r->caseSensitive = f.size() > 2 ? f[2] == "1" : false;
    return hand(batch_, line, t.find, std::move(r));
  }
  // 13 STOPFIND <id>
  if (starts(line, "STOPFIND ")) return hand_string(batch_, line, t.stopfind, from(line, 9));
  // 14 MENUBEGIN | MENUBEGIN@<w>
  if (equals(line, "MENUBEGIN") || starts(line, "MENUBEGIN@")) {
    builder_.begin_menu(line.size() >= 11 ? line.substr(10) : sv());
    return;
  }
  // 15 MENURESET@<w>
  if (starts(line, "MENURESET@")) return hand_string(batch_, line, t.win_menu_reset, from(line, 10));
  // 16-22 menu building
  if (builder_.in_menu()) {
    if (starts(line, "MENU ")) return builder_.add_menu(from(line, 5));
    if (starts(line, "MENUROLE ")) return builder_.add_menu_role(from(line, 9));
  }
  if (builder_.any_open()) {
    if (starts(line, "ROLEITEM ")) return builder_.add_role_item(from(line, 9));
    if (starts(line, "ITEM ")) return builder_.add_item(from(line, 5));
    if (equals(line, "SEP")) return builder_.add_separator();
    if (starts(line, "SUB ")) return builder_.open_sub(from(line, 4));
    if (equals(line, "SUBEND")) return builder_.close_sub();
  }
  // 23 MENUEND
  if (equals(line, "MENUEND")) {
    builder_.end_menu();
    if (builder_.target().empty())
      return hand(batch_, line, t.menus, std::vector<MenuSpec>(builder_.menus()));
    return hand(batch_, line, t.win_menu_set, WinMenuReq{builder_.target(), builder_.menus()});
  }
  // 24 TRAYBEGIN[ <title>\t<icon>\t<template>\t<tooltip>\t<clicks>]
  if (starts(line, "TRAYBEGIN")) return builder_.begin_tray(line);
  // 25 TRAYEND
  if (equals(line, "TRAYEND")) return hand(batch_, line, t.tray, TraySpec(builder_.end_tray()));
  // 26 TRAYREMOVE
  if (equals(line, "TRAYREMOVE")) {
    auto r = std::make_unique<TraySpec>();
    r->remove = true;
    return hand(batch_, line, t.tray, std::move(r));
  }
  // 27 WINOP@<w> <op>
  if (starts(line, "WINOP@")) {
    if (!id_at(line, 6, id, rest)) return;
    return hand(batch_, line, t.winop, WinopReq{std::string(id), std::string(rest)});
  }
  // 28 WINOP <op>
  if (starts(line, "WINOP ")) return hand(batch_, line, t.winop, WinopReq{"main", std::string(from(line, 6))});
  // 29 CTXBEGIN
  if (equals(line, "CTXBEGIN")) return builder_.begin_ctx();
  // 30 CTXEND
  if (equals(line, "CTXEND")) return hand(batch_, line, t.ctx, CtxReq{builder_.end_ctx(), true});
  // 31 CTXCLEAR
  if (equals(line, "CTXCLEAR")) return hand(batch_, line, t.ctx, CtxReq{{}, false});
  // 32 CTXSUPPRESS <0|1>
  if (starts(line, "CTXSUPPRESS ")) return hand(batch_, line, t.ctx_suppress, from(line, 12) == "1");
  // 33 ABOUTHOOK <0|1>: carried out here
  if (starts(line, "ABOUTHOOK ")) {
    g_about_to_app.store(from(line, 10) == "1");
    return;
  }
  // 34 HKREG <reqId> <name>\t<combo>
  if (starts(line, "HKREG ")) {
    sv req, text;
    split_space(from(line, 6), req, text);
    const Fields& f = tabs(text);
    if (f.size() < 2) return note_dropped(line, "missing fields");
    return hand(batch_, line, t.hotkey, HotkeyReq{std::string(f[0]), std::string(f[1]), std::string(req)});
  }
  // 35 HKUNREG <name>
  if (starts(line, "HKUNREG ")) return hand(batch_, line, t.hotkey, HotkeyReq{std::string(from(line, 8)), "", ""});
  // 36 AUDIOTAP STOP...
  if (starts(line, "AUDIOTAP STOP")) return hand(batch_, line, t.audiotap, AudioTapReq{"", "__stop__", false, 0});
  // 37 AUDIOTAP <id> <scope>\t<excludeSelf>\t<ms>
  if (starts(line, "AUDIOTAP ")) {
    sv tid, text;
    split_space(from(line, 9), tid, text);
    const Fields& f = tabs(text);
    auto r = std::make_unique<AudioTapReq>();
    r->id.assign(tid);
    r->scope = f[0];
    r->exclude_self = f.size() > 1 && f[1] == "1";
    r->interval = f.size() > 2 ? num_atoi(f[2]) : 80;
    return hand(batch_, line, t.audiotap, std::move(r));
  }
  // 38 AUDIOFILTERSET <index>\t<freq>\t<q>\t<gain>
  if (starts(line, "AUDIOFILTERSET ")) return hand_string(batch_, line, t.audiofilterset, from(line, 15));
  // 39 AUDIOFILTERS[ <filters>]
  if (equals(line, "AUDIOFILTERS") || starts(line, "AUDIOFILTERS "))
    return hand_string(batch_, line, t.audiofilters, from(line, 13));
  // 40 AUDIOBALANCE[ <balance>]
  if (starts(line, "AUDIOBALANCE"))
    return hand_string(batch_, line, t.audiobalance, line.size() > 13 ? line.substr(13) : sv("0"));
  // 41 MENUUPD <fields> | MENUUPD@<scope> <fields>
  if (at_form(line, "MENUUPD")) {
    sv scope, fields;
    if (line[7] == ' ') {
      fields = from(line, 8);
    } else {
      if (!id_at(line, 8, scope, fields)) return;
    }
    const Fields& f = tabs(fields);
    return hand(batch_, line, t.menu_update,
                MenuUpdReq{std::string(scope), std::string(f[0]), field(f, 1), field(f, 2), field(f, 3)});
  }
  // 42 GET <id> <key>
  if (starts(line, "GET ")) {
    if (!id_at(line, 4, id, rest)) return;
    return hand(batch_, line, t.get, GetReq{std::string(id), std::string(rest)});
  }
  // 43 NOTIFY <id>\t<title>\t<body>\t<subtitle>\t<sound>\t<actions>
  if (starts(line, "NOTIFY ")) {
    const Fields& f = tabs(from(line, 7));
    return hand(batch_, line, t.notify, NotifReq{std::string(f[0]), field(f, 1), field(f, 2), field(f, 3),
                                        field_unescaped(f, 5), f.size() > 4 && f[4] == "1"});
  }
  // 44 CHROME <fields> | CHROME@<w> <fields>
  if (at_form(line, "CHROME")) {
    sv win = "main", fields;
    if (line[6] == ' ') {
      fields = from(line, 7);
    } else {
      if (!id_at(line, 7, win, fields)) return;
    }
    const Fields& f = tabs(fields);
    return hand(batch_, line, t.chrome, ChromeReq{std::string(win), std::string(f[0]), field(f, 1), field(f, 2), field(f, 3),
                                         field(f, 4), field(f, 5), field(f, 7)});
  }
  // 45 DRAGWIN | DRAGWIN@<w>
  if (equals(line, "DRAGWIN") || starts(line, "DRAGWIN@"))
    return hand_string(batch_, line, t.dragwin, line.size() > 8 ? line.substr(8) : sv("main"));
  // 46 RESIZEWIN <edges> | RESIZEWIN@<w> <edges>
  if (at_form(line, "RESIZEWIN")) {
    auto r = std::make_unique<ResizeReq>();
    if (line[9] == ' ') {
      r->window = "main";
      r->edge.assign(from(line, 10));
    } else {
      if (!id_at(line, 10, id, rest)) return;
      r->window.assign(id);
      r->edge.assign(rest);
    }
    return hand(batch_, line, t.resizewin, std::move(r));
  }
  // 47 CLIPWRITE <text>\t<html>\t<image>\t<color>\t<file>...
  if (starts(line, "CLIPWRITE ")) {
    const Fields& f = tabs(from(line, 10));
    return hand(batch_, line, t.clip_write, ClipWriteReq{field_unescaped(f, 0), field_unescaped(f, 1),
                                                field_unescaped(f, 2), field_unescaped(f, 3),
                                                paths_from(f, 4)});
  }
  // 48 CLIPWATCH <ms>
  if (starts(line, "CLIPWATCH ")) return hand(batch_, line, t.clip_watch, num_atoi(from(line, 10)));
  // 49 DRAGOUT <icon>\t<path>... | DRAGOUT@<w> ...
  if (at_form(line, "DRAGOUT")) {
    sv win = "main", fields;
    if (line[7] == ' ') {
      fields = from(line, 8);
    } else {
      if (!id_at(line, 8, win, fields)) return;
    }
    const Fields& f = tabs(fields);
    return hand(batch_, line, t.dragout, DragOutReq{std::string(win), wire_unescape(f[0]), paths_from(f, 1)});
  }
  // 50 KEYSTROKE <id> <combo>
  if (starts(line, "KEYSTROKE ")) {
    if (!id_at(line, 10, id, rest)) return;
    return hand(batch_, line, t.keystroke, KeystrokeReq{std::string(id), std::string(rest)});
  }
  // 51 PERMCHK <id> <kind> | PERMREQ <id> <kind>
  if (starts(line, "PERMCHK ") || starts(line, "PERMREQ ")) {
    if (!id_at(line, 8, id, rest)) return;
    return hand(batch_, line, t.perm, PermReq{std::string(id), std::string(rest), starts(line, "PERMREQ ")});
  }
  // 52 SHELL <id> <op>\t<arg>
  if (starts(line, "SHELL ")) {
    if (!id_at(line, 6, id, rest)) return;
    const Fields& f = tabs(rest);
    return hand(batch_, line, t.shell, ShellReq{std::string(id), std::string(f[0]), field_unescaped(f, 1)});
  }
  // 53 LOGIN <id> <action>
  if (starts(line, "LOGIN ")) {
    if (!id_at(line, 6, id, rest)) return;
    int action = rest == "set 1" ? 1 : rest == "set 0" ? 0 : -1;
    return hand(batch_, line, t.login, LoginReq{std::string(id), action});
  }
  // 54 POWER <id> <on|off>\t<display>\t<reason>
  if (starts(line, "POWER ")) {
    if (!id_at(line, 6, id, rest)) return;
    const Fields& f = tabs(rest);
    return hand(batch_, line, t.power, PowerReq{std::string(id), field_unescaped(f, 2), f[0] == "on",
                                       f.size() > 1 && f[1] == "1"});
  }
  // 55 SOUND <id>[ <name>]
  if (starts(line, "SOUND ")) {
    sv sid, name;
    split_space(from(line, 6), sid, name);
    return hand(batch_, line, t.sound, SoundReq{std::string(sid), wire_unescape(name)});
  }
  // 56 SHARE <x>\t<y>\t<text>\t<url>\t<file>... | SHARE@<w> ...
  if (at_form(line, "SHARE")) {
    sv win = "main", fields;
    if (line[5] == ' ') {
      fields = from(line, 6);
    } else {
      if (!id_at(line, 6, win, fields)) return;
    }
    const Fields& f = tabs(fields);
    auto r = std::make_unique<ShareReq>();
    r->window.assign(win);
    r->text = field_unescaped(f, 2);
    r->url = field_unescaped(f, 3);
    r->files = paths_from(f, 4);
    r->x = num_atoi(f[0]);
    r->y = f.size() > 1 ? num_atoi(f[1]) : 0;
    return hand(batch_, line, t.share, std::move(r));
  }
  // 57 NOWPLAYING[ <json>]
  if (equals(line, "NOWPLAYING") || starts(line, "NOWPLAYING "))
    return hand(batch_, line, t.nowplaying, NowPlayingReq{wire_unescape(from(line, 11))});
  // 58 SAY <id> <text>\t<voice>\t<rate>
  if (starts(line, "SAY ")) {
    if (!id_at(line, 4, id, rest)) return;
    const Fields& f = tabs(rest);
    return hand(batch_, line, t.say, SayReq{std::string(id), wire_unescape(f[0]), field_unescaped(f, 1),
                                   f.size() > 2 ? num_atof(f[2]) : 0.0});
  }
  // 59 RECORD <id> start <display>\t<path> | RECORD <id> stop
  if (starts(line, "RECORD ")) {
    if (!id_at(line, 7, id, rest)) return;
    auto r = std::make_unique<RecordReq>();
    r->id.assign(id);
    r->start = rest.size() >= 6 && rest.substr(0, 6) == "start ";
    if (r->start) {
      const Fields& f = tabs(rest.substr(6));
      r->display = num_atol(f[0]);
      r->path = field_unescaped(f, 1);
    }
    return hand(batch_, line, t.record, std::move(r));
  }
  // 60 WINCTRL <id> <pid>\t<x>\t<y>\t<w>\t<h>
  if (starts(line, "WINCTRL ")) {
    if (!id_at(line, 8, id, rest)) return;
    const Fields& f = tabs(rest);
    auto num = [&](size_t i) { return i < f.size() ? num_atoi(f[i]) : 0; };
    return hand(batch_, line, t.winctrl, WinCtrlReq{std::string(id), num_atol(f[0]), num(1), num(2),
                                           num(3), num(4)});
  }
  // 61 SAYSTOP
  if (equals(line, "SAYSTOP")) return hand(batch_, line, t.saystop);
  // 62 VOICES <id>
  if (starts(line, "VOICES ")) return hand(batch_, line, t.voices, VoicesReq{std::string(from(line, 7))});
  // 63 PICKCOLOR <id>
  if (starts(line, "PICKCOLOR ")) return hand_string(batch_, line, t.pickcolor, from(line, 10));
  // 64 OCR <id> <path>
  if (starts(line, "OCR ")) {
    if (!id_at(line, 4, id, rest)) return;
    return hand(batch_, line, t.ocr, OcrReq{std::string(id), wire_unescape(rest)});
  }
  // 65 THUMB <id> <path>\t<size>
  if (starts(line, "THUMB ")) {
    if (!id_at(line, 6, id, rest)) return;
    const Fields& f = tabs(rest);
    return hand(batch_, line, t.thumb, ThumbReq{std::string(id), wire_unescape(f[0]),
                                       f.size() > 1 ? num_atoi(f[1]) : 0});
  }
  // 66 SECRET <id> <op>\t<service>\t<account>\t<value>
  if (starts(line, "SECRET ")) {
    if (!id_at(line, 7, id, rest)) return;
    const Fields& f = tabs(rest);
    return hand(batch_, line, t.secret, SecretReq{std::string(id), std::string(f[0]), field_unescaped(f, 1),
                                         field_unescaped(f, 2), field_unescaped(f, 3)});
  }
  // 67 AUTH <id> <reason>
  if (starts(line, "AUTH ")) {
    if (!id_at(line, 5, id, rest)) return;
    return hand(batch_, line, t.auth, AuthReq{std::string(id), wire_unescape(rest)});
  }
  // 68 OSA <id> <script>
  if (starts(line, "OSA ")) {
    if (!id_at(line, 4, id, rest)) return;
    return hand(batch_, line, t.osa, OsaReq{std::string(id), wire_unescape(rest)});
  }
  // 69 QUICKLOOK[ <path>\t...]
  if (equals(line, "QUICKLOOK") || starts(line, "QUICKLOOK ")) {
    auto r = std::make_unique<QLReq>();
    if (line.size() > 10) r->paths = paths_from(tabs(line.substr(10)), 0);
    return hand(batch_, line, t.quicklook, std::move(r));
  }
  // 70 CAPTURE <id>[ <display>]
  if (starts(line, "CAPTURE ")) {
    sv cid, disp;
    split_space(from(line, 8), cid, disp);
    bool has_display = line.find(' ', 8) != npos;
    return hand(batch_, line, t.capture, CaptureReq{std::string(cid), has_display ? num_atol(disp) : 0});
  }
  // 71 BADGE[ <label>]
  if (equals(line, "BADGE") || starts(line, "BADGE "))
    return hand(batch_, line, t.badge, wire_unescape(from(line, 6)));
  // 72 ATTENTION[<n>]
  if (starts(line, "ATTENTION"))
    return hand(batch_, line, t.attention, line.size() > 10 ? num_atoi(line.substr(10)) : 0);
  // 73 PROGRESS[<x>]
  if (starts(line, "PROGRESS"))
    return hand(batch_, line, t.progress, line.size() > 9 ? num_atof(line.substr(9)) : -1.0);
  // 74 PDF <id> <path> | PDF@<w> <id> <path>
  if (starts(line, "PDF ") || starts(line, "PDF@")) {
    sv win = "main";
    size_t start = 4;
    if (line[3] == '@') {
      size_t sp = line.find(' ', 4);
      if (sp == npos) return dropped_at(line, 4);
      win = line.substr(4, sp - 4);
      start = sp + 1;
    }
    if (!id_at(line, start, id, rest)) return;
    return hand(batch_, line, t.pdf, PdfReq{std::string(id), wire_unescape(rest), std::string(win)});
  }
  // 75 APPICON[ <path>]
  if (equals(line, "APPICON") || starts(line, "APPICON "))
    return hand(batch_, line, t.appicon, wire_unescape(from(line, 8)));
  // 76 COOKIES <id> <rest>
  if (starts(line, "COOKIES ")) {
    if (!id_at(line, 8, id, rest)) return;
    return hand(batch_, line, t.cookies, CookieReq{std::string(id), std::string(rest)});
  }
  // 77 SPOTLIGHT <id> <query>
  if (starts(line, "SPOTLIGHT ")) {
    if (!id_at(line, 10, id, rest)) return;
    return hand(batch_, line, t.spotlight, SpotlightReq{std::string(id), wire_unescape(rest)});
  }
  // 78 AI <op> <id>[ <prompt>\t<instructions>\t<tools>]
  if (starts(line, "AI ")) {
    sv op;
    if (!id_at(line, 3, op, rest)) return;
    sv rid, fields;
    split_space(rest, rid, fields);
    auto r = std::make_unique<AiReq>();
    r->id.assign(rid);
    r->op.assign(op);
    if (rest.find(' ') != npos) {
      const Fields& f = tabs(fields);
      r->prompt = wire_unescape(f[0]);
      r->instructions = field_unescaped(f, 1);
      r->tools = field_unescaped(f, 2);
    }
    return hand(batch_, line, t.ai, std::move(r));
  }
  // 79 AITOOLRESULT <n> <value>: carried out here
  if (starts(line, "AITOOLRESULT ")) {
    if (!id_at(line, 13, id, rest)) return;
    if (!t.ai_tool_result) [[unlikely]]
      return note_dropped(line, "no handler");
    post_all(batch_);  // the commands before it are on their way first, as they were read
    return t.ai_tool_result(num_atol(id), wire_unescape(rest));
  }
  // 80 PRINT, 81 PRINT@<w>
  if (equals(line, "PRINT")) return hand(batch_, line, t.print, std::unique_ptr<std::string>());  // no record: the main window
  if (starts(line, "PRINT@")) return hand_string(batch_, line, t.print, from(line, 6));
  // 82 RELOAD
  if (equals(line, "RELOAD")) return hand(batch_, line, t.reload);
  // 83 QUIT
  if (equals(line, "QUIT")) return hand(batch_, line, t.quit);
  note_unmatched(line, builder_.in_menu(), builder_.any_open());
}

void CommandReader::feed(const char* data, size_t n) {
  // What was read goes over even if a line throws.
  struct FlushAtEnd {
    CommandReader* r;
    ~FlushAtEnd() { r->flush(); }
  } flush_at_end{this};
  const char* p = data;
  const char* end = data + n;
  if (!buf_.empty()) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    if (!lf) {
      buf_.append(p, n);
      return;
    }
    buf_.append(p, static_cast<size_t>(lf - p));
    std::string line;
    line.swap(buf_);
    read_line(without_cr(line));
    line.clear();
    buf_.swap(line);  // keeps the room for the next partial line
    p = lf + 1;
  }
  // Whole lines straight from the read buffer; only a trailing partial is kept.
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lf) {
      buf_.assign(p, static_cast<size_t>(end - p));
      return;
    }
    read_line(without_cr(sv(p, static_cast<size_t>(lf - p))));
    p = lf + 1;
  }
}

void reader_run(int fd) {
  CommandReader reader;
  char buf[4096];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;  // a signal is not the end of the stream
    if (r <= 0) break;
    reader.feed(buf, static_cast<size_t>(r));
  }
  launcher_dispatch(g_w.load(std::memory_order_relaxed), typed<do_terminate>, nullptr);
}

namespace {

// Waits until the backend of bundle mode connects or ends. A backend that exits
// with status 0 may have handed over to a child that connects later (a launcher
// script), so only a failure status or a signal ends the wait; the host then ends
// with the diagnostic. False when the host is ending.
bool wait_for_backend() {
  if (g_backend_pidfd < 0) return true;
  pollfd p[2] = {{g_listen_fd, POLLIN, 0}, {g_backend_pidfd, POLLIN, 0}};
  for (;;) {
    int r = poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p[0].revents & POLLIN) || !(p[1].revents & POLLIN)) return true;
    int status = 0;
    pid_t got;
    do {
      got = waitpid(g_backend_pid, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == g_backend_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      // Handed over: wait for the connection alone.
      close(g_backend_pidfd);
      g_backend_pidfd = -1;
      return true;
    }
    std::string how;
    if (got == g_backend_pid && WIFEXITED(status))
      how = " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    else if (got == g_backend_pid && WIFSIGNALED(status))
      how = " (signal " + std::to_string(WTERMSIG(status)) + ")";
    launcher_dispatch(g_w.load(std::memory_order_relaxed), typed<do_backend_exited>, new std::string(how));
    return false;
  }
}

}  // namespace

void sock_read_loop() {
  if (g_listen_fd >= 0) {
    if (!wait_for_backend()) return;
    int fd;
    do {
      fd = accept4(g_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      launcher_dispatch(g_w.load(std::memory_order_relaxed), typed<do_terminate>, nullptr);
      return;
    }
    sock_set_connected(fd);
  }
  reader_run(g_sock);
}
