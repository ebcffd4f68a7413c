// FIND, STOPFIND, PDF, PRINT and RELOAD.

#include "webui/page_actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "base/utf8.h"
#include "core/answers.h"
#include "base/json_out.h"
#include "core/page_bridge.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/startup.h"
#include "core/window_registry.h"

namespace {

// The window a call id names: the text before its first colon, else the main one.
std::string window_of_call(const std::string& id) {
  size_t colon = id.find(':');
  return colon == std::string::npos ? "main" : id.substr(0, colon);
}

const char* kNoMatch = "{\"found\":false,\"matches\":0,\"activeMatch\":0}";

// The process's file-creation mask, read without changing it (other threads
// may be creating files).
mode_t current_umask() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Umask:", 0) == 0) return mode_t(std::strtol(line.c_str() + 6, nullptr, 8));
  return 022;
}

bool starts_with_pdf_header(const std::string& path) {
  char head[5] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  size_t n = std::fread(head, 1, 5, f);
  std::fclose(f);
  return n == 5 && std::memcmp(head, "%PDF-", 5) == 0;
}

void answer_pdf(const std::string& id, const std::string& path, const std::string& error) {
  if (error.empty())
    send_got(id, "{\"ok\":true,\"path\":" + json_text(path) + ",\"error\":null}");
  else
    send_got(id, error_json(error));
}

}  // namespace

std::string find_count_script(const std::string& text, bool case_sensitive) {
  // Text nodes under the body in document order, joined without separators, so
  // a match may span nodes; hidden text counts, shadow trees do not. Matches do
  // not overlap. The active match is the last one starting at or before the
  // selection's start.
  return utf8_sanitize(
      "(function(needle, cs) { try {"
      " const sel = window.getSelection();"
      " let startNode = null, startOffset = 0;"
      " if (sel && sel.rangeCount > 0) { const r = sel.getRangeAt(0); startNode = r.startContainer;"
      " startOffset = r.startOffset; }"
      " const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);"
      " let all = '', pos = -1;"
      " for (let n = walker.nextNode(); n; n = walker.nextNode()) {"
      "  const p = n.parentElement;"
      "  if (p && (p.tagName === 'SCRIPT' || p.tagName === 'STYLE' || p.tagName === 'NOSCRIPT')) continue;"
      "  if (n === startNode) pos = all.length + startOffset;"
      "  all += n.data; }"
      " if (!cs) { needle = needle.toLowerCase(); all = all.toLowerCase(); }"
      " let matches = 0, active = 0;"
      " if (needle.length > 0) for (let i = all.indexOf(needle); i >= 0; i = all.indexOf(needle, i + needle.length)) {"
      "  matches++; if (pos >= 0 && i <= pos) active = matches; }"
      " return JSON.stringify({found: true, matches: matches, activeMatch: active});"
      " } catch (e) { return '{\"found\":true}'; } })(" +
      json_escape(text) + ", " + (case_sensitive ? "true" : "false") + ")");
}

std::string find_match_answer(const std::optional<std::string>& result) {
  static const std::string kFoundOnly = "{\"found\":true}";
  if (!result) return kFoundOnly;
  try {
    // Parsed and written again: only an object goes out, and never with a line
    // break that would cut the answer's line.
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(*result);
    if (!j.is_object()) return kFoundOnly;
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  } catch (const std::exception&) {
    return kFoundOnly;
  }
}

void do_find(void* w, std::unique_ptr<FindReq> r) {
  const std::string id = r->id, text = r->text, window = window_of_call(r->id);
  const bool backwards = !r->forward, cs = r->caseSensitive;
  platform::WebView* view = webview_for_id(w, window);
  if (!view || text.empty()) {
    reply_to_call(w, id, 0, "{\"found\":false}");
    return;
  }
  view->find(text, backwards, cs, [w, id, window, text, cs](bool found) {
    if (!found) {
      reply_to_call(w, id, 0, kNoMatch);
      return;
    }
    // The window may have closed meanwhile.
    platform::WebView* now = webview_for_id(w, window);
    if (!now) {
      reply_to_call(w, id, 0, find_match_answer(std::nullopt));
      return;
    }
    now->eval_private(find_count_script(text, cs), [w, id](std::optional<std::string> result) {
      reply_to_call(w, id, 0, find_match_answer(result));
    });
  });
}

void do_stopfind(void* w, std::unique_ptr<std::string> id) {
  if (platform::WebView* view = webview_for_id(w, window_of_call(*id)))
    view->eval_private("window.getSelection().removeAllRanges()", [](std::optional<std::string>) {});
  reply_to_call(w, *id, 0, "true");
}

std::string pdf_temp_template(const std::string& path) {
  if (path.empty() || path.back() == '/') return "";
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".XXXXXX";
}

void do_pdf(void* w, std::unique_ptr<PdfReq> r) {
  const std::string id = r->id, path = r->path, winid = r->winid;
  platform::WebView* view = webview_for_id(w, winid);
  if (!view) {
    answer_pdf(id, path, "no webview");
    return;
  }
  // Written beside the target and moved over it only when whole, so a failure
  // never leaves a partial file at the path nor harms a file already there.
  std::string tmp = pdf_temp_template(path);
  int fd = tmp.empty() ? -1 : mkstemp(tmp.data());
  if (fd < 0) {
    answer_pdf(id, path, "pdf write failed");
    return;
  }
  fchmod(fd, 0666 & ~current_umask());
  close(fd);
  view->print_to_pdf(tmp, [id, path, tmp](const std::string& error) {
    if (!error.empty()) {
      unlink(tmp.c_str());
      answer_pdf(id, path, error);
      return;
    }
    if (!starts_with_pdf_header(tmp) || rename(tmp.c_str(), path.c_str()) != 0) {
      unlink(tmp.c_str());
      answer_pdf(id, path, "pdf write failed");
      return;
    }
    answer_pdf(id, path, "");
  });
}

void do_print(void* w, std::unique_ptr<std::string> win) {
  const std::string id = win ? *win : "main";
  platform::WebView* view = webview_for_id(w, id);
  if (!view || !window_for_id(w, id)) return;
  view->show_print_dialog();
}
