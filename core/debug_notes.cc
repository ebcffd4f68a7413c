#include "core/debug_notes.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>

#include "base/utf8.h"
#include "core/launcher.h"

namespace {

using sv = std::string_view;

constexpr size_t kQuoteMax = 48;      // bytes of a line quoted
constexpr size_t kWordMax = 24;       // bytes of a command word kept
constexpr size_t kWordsMax = 256;     // command words spoken of, at most
constexpr size_t kConsoleMax = 4000;  // bytes of one console message
constexpr size_t kSourceMax = 160;    // bytes of its source's URL

// Every command word the reader knows, as the first word of a line.
constexpr sv kKnownWords[] = {
    "RET", "EVAL", "TITLE", "SIZE", "WINOPEN", "WINCLOSE", "DLG", "NAVR", "POPUPR", "FIND", "STOPFIND",
    "MENUBEGIN", "MENURESET", "MENU", "MENUROLE", "ROLEITEM", "ITEM", "SEP", "SUB", "SUBEND", "MENUEND",
    "TRAYBEGIN", "TRAYEND", "TRAYREMOVE", "WINOP", "CTXBEGIN", "CTXEND", "CTXCLEAR", "CTXSUPPRESS",
    "ABOUTHOOK", "HKREG", "HKUNREG", "AUDIOTAP", "AUDIOFILTERSET", "AUDIOFILTERS", "AUDIOBALANCE", "MENUUPD",
    "GET", "NOTIFY", "CHROME", "DRAGWIN", "RESIZEWIN", "CLIPWRITE", "CLIPWATCH", "DRAGOUT", "KEYSTROKE",
    "PERMCHK", "PERMREQ", "SHELL", "LOGIN", "POWER", "SOUND", "SHARE", "NOWPLAYING", "SAY", "RECORD",
    "WINCTRL", "SAYSTOP", "VOICES", "PICKCOLOR", "OCR", "THUMB", "SECRET", "AUTH", "OSA", "QUICKLOOK",
    "CAPTURE", "BADGE", "ATTENTION", "PROGRESS", "PDF", "APPICON", "COOKIES", "SPOTLIGHT", "AI",
    "AITOOLRESULT", "PRINT", "RELOAD", "QUIT",
};

// The words whose lines only a builder takes.
constexpr sv kMenuWords[] = {"MENU", "MENUROLE"};
constexpr sv kBuilderWords[] = {"ROLEITEM", "ITEM", "SEP", "SUB", "SUBEND"};

template <size_t N>
bool among(sv word, const sv (&words)[N]) {
  return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

// The line up to its first space, '@' or TAB.
sv command_word(sv line) { return line.substr(0, std::min(line.find_first_of(" @\t"), kWordMax)); }

// The length of the UTF-8 character at s[i], 0 when the bytes there are none.
size_t char_length(sv s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c < 0x80                 ? 1
                   : c >= 0xc2 && c <= 0xdf ? 2
                   : c >= 0xe0 && c <= 0xef ? 3
                   : c >= 0xf0 && c <= 0xf4 ? 4
                                            : 0;
  return n && i + n <= s.size() && utf8_valid(s.substr(i, n)) ? n : 0;
}

// Control characters (C0, DEL and C1, which some terminals obey) and bytes that
// are not UTF-8 become \xNN.
void append_printable(std::string& out, sv s, size_t max, bool raw_tab) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < s.size();) {
    const size_t len = char_length(s, i);
    const size_t n = std::max<size_t>(len, 1);
    if (i + n > max) {
      out += "...";
      return;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool c1 = len == 2 && c == 0xc2 && static_cast<unsigned char>(s[i + 1]) < 0xa0;
    if (c == '\t') {
      out += raw_tab ? "\t" : "\\t";
    } else if (!len || c < 0x20 || c == 0x7f || c1) {
      for (unsigned char b : s.substr(i, n)) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
}

std::mutex g_said_mu;
// Never destroyed: the reader thread may still speak while the process ends.
std::set<std::string, std::less<>>& said() {
  static auto* words = new std::set<std::string, std::less<>>;
  return *words;
}
bool g_said_full = false;

void write_err(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// Says what is wrong with a command word's line, unless that word was spoken of.
void say(sv word, const std::string& quote, const std::string& what) {
  std::lock_guard<std::mutex> lock(g_said_mu);
  auto& words = said();
  if (words.find(word) != words.end()) return;
  if (words.size() >= kWordsMax) {
    if (!g_said_full) write_err("quibex: debug: more lines the host cannot use go unsaid\n");
    g_said_full = true;
    return;
  }
  words.emplace(word);
  write_err("quibex: debug: " + quote + ": " + what + " (said once per command)\n");
}

// A command handed over in debug mode, with what its line said.
struct NotedCommand {
  platform::HandlerFn handler;
  void* record;
  std::string word;
  std::string head;  // the line up to its first space, printable
};
thread_local const NotedCommand* t_running = nullptr;

void run_noted(void* w, void* p) {
  std::unique_ptr<NotedCommand> n(static_cast<NotedCommand*>(p));
  struct Running {
    const NotedCommand* prev;
    explicit Running(const NotedCommand* now) : prev(t_running) { t_running = now; }
    ~Running() { t_running = prev; }
  } running(n.get());
  n->handler(w, n->record);
}

const char* level_word(const platform::ConsoleMessage& m) {
  using L = platform::ConsoleMessage::Level;
  if (m.uncaught) return "uncaught";
  switch (m.level) {
    case L::kInfo: return "info";
    case L::kWarning: return "warning";
    case L::kError: return "error";
    case L::kDebug: return "debug";
    default: return "log";
  }
}

// One stderr line per line of the message, each labelled; where it came from
// ends the first.
void write_console(const std::string& label, const platform::ConsoleMessage& m) {
  std::string where;
  if (!m.source.empty()) {
    where = " (";
    append_printable(where, m.source, kSourceMax, false);
    if (m.line) where += ":" + std::to_string(m.line);
    where += ")";
  }
  // Cut between characters.
  const size_t cut = utf8_cut(m.text, kConsoleMax);
  const sv text = sv(m.text).substr(0, cut);
  std::string out;
  size_t start = 0;
  for (bool first = true;; first = false) {
    const size_t lf = text.find('\n', start);
    out += label;
    out += first ? std::string(level_word(m)) + ": " : std::string("  ");
    append_printable(out, text.substr(start, lf == sv::npos ? sv::npos : lf - start), kConsoleMax, true);
    if (first) out += where;
    if (lf == sv::npos) break;
    out += '\n';
    start = lf + 1;
  }
  if (cut < m.text.size()) out += "...";
  out += '\n';
  write_err(out);
}

}  // namespace

namespace {
thread_local const NotedLine* t_reading = nullptr;
}  // namespace

const NotedLine* NotedLine::current() { return t_reading; }

void NotedLine::begin(std::string_view line) {
  line_ = line;
  prev_ = t_reading;
  t_reading = this;
  begun_ = true;
}

void NotedLine::end() { t_reading = prev_; }

void hand_over_noted(void* w, platform::HandlerFn handler, void* record) {
  const NotedLine* reading = NotedLine::current();
  if (!reading) return launcher_dispatch(w, handler, record);
  const sv line = reading->line();
  std::string head;
  append_printable(head, line.substr(0, line.find(' ')), kQuoteMax, false);
  launcher_dispatch(w, run_noted, new NotedCommand{handler, record, std::string(command_word(line)), head});
}

void note_dropped(std::string_view line, std::string_view why) {
  if (!settings().debug_on) return;
  say(command_word(line), printable_prefix(line, kQuoteMax), std::string(why));
}

void note_unmatched(std::string_view line, bool in_menu, bool in_builder) {
  if (!settings().debug_on) return;
  const sv word = command_word(line);
  std::string what;
  if (word.empty())
    what = "no command word";
  else if (among(word, kMenuWords) && !in_menu)
    what = "outside MENUBEGIN...MENUEND";
  else if (among(word, kBuilderWords) && !in_builder)
    what = "outside MENUBEGIN, TRAYBEGIN or CTXBEGIN";
  else if (among(word, kKnownWords))
    what = line.size() == word.size() ? "missing fields" : "not a form this command takes";
  else
    what = "unknown command";
  say(word, line.empty() ? std::string("(empty line)") : printable_prefix(line, kQuoteMax), what);
}

void note_no_window(const std::string& id) {
  const NotedCommand* n = t_running;
  if (!n || !settings().debug_on) return;
  say(n->word, n->head, "no window \"" + printable_prefix(id.empty() ? "main" : id, kQuoteMax) + "\"");
}

void forward_page_console(platform::WebView* view, const std::string& window_id) {
  if (!settings().debug_on || !view) return;
  view->set_console_handler([label = "quibex: page " + printable_prefix(window_id, kQuoteMax) + ": "](
                                const platform::ConsoleMessage& m) { write_console(label, m); });
}

std::string printable_prefix(std::string_view s, size_t max) {
  std::string out;
  append_printable(out, s, max, false);
  return out;
}

void debug_notes_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_said_mu);
  said().clear();
  g_said_full = false;
}
