// The reader fuzz: every command the reader knows, with edge values in every
// field (empty, missing and extra fields, huge and negative numbers, nan, 1 MB
// strings, ill-formed UTF-8, escapes, windows that are gone) and random
// mutations, fed in random chunks and run against the fake desktop: handlers,
// queues, dialogs and timers all turn. Nothing may crash, hang, leak or trip a
// sanitizer, and every well-formed request with an id is answered exactly once by
// one well-formed line. QUIBEX_FUZZ_LINES sets the lines of each shard,
// QUIBEX_FUZZ_SEED another seed.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "ai/ai_requests.h"
#include "ai/model_server.h"
#include "base/json_out.h"
#include "base/utf8.h"
#include "core/page_bridge.h"
#include "platform/common/speech_queue.h"
#include "platform/common/voice_choice.h"
#include "core/window_observers.h"
#include "platform/fake/fake_capture.h"
#include "platform/fake/fake_desktop_shell.h"
#include "platform/fake/fake_dock.h"
#include "platform/fake/fake_system_access.h"
#include "platform/speech.h"
#include "services/audio_eq.h"
#include "services/audio_tap.h"
#include "services/clipboard.h"
#include "services/desktop_commands.h"
#include "services/dock_media.h"
#include "services/notifications.h"
#include "services/permissions.h"
#include "services/screen_capture.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/context_menu.h"
#include "webui/downloads.h"
#include "webui/keys.h"
#include "webui/menu_bar.h"
#include "webui/navigation.h"
#include "webui/popups.h"
#include "webui/tray.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

namespace fs = std::filesystem;

// What a well-formed line of a command gets back: nothing, "GOT <id> <json>" for
// its request id ({a}), or the page-call answer "GOT <n> <json>" for q<n> ({q}).
enum class Answer { kNone, kGot, kPage };

struct Command {
  const char* form;  // keyword and fields; {x} marks a value drawn from pool x
  Answer answer = Answer::kNone;
  int weight = 1;
};

// Every keyword test of the reader, in its order, with both forms of the
// addressed commands.
const std::vector<Command>& commands() {
  static const std::vector<Command> list = {
      {"RET {c} {i} {J}", Answer::kNone, 2},
      {"EVAL {t}"},
      {"EVAL@{w} {t}", Answer::kNone, 2},
      {"TITLE@{w} {t}"},
      {"TITLE {t}"},
      {"SIZE@{w} {i} {i}"},
      {"SIZE {i} {i}"},
      {"WINOPEN {n}\t{u}\t{t}\t{i}x{i}\t{b}\t{v:all|close|none|min,max}\t{b}\t{M}\t{b}\t{b}\t{i}\t{i}\t{t}"
       "\t{i},{i}\t{w}\t{b}",
       Answer::kNone, 4},
      {"WINCLOSE {w}", Answer::kNone, 2},
      {"DLG {q} {v:open|openmulti|dir|save|alert|confirm|prompt}\t{t}\t{t}\t{t}\t{t}", Answer::kPage},
      {"NAVR {r} {v:allow|deny|external}"},
      {"POPUPR {r} {v:allow|deny|external}"},
      {"FIND {q} {t}\t{b}\t{b}", Answer::kPage},
      {"STOPFIND {q}", Answer::kPage},
      {"MENUBEGIN"},
      {"MENUBEGIN@{w}"},
      {"MENURESET@{w}"},
      {"MENU {t}", Answer::kNone, 2},
      {"MENUROLE {v:app|edit|window|help|services|standard}\t{v:nostd|x}"},
      {"ROLEITEM {v:copy|paste|cut|undo|redo|selectAll|quit|about|hide|minimize|zoom|front|fullscreen}"},
      {"ITEM {x}\t{t}\t{k}\t{v:c|d|cd|x}", Answer::kNone, 3},
      {"SEP"},
      {"SUB {x}\t{t}", Answer::kNone, 2},
      {"SUBEND", Answer::kNone, 2},
      {"MENUEND"},
      {"TRAYBEGIN {t}\t{P}\t{b}\t{t}\t{b}"},
      {"TRAYBEGIN"},
      {"TRAYEND"},
      {"TRAYREMOVE"},
      {"WINOP@{w} {o}", Answer::kNone, 4},
      {"WINOP {o}", Answer::kNone, 2},
      {"CTXBEGIN"},
      {"CTXEND"},
      {"CTXCLEAR"},
      {"CTXSUPPRESS {b}"},
      {"ABOUTHOOK {b}"},
      {"HKREG {a} {x}\t{k}", Answer::kGot},
      {"HKUNREG {x}"},
      {"AUDIOTAP STOP"},
      {"AUDIOTAP {a} {v:system|app|mic}\t{b}\t{i}", Answer::kGot},
      {"AUDIOFILTERSET {i}\t{f}\t{f}\t{f}"},
      {"AUDIOFILTERS {F}\t{F}\t{F}"},
      {"AUDIOFILTERS"},
      {"AUDIOBALANCE {f}"},
      {"AUDIOBALANCE"},
      {"MENUUPD {x}\t{t}\t{b}\t{b}"},
      {"MENUUPD@{m} {x}\t{t}\t{b}\t{b}"},
      {"GET {a} {g}", Answer::kGot, 4},
      {"NOTIFY {x}\t{t}\t{t}\t{t}\t{b}\t{A}"},
      {"CHROME {b}\t{v:all|close|none}\t{b}\t{M}\t{b}\t{b}\t{t}\t{i},{i}"},
      {"CHROME@{w} {b}\t{v:all|close|none}\t{b}\t{M}\t{b}\t{b}\t{t}\t{i},{i}", Answer::kNone, 2},
      {"DRAGWIN"},
      {"DRAGWIN@{w}"},
      {"RESIZEWIN {e}"},
      {"RESIZEWIN@{w} {e}"},
      {"CLIPWRITE {t}\t{t}\t{I}\t{v:#fff|#11223344|red|#gg0000}\t{P}\t{P}"},
      {"CLIPWATCH {i}"},
      {"DRAGOUT {P}\t{P}\t{P}"},
      {"DRAGOUT@{w} {P}\t{P}"},
      {"KEYSTROKE {a} {k}", Answer::kGot},
      {"PERMCHK {a} {v:accessibility|screen|screen-recording|notifications|camera|microphone|automation:x|location}",
       Answer::kGot},
      {"PERMREQ {a} {v:accessibility|screen|notifications|camera|microphone|automation|location}", Answer::kGot},
      {"SHELL {a} {v:open|reveal|trash}\t{p}", Answer::kGot},
      {"LOGIN {a} {v:set 1|set 0|get}", Answer::kGot},
      {"POWER {a} {v:on|off}\t{b}\t{t}", Answer::kGot},
      {"SOUND {a} {t}", Answer::kGot},
      {"SHARE {i}\t{i}\t{t}\t{u}\t{P}\t{P}"},
      {"SHARE@{w} {i}\t{i}\t{t}\t{u}\t{P}"},
      {"NOWPLAYING {j}"},
      {"NOWPLAYING"},
      {"SAY {a} {t}\t{t}\t{f}", Answer::kGot},
      {"RECORD {a} start {i}\t{p}", Answer::kGot},
      {"RECORD {a} stop", Answer::kGot},
      {"WINCTRL {a} {i}\t{i}\t{i}\t{i}\t{i}", Answer::kGot},
      {"SAYSTOP"},
      {"VOICES {a}", Answer::kGot},
      {"PICKCOLOR {a}", Answer::kGot},
      {"OCR {a} {P}", Answer::kGot},
      {"THUMB {a} {P}\t{i}", Answer::kGot},
      {"SECRET {a} {v:get|set|del}\t{t}\t{t}\t{t}", Answer::kGot},
      {"AUTH {a} {t}", Answer::kGot},
      {"OSA {a} {t}", Answer::kGot},
      {"QUICKLOOK {P}\t{P}"},
      {"QUICKLOOK"},
      {"CAPTURE {a} {i}", Answer::kGot},
      {"CAPTURE {a}", Answer::kGot},
      {"BADGE {t}"},
      {"BADGE"},
      {"ATTENTION {i}"},
      {"ATTENTION"},
      {"PROGRESS {f}"},
      {"PROGRESS"},
      {"PDF {a} {p}", Answer::kGot},
      {"PDF@{w} {a} {p}", Answer::kGot},
      {"APPICON {P}"},
      {"APPICON"},
      {"COOKIES {a} {v:get|set|delete}\t{t}\t{t}\t{v:example.com|.x}\t{v:/|/a}\t{f}\t{b}\t{b}\t{v:lax|strict|none}",
       Answer::kGot},
      {"SPOTLIGHT {a} {t}", Answer::kGot},
      {"AI {v:available|generate} {a} {t}\t{t}\t{T}", Answer::kGot},
      {"AITOOLRESULT {i} {t}"},
      {"PRINT"},
      {"PRINT@{w}"},
      {"RELOAD"},
      {"QUIT"},
  };
  return list;
}

using Pool = std::vector<std::string>;

const std::string& megabyte(char c) {
  static std::map<char, std::string> made;
  auto it = made.find(c);
  if (it == made.end()) it = made.emplace(c, std::string(size_t(1) << 20, c)).first;
  return it->second;
}

// One MB of text, now and then: plain, all escapes, or all ill-formed bytes.
std::string huge(std::mt19937_64& rng) {
  switch (rng() % 4) {
    case 0: return megabyte('a');
    case 1: {
      std::string s;
      s.reserve(size_t(1) << 20);
      while (s.size() < (size_t(1) << 20)) s += "\\n\\t\\\\\\";
      return s;
    }
    case 2: return megabyte('\xff');
    default: return megabyte('\x80');
  }
}

const Pool kInts = {"0", "1", "-1", "7", "100", "2147483647", "-2147483648", "2147483648", "-2147483649",
                    "4294967295", "9223372036854775807", "-9223372036854775808", "99999999999999999999", "1e308",
                    "-0", "nan", "inf", "-inf", "", "abc", "0x7fffffff", " 42", "3.9", "-1e308", "070"};
const Pool kReals = {"0", "0.5", "1", "-1", "-0", "0.25", "5", "1e308", "-1e308", "1e309", "1e-320", "nan", "-nan",
                     "inf", "-inf", "", "x", "2147483648", "0x1p3", "1,5"};
const Pool kFlags = {"0", "1", "", "2", "-1", "true", "1 ", "01"};
const Pool kTexts = {
    "hello", "", " ", "a b  c", "\\n", "\\t\\r\\\\", "trailing\\", "\\", "\\q", "\"quoted\"", "it's", "<b>x</b>",
    "{\"a\":1}", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xe2\x80\xa8\xe2\x80\xa9", "\x01\x1f\x7f", "mid\rdle",
    std::string("nul\0byte", 8),
    // Ill-formed UTF-8: lone continuation bytes, overlong forms, surrogates,
    // truncated sequences, values past U+10FFFF, bytes that never occur.
    "\x80", "a\xbf\x80z", "\xc0\xaf", "\xe0\x80\xaf", "\xf0\x80\x80\xaf", "\xed\xa0\x80", "\xed\xbf\xbf",
    "\xed\xa0\xbd\xed\xb8\x80", "\xc3", "ab\xe2\x82", "\xf0\x9f\x98", "\xf4\x90\x80\x80", "\xfe\xff", "\xc3\\n"};
// Words: values without spaces, for slots a space would shift.
const Pool kWords = {"", "x", "0", "\xff", "\xed\xa0\x80", "a:b", "a'b", "\\", "\x01", "*", "main"};
const Pool kKeys = {"cmd+shift+k", "ctrl+alt+f12", "cmd+v", "", "+", "cmd+", "cmd+shift", "a+b", "cmd+cmd+x",
                    "ctrl+space", "f20", "CMD+Q", "cmd+\xc3\xa9", "cmd+\xff", "win+opt+control+shift+pagedown",
                    "++++", "cmd+shift+alt+ctrl+win+option+command+a"};
const Pool kGets = {"windows", "win", "battery", "locale", "wifi", "selectedtext", "otherwindows", "clipboard",
                    "clipboard:count", "mouse", "screens", "fgscreen", "idle", "frontmost", "debug:trafficpos",
                    "debug:activation", "traypos", "debug:tray", "debug:icon", "audiofilters", "item:x",
                    "item@tray:x", "item@ctx:", "nonsense", "", "win:", "mouse:"};
const Pool kOps = {"hide", "hidewin", "show", "show 1", "show 0", "presence 0", "presence 1", "geom 1", "geom 0",
                   "hideonclose 1", "hideonclose 0", "center", "minimize", "restore", "zoom", "fullscreen",
                   "fullscreen 1", "fullscreen 0", "ontop 1", "ontop 0", "resizable 1", "resizable 0",
                   "clickthrough 1", "clickthrough 0", "allspaces 1", "allspaces 0",
                   "level {v:desktop|overlay|floating|normal}",
                   "minsize {i}x{i}", "zoomfactor {f}", "pos {i} {i}", "spos {i} {f} {f} {v:px|pt|xyz}",
                   "spos 70 {f} {f}", "pxsize {i} {i}", "fsscreen {i}", "fsscreen 71", "onscreen", "rescue 0",
                   "rescue 1", "", "nonsense"};
const Pool kMaterials = {"sidebar", "hud", "menu", "popover", "titlebar", "none", "default", "", "9999"};
const Pool kEdges = {"n", "s", "e", "w", "ne", "nw", "se", "sw", "nsew", "", "x"};
const Pool kFilters = {"peak,1000,1,3", "lowshelf,{f},{f},{f}", "highshelf,{f},{f},{f},{f}", "peak,{f},{f},{f}",
                       "x,1,2", "", ",,,", "peak,1,1,1,"};
const Pool kJson = {"{}", "[]", "null", "clear",
                    "{\"title\":\"t\",\"artist\":\"a\",\"album\":\"b\",\"duration\":1e308,\"position\":-1,\"rate\":0}",
                    "{\"title\":\"\\u0000\\ud800\",\"duration\":\"x\",\"playing\":true,\"artwork\":\"/nope\"}",
                    "{\"title\":", "[1,2", "{\"a\":nan}", "\"text\""};
const Pool kActions = {"[{\\\"id\\\":\\\"a\\\",\\\"title\\\":\\\"A\\\"}]", "[]", "{}", "[1]", "x",
                       "[{\\\"id\\\":\\\"default\\\",\\\"title\\\":\\\"\\\"}]",
                       "[{\\\"id\\\":\\\"r\\\",\\\"title\\\":\\\"Reply\\\",\\\"input\\\":true}]"};
const Pool kTools = {"", "[]",
                     "[{\"name\":\"t\",\"description\":\"d\","
                     "\"parameters\":{\"a\":\"string\",\"b\":{\"type\":\"number\"}}}]",
                     "[{\"name\":\"t\",\"parameters\":{\"a\":{\"type\":\"array\"}}}]", "[1]", "{", "null"};
const Pool kUrls = {"http://127.0.0.1:9/", "https://example.invalid/a?b#c", "file:///nonexistent.html", "about:blank",
                    "javascript:alert(1)", "data:text/html,<b>x</b>", "", "x", "mailto:a@b", "http://\xff/",
                    "page.html", "/no/such/page.html"};
const Pool kImages = {"", "data:image/png;base64,iVBORw0KGgo=", "iVBORw0KGgo=", "!!!", "data:,", "~/x.png"};

// The fuzz's own folder, paths inside and outside it, and the window ids it has seen.
class FuzzState {
 public:
  std::mt19937_64 rng;
  std::string root;  // every file a command may write lands under it
  std::vector<std::string> closed;  // some ids of windows that were open once and are gone
  std::vector<std::string> calls;  // page-call ids the host sent in CALL lines
  std::vector<std::string> questions;  // NAVQ and POPUPQ ids the host put
  long seq = 0;
  bool track = true;        // request ids of this line may be answered and checked
  std::string tracked;      // the answer id of the line being made, "" for none

  // Request ids that must be answered: id -> the line that asked.
  std::map<std::string, std::string> expected;

  explicit FuzzState(unsigned long long seed) : rng(seed) {}

  size_t below(size_t n) { return n ? size_t(rng() % n) : 0; }
  bool chance(int one_in) { return rng() % one_in == 0; }
  const std::string& pick(const Pool& p) { return p[below(p.size())]; }

  std::string live_window() {
    if (g_windows.empty()) return "main";
    auto it = g_windows.begin();
    std::advance(it, below(g_windows.size()));
    return it->first;
  }
  std::string dead_window() {
    if (closed.empty() || chance(3)) return "never" + std::to_string(below(5));
    return closed[below(closed.size())];
  }
  std::string window() {
    switch (below(10)) {
      case 0: case 1: case 2: case 3: return live_window();
      case 4: case 5: return dead_window();
      case 6: return "main";
      case 7: return "*";
      case 8: return chance(200) ? std::string(huge(rng).substr(0, 300)) : pick(kWords);
      default: return "";
    }
  }
  std::string new_window() {
    switch (below(10)) {
      case 0: return live_window();
      case 1: return dead_window();
      case 2: return chance(50) ? std::string(megabyte('w')) : pick(kWords);
      default: return "w" + std::to_string(++seq);
    }
  }
  std::string text() {
    if (chance(1500)) return huge(rng);
    std::string s = pick(kTexts);
    if (chance(4)) s += pick(kTexts);
    return s;
  }
  std::string path(bool readable_anywhere) {
    switch (below(readable_anywhere ? 16 : 13)) {
      case 0: return root + "/file.txt";
      case 1: return root + "/out" + std::to_string(below(4)) + ".pdf";
      case 2: return root + "/dir";
      case 3: return root + "/dir/";
      case 4: return root + "/no/such/file";
      case 5: return root + "/\xc3\xa9\xff.mp4";
      case 6: return root + "/" + std::string(300, 'n');
      case 7: return "";
      case 8: return "relative.png";
      case 9: return "~/x";
      case 10: return "~nosuchuser" + std::to_string(below(3)) + "/x";
      case 11: return "file://" + root + "/file.txt";
      case 12: return chance(100) ? root + "/" + megabyte('p') : "file:///%2e%2e/x";
      // Read, never written: devices that never end, a pipe nobody writes to.
      case 13: return "/dev/zero";
      case 14: return root + "/fifo";
      default: return "/proc/self/status";
    }
  }
  // A request id: tracked ids are answered and checked.
  std::string request_id(const char* prefix) {
    if (track && !chance(10)) {
      const std::string n = std::to_string(++seq);
      tracked = prefix[0] == 'q' ? n : prefix + n;  // a page call is answered by its number
      return prefix + n;
    }
    return chance(2) ? "m" + std::to_string(++seq) : pick(kWords);
  }
  std::string call_id() {
    switch (below(6)) {
      case 0: case 1: case 2: return request_id("q");
      case 3: return calls.empty() ? "main:1" : calls[below(calls.size())];
      case 4: return live_window() + ":" + pick(kInts);
      default: return dead_window() + ":" + std::to_string(below(9));
    }
  }

  // The value of one {x} slot.
  std::string value(const std::string& slot) {
    if (slot.rfind("v:", 0) == 0) {
      if (chance(10)) return pick(kWords);
      std::vector<std::string> choices;
      std::stringstream in(slot.substr(2));
      for (std::string c; std::getline(in, c, '|');) choices.push_back(c);
      return choices[below(choices.size())];
    }
    switch (slot[0]) {
      case 'a': return request_id("f");
      case 'q': return call_id();
      case 'c': return chance(2) && !calls.empty() ? calls[below(calls.size())] : call_id();
      case 'r': return !questions.empty() && !chance(4) ? questions[below(questions.size())] : pick(kWords);
      case 'w': return window();
      case 'n': return new_window();
      case 'm': return chance(3) ? "tray" : chance(2) ? "ctx" : window();
      case 'i': return pick(kInts);
      case 'f': return pick(kReals);
      case 'b': return pick(kFlags);
      case 't': return text();
      case 'x': return chance(3) ? pick(kWords) : "id" + std::to_string(below(8));
      case 'p': return path(false);
      case 'P': return path(true);
      case 'u': return chance(3000) ? "http://" + megabyte('u') : pick(kUrls);
      case 'j': return chance(3000) ? std::string(100000, '[') : pick(kJson);
      case 'J': return chance(2) ? pick(kJson) : text();
      case 'A': return pick(kActions);
      case 'T': return chance(3000) ? std::string(200000, '[') : pick(kTools);
      case 'k': return chance(3000) ? megabyte('k') : pick(kKeys);
      case 'g': return chance(4) ? std::string(chance(2) ? "win:" : "mouse:") + window() : pick(kGets);
      case 'o': return expand(pick(kOps));
      case 'M': return pick(kMaterials);
      case 'e': return pick(kEdges);
      case 'F': return expand(pick(kFilters));
      case 'I': return chance(2) ? pick(kImages) : path(true);
      default: return "?";
    }
  }

  // Fills every {x} of a form.
  std::string expand(const std::string& form) {
    std::string out;
    for (size_t i = 0; i < form.size();) {
      if (form[i] != '{') {
        out += form[i++];
        continue;
      }
      const size_t end = form.find('}', i);
      out += value(form.substr(i + 1, end - i - 1));
      i = end + 1;
    }
    return out;
  }
};

// Whole TAB fields dropped from the end or added; false when some were dropped.
bool edit_fields(FuzzState& s, std::string& line) {
  if (line.find('\t') == std::string::npos || !s.chance(6)) return true;
  if (s.chance(2)) {
    for (int k = int(1 + s.below(3)); k > 0; --k) line += "\t" + s.text();
    return true;
  }
  size_t keep = s.below(std::count(line.begin(), line.end(), '\t') + 1);
  size_t at = 0;
  for (size_t k = 0; k < keep; ++k) at = line.find('\t', at) + 1;
  line.resize(keep ? at - 1 : line.find('\t'));
  return false;
}

std::string mutate(FuzzState& s, std::string line) {
  static const char kSpecial[] = " \t@\\\r0123456789-+.,:{}\"";
  for (int e = int(1 + s.below(4)); e > 0; --e) {
    const size_t pos = s.below(line.size() + 1);
    switch (s.below(7)) {
      case 0: line.resize(pos); break;
      case 1: line.insert(pos, 1, kSpecial[s.below(sizeof kSpecial - 1)]); break;
      case 2: {
        char c = char(s.below(256));
        line.insert(pos, 1, c == '\n' ? '\r' : c);
        break;
      }
      case 3:
        if (pos < line.size()) line.erase(pos, 1);
        break;
      case 4: line.insert(pos, std::string(s.below(64), char('a' + s.below(26)))); break;
      case 5: line.insert(pos, s.expand(commands()[s.below(commands().size())].form)); break;
      default:
        if (pos < line.size()) line[pos] = kSpecial[s.below(sizeof kSpecial - 1)];
    }
  }
  return line;
}

// One line: a command with edge values, now and then mutated further.
std::string next_line(FuzzState& s) {
  static const std::vector<size_t> by_weight = [] {
    std::vector<size_t> v;
    for (size_t i = 0; i < commands().size(); ++i)
      for (int k = 0; k < commands()[i].weight; ++k) v.push_back(i);
    return v;
  }();
  const Command& c = commands()[by_weight[s.below(by_weight.size())]];
  const bool mutated = s.chance(4);
  s.track = !mutated && c.answer != Answer::kNone;
  s.tracked.clear();
  std::string line = s.expand(c.form);
  // A line that lost fields may be dropped whole; one that gained some is still answered.
  if (edit_fields(s, line) && !s.tracked.empty()) s.expected[s.tracked] = line;
  return mutated ? mutate(s, line) : line;
}

// A speech engine that is done at once: some utterances end, some fail.
class InstantEngine : public platform::SpeechEngine {
 public:
  bool speak(const platform::Utterance& u, const std::atomic<bool>&) override {
    platform::pick_voice(voices(), u.voice);
    return platform::speech_rate_wpm(u.rate) > 0 && u.text.size() % 3 != 0;
  }
  std::vector<platform::Voice> voices() override {
    return {{"gmw/en", "English", "en", 1}, {"x\xff", "Bad \xed\xa0\x80 name", "", 3}};
  }
};

class ReaderFuzz : public WindowTest, public testing::WithParamInterface<int> {
 protected:
  bool with_main_window() const override { return GetParam() % 2 == 0; }

  void SetUp() override {
    WindowTest::SetUp();
    settings().windowless = !with_main_window();
    char tmpl[] = "/tmp/quibex-fuzz-XXXXXX";
    root = mkdtemp(tmpl);
    fs::create_directories(root + "/dir");
    std::ofstream(root + "/file.txt") << "x";
    mkfifo((root + "/fifo").c_str(), 0600);
    old_cwd = fs::current_path();
    fs::current_path(root);  // relative paths land in the fuzz's folder too
    old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);  // LOGIN writes its entry there
    settings().bundle_identifier = "org.quibex.fuzz";
    desktop.tmp_dir = root + "/";
    desktop.write_root = root + "/";
    if (FakeWebView* main = main_view()) {
      // The main window as start-up leaves it: hooks, bridge and delegates in place.
      main->write_root = root + "/";
      install_ctx_hook();
      install_drop_hook();
      install_first_mouse_hook();
      attach_quib_bridge(main, "main");
      quib_apply_web_delegates(main);
    }
    cap.write_root = root + "/";
    install_fakes();
    platform::install_speech_factory(
        [] { return std::make_unique<platform::SpeechQueue>(std::make_unique<InstantEngine>()); });
    ai_set_server_config({"http://127.0.0.1:9", "", false});
    ai_set_tool_timeout_for_tests(std::chrono::milliseconds(1));
    ai_set_transport_for_tests([](const HttpRequest& r) {
      // Whatever the model server might say: text, a tool call, nonsense, nothing.
      static std::atomic<unsigned> n{0};
      switch (n++ % 5) {
        case 0: return HttpResponse{"", 200, R"({"choices":[{"message":{"content":"fine \ud800"}}]})"};
        case 1:
          return HttpResponse{"", 200,
                              R"({"choices":[{"message":{"tool_calls":[{"id":"1","type":"function",)"
                              R"("function":{"name":"t","arguments":"{\"a\":1}"}}]}}]})"};
        case 2: return HttpResponse{"", 500, "{\"error\":\"busy\"}"};
        case 3: return HttpResponse{"", 200, "{\"choices\":[{"};
        default: return HttpResponse{"refused", 0, ""};
      }
    });
  }

  void TearDown() override {
    // What keeps running between commands stops, as a backend would stop it.
    CommandReader reader;
    for (const char* l : {"AUDIOTAP STOP", "CLIPWATCH 0", "SAYSTOP", "TRAYREMOVE", "CTXCLEAR", "AUDIOFILTERS",
                          "POWER z off", "RECORD z stop"})
      reader.handle_line(l);
    settle();
    platform::reset_speech();
    platform::install_speech_factory(nullptr);
    ai_set_transport_for_tests(nullptr);
    ai_set_server_config({});
    ai_set_tool_timeout_for_tests(std::chrono::milliseconds(20000));
    audiotap_reset();
    eq_reset();
    recorder_reset_for_tests();
    hotkeys_reset_for_tests();
    tray_reset_for_tests();
    context_menu_reset_for_tests();
    menu_bars_reset_for_tests();
    navigation_reset_for_tests();
    downloads_reset_for_tests();
    popups_reset_for_tests();
    clip_reset_for_tests();
    notif_reset_for_tests();
    permissions_reset_for_tests();
    power_reset_for_tests();
    dock_reset_for_tests();
    g_about_to_app = false;
    platform::install_desktop_shell(nullptr);
    platform::install_dock(nullptr);
    platform::install_system_access(nullptr);
    platform::install_screen_capture(nullptr);
    WindowTest::TearDown();
    quib_bridge_reset_for_tests();
    setenv("HOME", old_home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    settings().bundle_identifier.clear();
    fs::current_path(old_cwd);
    fs::remove_all(root);
  }

  void install_fakes() {
    shell = std::make_unique<platform::fake::FakeDesktopShell>();
    shell->files = {root + "/file.txt", root + "/dir"};
    shell->known_sounds = {"Glass"};
    shell->search_results = {root + "/file.txt", "/\xff"};
    dock = std::make_unique<platform::fake::FakeDock>();
    dock->images = {root + "/file.txt"};
    access = std::make_unique<platform::fake::FakeSystemAccess>();
    access->windows = {{4242, true}, {1, false}};
    if (GetParam() < 2) access->auth_unavailable.reset();  // asks wait for the person
    platform::install_desktop_shell(shell.get());
    platform::install_dock(dock.get());
    platform::install_system_access(access.get());
    platform::install_screen_capture(&cap);
  }

  // Runs everything queued, answers what waits for a person or the desktop, and
  // moves the clock on, until nothing is left to do.
  void settle() {
    if (!state) state = std::make_unique<FuzzState>(1);
    for (int step = 0; step < 4; ++step) {
      for (int pass = 0; pass < 1000; ++pass) {
        size_t n = desktop.queue.drain();
        handed += long(n);
        for (platform::SerialQueue* q : {ai_queue_for_tests(), recorder_queue_for_tests()})
          if (auto* fq = dynamic_cast<platform::fake::FakeSerialQueue*>(q)) n += fq->drain();
        n += answer_people();
        read_wire();
        if (n == 0) break;
      }
      // Past every short default (navigation questions wait 400 ms), now and then past the long ones.
      desktop.clock.advance(step == 3 ? (state->chance(20) ? 61000 : 500) : double(state->below(1200)));
    }
    desktop.queue.clear_quit();
  }

  // Dialogs, colour picks, authentication and location prompts, answered at random.
  size_t answer_people() {
    size_t n = 0;
    FuzzState& s = *state;
    for (auto& d : desktop.dialog_box.shown) {
      // Some stay open into later rounds, to meet windows that close under them.
      if (!d->open || (!answer_all && s.chance(2))) continue;
      ++n;
      if (d->panel) {
        d->chosen = {s.path(true), root + "/\xff.txt"};
        d->chosen.resize(s.below(3));
        s.chance(2) ? d->accept() : s.chance(2) ? d->cancel() : d->dismiss();
      } else {
        d->field = s.text();
        s.chance(3) ? d->dismiss() : d->click(s.below(d->alert.buttons.size() + 1));
      }
    }
    std::erase_if(desktop.dialog_box.shown, [](auto& d) { return !d->open; });
    for (auto& pick : std::exchange(cap.picks, {})) {
      ++n;
      const double nan = std::nan("");
      switch (s.below(4)) {
        case 0: pick(platform::ScreenCapture::Rgb{0.2, 1.5, -3}, ""); break;
        case 1: pick(platform::ScreenCapture::Rgb{nan, 1e308, -0.0}, ""); break;
        case 2: pick(std::nullopt, ""); break;
        default: pick(std::nullopt, "cancelled \xff");
      }
    }
    for (auto& ask : std::exchange(access->auth_asks, {})) {
      ++n;
      ask.answer(s.chance(2), s.chance(2) ? std::optional<std::string>("no \xff") : std::nullopt);
    }
    for (auto& done : std::exchange(desktop.perms.prompt_waiting, {})) {
      ++n;
      done(platform::Permissions::Location(s.below(3)));
    }
    return n;
  }

  // Checks every line the host wrote and notes the answers and page calls.
  void read_wire() {
    std::vector<std::string> lines;
    for (int i = 0; i < 10000; ++i) {
      // What waits for the socket goes out only as the socket is read.
      const bool flushed = sock_flush(i ? 1 : 0);
      for (std::string& l : wire.lines()) lines.push_back(std::move(l));
      if (flushed) break;
    }
    for (const std::string& l : lines) {
      if (l.find('\r') != std::string::npos) bad.push_back("a CR: " + l.substr(0, 200));
      for (auto [kind, ids] : {std::pair{"CALL ", &state->calls}, {"NAVQ ", &state->questions},
                               {"POPUPQ ", &state->questions}}) {
        const size_t at = std::strlen(kind);
        if (l.rfind(kind, 0) != 0) continue;
        if (ids->size() > 64) ids->erase(ids->begin());
        ids->push_back(l.substr(at, l.find(' ', at) - at));
      }
      // Events that carry JSON after the window id: it must be JSON still.
      for (const char* kind : {"NAV ", "CALL ", "WINSTATE "})
        if (l.rfind(kind, 0) == 0) {
          const size_t at = std::strcmp(kind, "NAV ") == 0 ? 4 : l.find(' ', std::strlen(kind)) + 1;
          if (at == 0 || !nlohmann::json::accept(utf8_sanitize(l.substr(at))))
            bad.push_back("an event that is no JSON: " + l.substr(0, 200));
        }
      if (l.rfind("GOT ", 0) != 0) continue;
      const size_t sp = l.find(' ', 4);
      const std::string id = l.substr(4, sp == std::string::npos ? std::string::npos : sp - 4);
      auto it = state->expected.find(id);
      if (it == state->expected.end()) continue;
      ++answered[id];
      if (answered[id] > 1) bad.push_back("a second answer to " + it->second.substr(0, 200) + ": " + l.substr(0, 200));
      if (sp == std::string::npos || !nlohmann::json::accept(utf8_sanitize(l.substr(sp + 1))))
        bad.push_back("an answer that is no JSON to " + it->second.substr(0, 200) + ": " + l.substr(0, 200));
    }
  }

  // Opens a few windows and lets their pages call, so that commands meet live windows.
  void desktop_events(CommandReader& reader) {
    FuzzState& s = *state;
    for (int k = 0; k < 3 && g_windows.size() < 3; ++k) {
      reader.handle_line("WINOPEN w" + std::to_string(++s.seq));
      handed += long(desktop.queue.drain());
    }
    for (auto& [id, qw] : g_windows) {
      if (!s.chance(3) || !qw.webview) continue;
      auto* view = static_cast<platform::fake::FakeWebView*>(qw.webview.get());
      view->write_root = root + "/";
      view->post_message("quib", {std::to_string(++s.seq % 50) + ":" + s.text(), "file://", true, "doc"});
    }
    if (main_view() && s.chance(2))
      main_view()->post_message("quib", {std::to_string(++s.seq) + ":x", "null", true, "d"});
    // Pages go elsewhere and open windows: the host asks the backend (NAVR and
    // POPUPR lines answer) and every decision must be taken once.
    std::vector<FakeWebView*> views;
    if (main_view()) views.push_back(main_view());
    for (auto& [id, qw] : g_windows)
      if (qw.webview) views.push_back(static_cast<FakeWebView*>(qw.webview.get()));
    if (!views.empty() && s.chance(2)) {
      FakeWebView* v = views[s.below(views.size())];
      const std::string url = s.chance(3) ? s.text() : s.pick(kUrls);
      const bool response = s.chance(4), flag = s.chance(2), main = s.chance(2);
      const std::string what = std::string(response ? "a response" : "an action") +
                               (v == main_view() ? " in the main view" : "") + (flag ? " 1 " : " 0 ") +
                               (main ? "1 " : "0 ") + json_escape(url.substr(0, 100));
      decisions.push_back({what, response ? v->respond({url, flag, main}) : v->page_navigates(url, flag || main)});
      if (s.chance(4))
        if (FakeWebView* popup = v->window_open(url); popup && s.chance(2))
          popup->ready({0, 0, s.chance(2) ? 0 : 300, 200});
    }
    // Pages load, fail and lose their web process; windows move, resize and take the focus.
    if (!views.empty() && s.chance(4)) {
      FakeWebView* v = views[s.below(views.size())];
      switch (s.below(5)) {
        case 0: v->load_started(s.pick(kUrls)); break;
        case 1: v->load_committed(); break;
        case 2: v->load_finished(); break;
        case 3: v->load_failed({platform::LoadError::Kind(s.below(3)), s.text(), s.pick(kUrls)}); break;
        default: v->process_ends();
      }
    }
    if (!g_windows.empty() && s.chance(4))
      if (FakeWindow* w = win(s.live_window())) w->fire(platform::WindowNote(s.below(9)));
    // Monitors come and go: none at all, one, or the usual two.
    if (s.chance(40)) {
      const std::vector<std::vector<ScreenInfo>> layouts = {
          {}, {monitor_screen()}, {laptop_screen(), monitor_screen()}, {{5, {0, 0, 0, 0}, {0, 0, 0, 0}, 0}}};
      desktop.monitors.set(layouts[s.below(layouts.size())]);
    }
    // Now and then the user closes one; never more than a dozen stay open.
    for (int k = 0; k < 100 && (g_windows.size() > 12 || (s.chance(8) && k == 0)) && !g_windows.empty(); ++k) {
      if (FakeWindow* w = win(s.live_window())) w->user_close();
      handed += long(desktop.queue.drain());
    }
  }

  // Forgets what the fakes recorded, so that millions of lines fit in memory.
  void forget_records() {
    install_fakes();  // fresh ones; the old go with what they recorded
    cap.ocr_paths.clear();
    cap.thumb_requests.clear();
    cap.appended.clear();
    desktop.clip.writes.clear();
    desktop.notes.requests.clear();
    desktop.keys.posted.clear();
    desktop.cookies.sets.clear();
    desktop.cookies.removes.clear();
    desktop.cookies.cookies.clear();
    for (FakeWebView* v : {main_view()}) {
      if (!v) continue;
      v->scripts.clear();
      v->finds.clear();
      v->private_scripts.clear();
      v->pdf_paths.clear();
      v->urls.clear();
    }
    if (FakeWindow* m = main_window()) {
      m->file_drags.clear();
      m->resize_drags.clear();
    }
    for (FakeWindow* w : desktop.app.live) w->file_drags.clear();
  }

  // Lines of this shard, in chunks of random read sizes.
  void run(long lines) {
    const char* seed = std::getenv("QUIBEX_FUZZ_SEED");  // another seed finds other lines
    state = std::make_unique<FuzzState>((seed ? std::strtoull(seed, nullptr, 10) : 0x5eed0000ULL) + GetParam());
    FuzzState& s = *state;
    s.root = root;
    CommandReader reader;
#if defined(__SANITIZE_ADDRESS__)
    // Sanitizer reports go to the real stderr while the host's diagnostics are captured.
    static const int report_fd = dup(2);
    __sanitizer_set_report_fd(reinterpret_cast<void*>(std::intptr_t(report_fd)));
#endif
    testing::internal::CaptureStderr();  // diagnostics of refused input are expected
    long done = 0, rounds = 0;
    while (done < lines) {
      desktop_events(reader);
      std::string chunk;
      for (int i = 0; i < 48 && done < lines; ++i, ++done) {
        if (s.chance(20000)) {
          // Deep nesting: a run of SUBs, inside or outside a builder as it falls.
          for (int k = int(500 + s.below(5000)); k > 0; --k) chunk += s.chance(64) ? "ITEM i\n" : "SUB s\n";
        }
        chunk += next_line(s);
        chunk += '\n';
      }
      for (size_t off = 0; off < chunk.size();) {
        const size_t n = std::min<size_t>(chunk.size() - off, 1 + s.below(4096));
        reader.feed(chunk.data() + off, n);
        off += n;
      }
      settle();
      for (const std::string& id : std::exchange(open_ids, {})) {
        if (g_windows.count(id)) continue;
        if (s.closed.size() < 64) s.closed.push_back(id);
        else s.closed[s.below(64)] = id;
      }
      for (auto& [id, qw] : g_windows) open_ids.push_back(id);
      check_answers(false);
      if (++rounds % 64 == 0) forget_records();
      if (HasFailure()) break;
    }
    reader.feed("\n", 1);
    settle();
    check_answers(true);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(reader.buffered(), 0u);
    // A handler that throws is caught by the main queue, but it is a fault all the same.
    for (size_t at = 0; (at = said.find("a command failed", at)) != std::string::npos; ++at)
      ADD_FAILURE() << said.substr(said.rfind('\n', at) + 1, 300);
  }

  // Every expected answer came, once; waits a little for answers from threads.
  void check_answers(bool final_round) {
    answer_all = true;
    for (int i = 0; i < 2000; ++i) {
      bool all = true;
      for (auto& [id, line] : state->expected) all = all && answered.count(id);
      if (all) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(i ? 5 : 0));
      settle();
    }
    answer_all = false;
    for (auto& [id, line] : state->expected) {
      if (!answered.count(id)) bad.push_back("no answer to " + line.substr(0, 300));
      else ++answers;
    }
    for (auto& [what, d] : std::exchange(decisions, {}))
      if (d->answers > 1 || d->pending())
        bad.push_back("the decision on " + what + " taken " + std::to_string(d->answers) + " times");
    state->expected.clear();
    answered.clear();
    if (!bad.empty()) {
      for (size_t i = 0; i < bad.size() && i < 10; ++i) ADD_FAILURE() << bad[i];
      bad.clear();
    }
    (void)final_round;
  }

  std::string root, old_home;
  fs::path old_cwd;
  std::unique_ptr<platform::fake::FakeDesktopShell> shell;
  std::unique_ptr<platform::fake::FakeDock> dock;
  std::unique_ptr<platform::fake::FakeSystemAccess> access;
  platform::fake::FakeCapture cap;
  std::unique_ptr<FuzzState> state;
  std::vector<std::string> open_ids;  // the registry's ids after the last round
  // The navigation decisions of this round, with what was asked.
  std::vector<std::pair<std::string, std::shared_ptr<platform::fake::FakeDecision>>> decisions;
  std::map<std::string, int> answered;
  std::vector<std::string> bad;
  long handed = 0, answers = 0;
  bool answer_all = false;  // every dialog is answered now, not only some
};

TEST_P(ReaderFuzz, EveryCommandWithEdgeValuesRunsAndIsAnswered) {
  const char* env = std::getenv("QUIBEX_FUZZ_LINES");
  const long lines = env ? std::atol(env) : 20000;
  run(lines);
  // Most lines reach a handler, and a fair share of them are requests followed
  // to their answers: the checks above cannot pass by doing nothing.
  EXPECT_GT(handed, lines / 2);
  EXPECT_GT(answers, lines / 10);
}

// Even shards have a main window, odd ones run windowless.
INSTANTIATE_TEST_SUITE_P(Shards, ReaderFuzz, testing::Range(0, 4));

// The keywords the reader tests, read from its own source, each met by a form
// above: a keyword the reader learns fails here until the fuzz sends it too.
TEST(ReaderFuzzCoverage, EveryKeywordOfTheReaderIsFuzzed) {
  std::ifstream in(QUIBEX_SOURCE_DIR "/core/reader.cc");
  ASSERT_TRUE(in) << "core/reader.cc not found";
  std::stringstream text;
  text << in.rdbuf();
  const std::string src = text.str();
  std::vector<std::string> forms;
  for (const Command& c : commands()) forms.push_back(std::regex_replace(c.form, std::regex("\\{[^}]*\\}"), "1"));
  auto some_form = [&](auto match) { return std::any_of(forms.begin(), forms.end(), match); };
  const std::regex test(R"re((starts|equals|at_form)\(line, "([^"]+)"\))re");
  size_t keywords = 0;
  for (std::sregex_iterator it(src.begin(), src.end(), test), end; it != end; ++it, ++keywords) {
    const std::string kind = (*it)[1], kw = (*it)[2];
    SCOPED_TRACE(kind + " " + kw);
    if (kind == "equals") {
      EXPECT_TRUE(some_form([&](const std::string& f) { return f == kw; }));
    } else if (kind == "starts") {
      EXPECT_TRUE(some_form([&](const std::string& f) { return f.rfind(kw, 0) == 0; }));
    } else {
      for (const char* after : {" ", "@"})
        EXPECT_TRUE(some_form([&](const std::string& f) { return f.rfind(kw + after, 0) == 0; })) << after;
    }
  }
  EXPECT_GT(keywords, 80u);  // the pattern still finds the reader's tests
}

}  // namespace
