#include "core/page_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/settings.h"
#include "platform/webview_lib.h"

namespace fs = std::filesystem;

namespace {

bool starts_with(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }

// Like a standardized path: absolute where it was, no "." or "..", no trailing "/".
std::string standardize(const std::string& p) {
  std::string s = fs::path(expand_tilde(p)).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

std::string expand_tilde(const std::string& p) {
  if (p == "~" || starts_with(p, "~/")) {
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + p.substr(1);
  }
  return p;
}

bool is_web_url(const std::string& page) { return starts_with(page, "http://") || starts_with(page, "https://"); }

std::string page_file_path(const std::string& path) {
  std::error_code ec;
  fs::path abs = fs::absolute(path, ec);
  if (ec || abs.empty()) return "";
  return abs.lexically_normal().string();
}

std::string quib_read_access_url(const std::string& file_path, const std::string& read_access) {
  fs::path dir = fs::path(file_path).parent_path();
  fs::path parent = dir.parent_path();
  std::error_code ec;
  std::string base = fs::is_directory(parent / "shared", ec) ? parent.string() : dir.string();
  if (read_access.empty()) return base;
  const std::string setting = standardize(read_access);
  const std::string b = standardize(base);
  if (setting == b) return setting;
  const std::string prefix = setting.back() == '/' ? setting : setting + "/";
  if (starts_with(b, prefix.c_str())) return setting;
  // The deepest directory holding both.
  fs::path common;
  fs::path ps(setting), pb(b);
  for (auto i = ps.begin(), j = pb.begin(); i != ps.end() && j != pb.end() && *i == *j; ++i, ++j) common /= *i;
  std::string out = common.string();
  return out.empty() ? "/" : out;
}

void load_page_file(platform::WebView* view, const std::string& abs_path) {
  view->load_file(abs_path, quib_read_access_url(abs_path, settings().read_access));
}

bool load_html_file(void* w, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  if (platform::WebView* view = webview_view(w)) {
    const std::string abs = page_file_path(path);
    if (abs.empty()) return false;
    load_page_file(view, abs);
    return true;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  webview_set_html(w, ss.str());
  return true;
}
