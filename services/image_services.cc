// PICKCOLOR, OCR and THUMB: each handler starts the desktop's work and the work's
// completion writes the one answer, from whatever thread it runs on.

#include "services/image_services.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "base/json_out.h"
#include "core/answers.h"
#include "core/records.h"
#include "platform/capture.h"
#include "platform/platform.h"
#include "services/capture_files.h"
#include "services/screen_capture.h"

namespace {

// Thumbnails larger than this on a side are not made, whatever size was asked:
// a thumbnail is a preview, and each one is held whole in memory twice over.
constexpr std::uint64_t kMaxThumbPixels = 2048;

// What a file at path is, told by stat: opening a FIFO, or reading a device,
// could block the reading thread for good, so only plain files (and, for
// thumbnails, folders) reach the desktop. A missing file is left to it.
enum class FileKind { kMissing, kRegular, kFolder, kOther };
FileKind file_kind(const std::string& path) {
  struct stat st;
  if (path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0) return FileKind::kMissing;
  return S_ISREG(st.st_mode) ? FileKind::kRegular : S_ISDIR(st.st_mode) ? FileKind::kFolder : FileKind::kOther;
}

std::string color_hex(const platform::ScreenCapture::Rgb& c) {
  auto byte = [](double v) {
    // A component outside 0..1 (or none at all) would not fit two hex digits.
    const double x = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
    return int(std::lround(x * 255));
  };
  char buf[16];
  std::snprintf(buf, sizeof buf, "\"#%02x%02x%02x\"", byte(c.r), byte(c.g), byte(c.b));
  return buf;
}


}  // namespace

void do_pickcolor(void*, std::unique_ptr<std::string> record) {
  const std::string id = *record;
  platform::ScreenCapture* cap = platform::screen_capture();
  if (!cap) return capture_fail(id, "colour picking is not available");
  cap->pick_color([id](std::optional<platform::ScreenCapture::Rgb> c, std::string error) {
    if (c) return send_got(id, "{\"ok\":true,\"color\":" + color_hex(*c) + "}");
    if (error.empty()) return send_got(id, "{\"ok\":true,\"color\":null}");
    capture_fail(id, error);
  });
}

void do_ocr(void*, std::unique_ptr<OcrReq> q) {
  const std::string id = q->id;
  platform::ScreenCapture* cap = platform::screen_capture();
  const FileKind kind = file_kind(q->path);
  if (!cap || kind == FileKind::kFolder || kind == FileKind::kOther) return capture_fail(id, "ocr failed");
  cap->recognize_text(q->path, [id](std::optional<std::vector<platform::TextLine>> lines, std::string error) {
    if (!lines) return capture_fail(id, error.empty() ? "ocr failed" : error);
    std::string text, blocks;
    for (const platform::TextLine& l : *lines) {
      if (!text.empty()) text += '\n';
      text += l.text;
      if (!blocks.empty()) blocks += ',';
      char rest[256];
      auto f = [](double v) { return std::isfinite(v) ? v : 0.0; };
      std::snprintf(rest, sizeof rest, ",\"confidence\":%.3f,\"box\":{\"x\":%.4f,\"y\":%.4f,\"width\":%.4f,\"height\":%.4f}}",
                    f(l.confidence), f(l.x), f(l.y), f(l.w), f(l.h));
      blocks += "{\"text\":" + json_escape(l.text) + rest;
    }
    send_got(id, "{\"ok\":true,\"text\":" + json_escape(text) + ",\"blocks\":[" + blocks + "]}");
  });
}

void do_thumb(void*, std::unique_ptr<ThumbReq> q) {
  const std::string id = q->id, path = q->path;
  const std::uint64_t edge = q->size > 0 ? std::uint64_t(q->size) : 256;
  q.reset();
  if (!request_id_fits_file_name(id)) return capture_fail(id, kBadRequestId);
  const FileKind kind = file_kind(path);
  if (kind == FileKind::kMissing) return capture_fail(id, "no such file: " + path);
  platform::ScreenCapture* cap = platform::screen_capture();
  if (!cap || kind == FileKind::kOther) return capture_fail(id, "no thumbnail");
  const std::string out = temp_png_path(platform::current().temp_dir(), "quibex-thumb-", id);
  const auto max_px = static_cast<std::uint32_t>(std::min(edge * 2, kMaxThumbPixels));
  cap->thumbnail(path, max_px, [id, out](std::optional<platform::PngImage> img, std::string error) {
    if (!img) return capture_fail(id, error.empty() ? "no thumbnail" : error);
    if (img->png.empty() || !write_file_atomically(out, img->png)) return capture_fail(id, "png write failed");
    send_got(id, "{\"ok\":true,\"path\":" + json_escape(out) + ",\"width\":" + std::to_string(img->width) +
                     ",\"height\":" + std::to_string(img->height) + "}");
  });
}
