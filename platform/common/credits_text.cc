#include "platform/common/credits_text.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/file_text.h"

namespace platform {

namespace {

bool ends_with(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

void put_utf8(std::string& out, std::uint32_t c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Lines trimmed, runs of blank lines made one, none at either end.
std::string tidy_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t a = line.find_first_not_of(" \t\r");
    const size_t b = line.find_last_not_of(" \t\r");
    line = a == std::string::npos ? "" : line.substr(a, b - a + 1);
    if (line.empty() && (lines.empty() || lines.back().empty())) continue;
    lines.push_back(line);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
  return out;
}

// ---- HTML ----

std::uint32_t named_entity(const std::string& name) {
  static const struct {
    const char* name;
    std::uint32_t code;
  } kNames[] = {{"amp", '&'},     {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
                {"nbsp", 0xA0},   {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"mdash", 0x2014},
                {"ndash", 0x2013}, {"hellip", 0x2026}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
                {"rdquo", 0x201D}, {"bull", 0x2022}, {"middot", 0xB7}};
  for (const auto& n : kNames)
    if (name == n.name) return n.code;
  return 0;
}

bool block_tag(const std::string& name) {
  static const char* kBlocks[] = {"br", "p", "div", "li", "ul", "ol", "tr", "table", "h1", "h2", "h3",
                                  "h4", "h5", "h6", "blockquote", "pre", "hr", "dt", "dd", "section", "footer", "header"};
  for (const char* b : kBlocks)
    if (name == b) return true;
  return false;
}

}  // namespace

std::string html_text(std::string_view html) {
  std::string out;
  bool space = false;  // white space waits until the next word
  auto text_char = [&](std::uint32_t c) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = true;
      return;
    }
    if (space && !out.empty() && out.back() != '\n') out += ' ';
    space = false;
    put_utf8(out, c == 0xA0 ? ' ' : c);
  };
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      if (html.compare(i, 4, "<!--") == 0) {
        const size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      size_t j = i + 1;
      const bool closing = j < html.size() && html[j] == '/';
      if (closing) ++j;
      std::string name;
      while (j < html.size() && std::isalnum(static_cast<unsigned char>(html[j])))
        name += char(std::tolower(static_cast<unsigned char>(html[j++])));
      const size_t end = html.find('>', j);
      i = end == std::string_view::npos ? html.size() : end + 1;
      if (!closing && (name == "script" || name == "style")) {
        const size_t close = html.find("</" + name, i);
        const size_t gt = close == std::string_view::npos ? close : html.find('>', close);
        i = gt == std::string_view::npos ? html.size() : gt + 1;
      }
      if (block_tag(name)) {
        out += '\n';
        space = false;
      }
      continue;
    }
    if (c == '&') {
      const size_t semi = html.find(';', i);
      if (semi != std::string_view::npos && semi - i <= 10) {
        const std::string ref(html.substr(i + 1, semi - i - 1));
        std::uint32_t code = 0;
        if (ref.size() > 1 && ref[0] == '#') {
          const bool hex = ref[1] == 'x' || ref[1] == 'X';
          const std::string digits = ref.substr(hex ? 2 : 1);
          if (!digits.empty() && digits.size() <= 7 &&
              digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos)
            code = std::uint32_t(std::stoul(digits, nullptr, hex ? 16 : 10));
        } else {
          code = named_entity(ref);
        }
        if (code) {
          text_char(code);
          i = semi + 1;
          continue;
        }
      }
    }
    // Plain text: UTF-8 passes through byte by byte.
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (space && !out.empty() && out.back() != '\n') out += ' ';
      space = false;
      out += c;
    } else {
      text_char(static_cast<unsigned char>(c));
    }
    ++i;
  }
  return tidy_lines(out);
}

namespace {

// ---- RTF ----

// Windows-1252 between 0x80 and 0x9F; the rest of the code page is Latin-1.
std::uint32_t cp1252(unsigned char b) {
  static const std::uint16_t kHigh[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
}

bool skipped_destination(const std::string& word) {
  static const char* kSkip[] = {"fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "footer",
                                "headerl", "headerr", "headerf", "footerl", "footerr", "footerf", "listtable",
                                "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "themedata",
                                "colorschememapping", "latentstyles", "datastore", "filetbl", "revtbl",
                                "expandedcolortbl", "object", "fldinst", "nonshppict", "shppict"};
  for (const char* s : kSkip)
    if (word == s) return true;
  return false;
}

}  // namespace

std::string rtf_text(std::string_view rtf) {
  std::string out;
  std::vector<bool> skip{false};  // per open group: its text is not shown
  int uc = 1;                      // characters that stand in for each \u
  int fallback = 0;                // of those, still to be passed over
  std::uint32_t high = 0;          // a UTF-16 high surrogate waiting for its pair
  auto emit = [&](std::uint32_t c) {
    if (skip.back()) return;
    if (high && c >= 0xDC00 && c <= 0xDFFF) {
      c = 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00);
      high = 0;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      high = c;
      return;
    } else if (high) {
      put_utf8(out, 0xFFFD);
      high = 0;
    }
    put_utf8(out, c);
  };
  auto literal = [&](std::uint32_t c) {
    if (fallback > 0) {
      --fallback;
      return;
    }
    emit(c);
  };
  size_t i = 0;
  while (i < rtf.size()) {
    const char c = rtf[i];
    if (c == '{') {
      skip.push_back(skip.back());
      fallback = 0;
      ++i;
    } else if (c == '}') {
      if (skip.size() > 1) skip.pop_back();
      fallback = 0;
      ++i;
    } else if (c == '\r' || c == '\n') {
      ++i;
    } else if (c != '\\') {
      // Bytes outside ASCII are in the document's code page.
      literal(cp1252(static_cast<unsigned char>(c)));
      ++i;
    } else if (i + 1 >= rtf.size()) {
      ++i;
    } else {
      const char n = rtf[i + 1];
      if (n == '\\' || n == '{' || n == '}') {
        literal(static_cast<unsigned char>(n));
        i += 2;
      } else if (n == '\n' || n == '\r') {
        literal('\n');
        i += 2;
      } else if (n == '\'') {
        const std::string hex(rtf.substr(i + 2, 2));
        i += 2 + hex.size();
        if (hex.size() == 2 && std::isxdigit(static_cast<unsigned char>(hex[0])) &&
            std::isxdigit(static_cast<unsigned char>(hex[1])))
          literal(cp1252(static_cast<unsigned char>(std::stoi(hex, nullptr, 16))));
      } else if (n == '*') {
        skip.back() = true;
        i += 2;
      } else if (n == '~') {
        literal(' ');
        i += 2;
      } else if (n == '_') {
        literal('-');
        i += 2;
      } else if (std::isalpha(static_cast<unsigned char>(n))) {
        size_t j = i + 1;
        std::string word;
        while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j]))) word += rtf[j++];
        bool has_param = false;
        long param = 0;
        const size_t num = j;
        if (j < rtf.size() && rtf[j] == '-') ++j;
        while (j < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[j])) && j - num < 10) ++j;
        if (j > num && std::isdigit(static_cast<unsigned char>(rtf[j - 1]))) {
          has_param = true;
          param = std::stol(std::string(rtf.substr(num, j - num)));
        } else {
          j = num;
        }
        if (j < rtf.size() && rtf[j] == ' ') ++j;  // the delimiter belongs to the word
        i = j;
        if (skipped_destination(word)) {
          skip.back() = true;
        } else if (word == "par" || word == "line" || word == "sect" || word == "row") {
          literal('\n');
        } else if (word == "tab" || word == "cell") {
          literal('\t');
        } else if (word == "uc" && has_param) {
          uc = int(std::max(0L, param));
        } else if (word == "u" && has_param) {
          emit(std::uint32_t(param < 0 ? param + 65536 : param));
          fallback = uc;
        } else if (word == "emdash") {
          literal(0x2014);
        } else if (word == "endash") {
          literal(0x2013);
        } else if (word == "bullet") {
          literal(0x2022);
        } else if (word == "lquote") {
          literal(0x2018);
        } else if (word == "rquote") {
          literal(0x2019);
        } else if (word == "ldblquote") {
          literal(0x201C);
        } else if (word == "rdblquote") {
          literal(0x201D);
        }
      } else {
        i += 2;  // another control symbol: nothing to show
      }
    }
  }
  return tidy_lines(out);
}

std::string credits_document_text(const std::string& path) {
  if (ends_with(path, ".html")) return html_text(read_file(path));
  if (ends_with(path, ".rtfd")) {
    // A package: its text is TXT.rtf inside.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return rtf_text(read_file(path + "/TXT.rtf"));
    return rtf_text(read_file(path));
  }
  if (ends_with(path, ".rtf")) return rtf_text(read_file(path));
  return read_file(path);
}

}  // namespace platform
