#include "services/capture_files.h"
#include "services/clipboard.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "base/json_out.h"
#include "core/records.h"
#include "core/settings.h"
#include "core/wire.h"
#include "platform/clipboard.h"
#include "platform/platform.h"
#include "platform/system_info.h"
#include "services/clip_format.h"
#include "services/get_reply.h"

namespace {

// Main thread only. The counts start at -1: none yet.
long g_clip_self = -1;
long g_clip_seen = -1;
platform::TimerId g_clip_timer = 0;
long g_clip_src_count = -1;
std::string g_clip_src_json;
long g_clip_png_count = -1;
std::string g_clip_png_path;
long g_clip_png_w = 0, g_clip_png_h = 0;

platform::Timers& timers() { return platform::current().timers(); }

void stop_watch() {
  if (g_clip_timer) timers().cancel(g_clip_timer);
  g_clip_timer = 0;
}

// Writes the image of this change count to the temporary directory, once per
// count; the file of an earlier count goes.
void store_png(long count, const std::string& png) {
  if (count == g_clip_png_count) return;
  if (!g_clip_png_path.empty()) unlink(g_clip_png_path.c_str());
  g_clip_png_path.clear();
  g_clip_png_count = -1;
  const std::string path = platform::current().temp_dir() + "quibex-clip-" + std::to_string(long(getpid())) + "-" +
                           std::to_string(count) + ".png";
  if (!write_file_atomically(path, png)) {
    std::fprintf(stderr, "quibex: cannot write the clipboard image to %s\n", path.c_str());
    return;
  }
  g_clip_png_path = path;
  g_clip_png_count = count;
  auto size = platform::clipboard()->png_size(png);
  g_clip_png_w = size ? size->first : 0;
  g_clip_png_h = size ? size->second : 0;
}

std::string contents_json(long count, const platform::ClipContents& c) {
  std::string paths = "[";
  bool has_files = false;
  for (const std::string& uri : c.uris) {
    if (auto path = file_uri_path(uri)) {
      if (has_files) paths += ',';
      paths += json_text(*path);
      has_files = true;
    }
  }
  paths += ']';
  const std::string text = c.text.value_or("");
  const std::string html = c.html.value_or("");
  std::string image;
  if (c.png) {
    store_png(count, *c.png);
    if (count == g_clip_png_count) image = g_clip_png_path;
  }
  std::string color;
  if (c.color)
    color = hex_color_text(c.color->r / 65535.0, c.color->g / 65535.0, c.color->b / 65535.0, c.color->a / 65535.0);
  clip_note_source(count);
  const char* kind = has_files         ? "files"
                     : !image.empty()  ? "image"
                     : !color.empty()  ? "color"
                     : !text.empty() || !html.empty() ? "text"
                                                      : "empty";
  std::string size = "null";
  if (!image.empty() && g_clip_png_w >= 1)
    size = JsonObject().raw("width", std::to_string(g_clip_png_w)).raw("height", std::to_string(g_clip_png_h)).str();
  const std::string source_url = c.source_url.value_or("");
  return JsonObject()
      .text("kind", kind)
      .raw("changeCount", std::to_string(count))
      .raw("text", text.empty() ? "null" : json_text(text))
      .raw("html", html.empty() ? "null" : json_text(html))
      .raw("paths", paths)
      .raw("image", image.empty() ? "null" : json_text(image))
      .raw("imageSize", size)
      .raw("color", color.empty() ? "null" : json_text(color))
      .boolean("concealed", c.concealed)
      .raw("sourceApp", g_clip_src_count == count ? g_clip_src_json : "null")
      .raw("sourceURL", source_url.empty() ? "null" : json_text(source_url))
      .str();
}

}  // namespace

void clip_note_source(long count) {
  if (count == g_clip_src_count) return;
  std::optional<std::string> name, bundle;
  if (count == g_clip_self) {
    // The host as its windows name it.
    name = settings().app_name;
    bundle = settings().app_id;
  } else if (platform::SystemInfo* info = platform::system_info()) {
    if (auto app = info->frontmost_app()) {
      name = app->name;
      bundle = app->bundle_id;
    }
  }
  auto text = [](const std::optional<std::string>& s) { return s && !s->empty() ? json_text(*s) : std::string("null"); };
  g_clip_src_json = "{\"name\":" + text(name) + ",\"bundleId\":" + text(bundle) + "}";
  g_clip_src_count = count;
}

void do_clip_write(void*, std::unique_ptr<ClipWriteReq> r) {
  platform::Clipboard* cb = platform::clipboard();
  if (!cb) {
    std::fputs("quibex: CLIPWRITE: no clipboard on this desktop\n", stderr);
    return;
  }
  platform::ClipWrite data;
  for (const std::string& path : r->files)
    if (!path.empty()) data.file_uris.push_back(file_uri(path));
  if (auto bytes = decode_image_field(r->image)) {
    // Only an image that decodes is offered as one; other formats go over as PNG.
    if (auto png = cb->to_png(*bytes))
      data.png = std::move(*png);
    else
      std::fputs("quibex: CLIPWRITE: the image field holds no readable image; it is left out\n", stderr);
  }
  data.text = r->text;
  data.html = r->html;
  double rgba[4];
  if (!r->color.empty() && parse_hex_color(r->color, rgba)) {
    auto c16 = [](double v) { return (unsigned short)(v * 65535 + 0.5); };
    data.color = platform::ClipColor{c16(rgba[0]), c16(rgba[1]), c16(rgba[2]), c16(rgba[3])};
  }
  if (!cb->write(data)) std::fputs("quibex: CLIPWRITE: the display server did not give the host the clipboard\n", stderr);
  g_clip_self = cb->change_count();
  clip_note_source(g_clip_self);
}

void do_clip_watch(void*, std::unique_ptr<int> ms) {
  stop_watch();
  platform::Clipboard* cb = platform::clipboard();
  if (*ms <= 0 || !cb) return;
  const int interval = *ms < 100 ? 100 : *ms;
  g_clip_seen = cb->change_count();
  g_clip_timer = timers().repeating(interval, [] {
    platform::Clipboard* cb = platform::clipboard();
    if (!cb) return;
    const long count = cb->change_count();
    if (count == g_clip_seen) return;
    g_clip_seen = count;
    clip_note_source(count);
    sock_write_line("CLIPCHANGE " + std::to_string(count) + (count == g_clip_self ? " 1" : " 0"));
  });
}

void clipboard_json(bool count_only, std::function<void(const std::string&)> done) {
  platform::Clipboard* cb = platform::clipboard();
  if (!cb) return done("null");
  const long count = cb->change_count();
  if (count_only) return done("{\"changeCount\":" + std::to_string(count) + "}");

  // The commands behind this one wait until the contents are read, so that none
  // of them (a CLIPWRITE, say) can change what this answer shows.
  struct Reading {
    std::function<void(const std::string&)> done;
    platform::TimerId limit = 0;
    bool finished = false;
    void finish(const std::string& json) {
      if (finished) return;
      finished = true;
      timers().cancel(limit);
      platform::current().main_queue().release();
      done(json);
    }
  };
  auto reading = std::make_shared<Reading>();
  reading->done = std::move(done);
  platform::current().main_queue().hold();
  // An owner that never answers cannot hold the commands up for longer than any
  // GET may take.
  reading->limit = timers().once(kGetAnswerLimitMs, [reading] {
    std::fputs("quibex: the clipboard's owner did not answer in time\n", stderr);
    reading->finish("null");
  });
  cb->read([reading, count](std::optional<platform::ClipContents> c) {
    if (reading->finished) return;
    std::string json = "null";
    try {
      if (c) json = contents_json(count, *c);
    } catch (...) {
      json = "null";
    }
    reading->finish(json);
  });
}

void clip_reset_for_tests() {
  stop_watch();
  g_clip_self = g_clip_seen = g_clip_src_count = g_clip_png_count = -1;
  g_clip_src_json.clear();
  g_clip_png_path.clear();
  g_clip_png_w = g_clip_png_h = 0;
}
