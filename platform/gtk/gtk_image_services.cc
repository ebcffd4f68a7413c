// Text recognition with tesseract and thumbnails with gdk-pixbuf and poppler, each
// on a thread of its own.

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>
#include <leptonica/allheaders.h>
#include <poppler.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "platform/gtk/gtk_capture.h"

namespace platform::gtk {

namespace {

std::string trimmed(const char* s) {
  std::string t = s ? s : "";
  while (!t.empty() && (t.back() == '\n' || t.back() == ' ' || t.back() == '\r')) t.pop_back();
  size_t b = 0;
  while (b < t.size() && t[b] == ' ') ++b;
  return t.substr(b);
}

// tesseract's OpenMP threads spin against each other and against the rest of the
// desktop: one page took ten times longer with them than on one thread. Applies to
// parallel regions started from the calling thread.
void recognize_on_one_thread() {
  using SetThreads = void (*)(int);
  if (auto set = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"))) set(1);
}

void recognize(const std::string& path, const std::function<void(std::optional<std::vector<TextLine>>, std::string)>& done) {
  recognize_on_one_thread();
  Pix* pix = pixRead(path.c_str());
  if (!pix) return done(std::nullopt, "");
  tesseract::TessBaseAPI api;
  if (api.Init(nullptr, "eng") != 0) {
    pixDestroy(&pix);
    return done(std::nullopt, "text recognition data for English is missing");
  }
  api.SetImage(pix);
  const double W = pixGetWidth(pix), H = pixGetHeight(pix);
  std::vector<TextLine> lines;
  if (api.Recognize(nullptr) != 0) {
    api.End();
    pixDestroy(&pix);
    return done(std::nullopt, "");
  }
  if (tesseract::ResultIterator* it = api.GetIterator()) {
    const auto level = tesseract::RIL_TEXTLINE;
    do {
      char* raw = it->GetUTF8Text(level);
      std::string text = trimmed(raw);
      delete[] raw;
      if (text.empty()) continue;
      int l, t, r, b;
      if (!it->BoundingBox(level, &l, &t, &r, &b)) continue;
      TextLine line;
      line.text = text;
      line.confidence = std::clamp(double(it->Confidence(level)) / 100.0, 0.0, 1.0);
      line.x = l / W;
      line.y = t / H;
      line.w = (r - l) / W;
      line.h = (b - t) / H;
      lines.push_back(line);
    } while (it->Next(level));
    delete it;
  }
  api.End();
  pixDestroy(&pix);
  done(lines, "");
}

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int len) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), len);
  return CAIRO_STATUS_SUCCESS;
}

std::optional<PngImage> pdf_thumbnail(const std::string& path, std::uint32_t max_px) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return std::nullopt;
  PopplerDocument* doc = poppler_document_new_from_file(uri, nullptr, nullptr);
  g_free(uri);
  if (!doc) return std::nullopt;
  std::optional<PngImage> out;
  if (PopplerPage* page = poppler_document_get_n_pages(doc) > 0 ? poppler_document_get_page(doc, 0) : nullptr) {
    double pw = 0, ph = 0;
    poppler_page_get_size(page, &pw, &ph);
    if (pw > 0 && ph > 0) {
      const double s = max_px / std::max(pw, ph);
      const int w = std::max(1, int(std::lround(pw * s))), h = std::max(1, int(std::lround(ph * s)));
      cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
      cairo_t* cr = cairo_create(surf);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_scale(cr, s, s);
      poppler_page_render(page, cr);
      cairo_destroy(cr);
      std::string png;
      if (cairo_surface_write_to_png_stream(surf, append_bytes, &png) == CAIRO_STATUS_SUCCESS)
        out = PngImage{png, w, h};
      else
        out = PngImage{"", w, h};
      cairo_surface_destroy(surf);
    }
    g_object_unref(page);
  }
  g_object_unref(doc);
  return out;
}

std::optional<PngImage> image_thumbnail(const std::string& path, std::uint32_t max_px) {
  GdkPixbuf* pb = gdk_pixbuf_new_from_file_at_scale(path.c_str(), int(max_px), int(max_px), TRUE, nullptr);
  if (!pb) return std::nullopt;
  GdkPixbuf* turned = gdk_pixbuf_apply_embedded_orientation(pb);
  g_object_unref(pb);
  if (!turned) return std::nullopt;
  // The orientation may have swapped the sides; keep inside the box either way.
  int w = gdk_pixbuf_get_width(turned), h = gdk_pixbuf_get_height(turned);
  if (w > int(max_px) || h > int(max_px)) {
    const double s = double(max_px) / std::max(w, h);
    GdkPixbuf* fit = gdk_pixbuf_scale_simple(turned, std::max(1, int(w * s)), std::max(1, int(h * s)),
                                             GDK_INTERP_BILINEAR);
    g_object_unref(turned);
    if (!fit) return std::nullopt;
    turned = fit;
    w = gdk_pixbuf_get_width(turned);
    h = gdk_pixbuf_get_height(turned);
  }
  gchar* buf = nullptr;
  gsize len = 0;
  PngImage out{"", w, h};
  if (gdk_pixbuf_save_to_buffer(turned, &buf, &len, "png", nullptr, nullptr)) out.png.assign(buf, len);
  g_free(buf);
  g_object_unref(turned);
  return out;
}

PngImage png_of(GdkPixbuf* pb) {
  gchar* buf = nullptr;
  gsize len = 0;
  PngImage out{"", gdk_pixbuf_get_width(pb), gdk_pixbuf_get_height(pb)};
  if (gdk_pixbuf_save_to_buffer(pb, &buf, &len, "png", nullptr, nullptr)) out.png.assign(buf, len);
  g_free(buf);
  return out;
}

// Files that have no picture of their own show their type's icon, as the
// desktop's file managers do. Main thread: the icon theme is GTK's.
std::optional<PngImage> icon_thumbnail(const std::string& path, std::uint32_t max_px) {
  GFile* file = g_file_new_for_path(path.c_str());
  GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_ICON, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
  g_object_unref(file);
  if (!info) return std::nullopt;
  std::optional<PngImage> out;
  GIcon* icon = g_file_info_get_icon(info);
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  if (icon && theme) {
    const int size = int(std::min<std::uint32_t>(max_px, 4096));
    if (GtkIconInfo* found = gtk_icon_theme_lookup_by_gicon(theme, icon, size, GTK_ICON_LOOKUP_FORCE_SIZE)) {
      if (GdkPixbuf* pb = gtk_icon_info_load_icon(found, nullptr)) {
        out = png_of(pb);
        g_object_unref(pb);
      }
      g_object_unref(found);
    }
  }
  g_object_unref(info);
  return out;
}

}  // namespace

void recognize_text_file(const std::string& path,
                         std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) {
  std::thread([path, done = std::move(done)] { recognize(path, done); }).detach();
}

void thumbnail_file(const std::string& path, std::uint32_t max_px,
                    std::function<void(std::optional<PngImage>, std::string)> done) {
  std::thread([path, max_px, done = std::move(done)] {
    std::optional<PngImage> img = image_thumbnail(path, max_px);
    if (!img) img = pdf_thumbnail(path, max_px);
    if (img) return done(img, "");
    struct IconAsk {
      std::string path;
      std::uint32_t max_px;
      std::function<void(std::optional<PngImage>, std::string)> done;
    };
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        +[](gpointer p) -> gboolean {
          auto* ask = static_cast<IconAsk*>(p);
          ask->done(icon_thumbnail(ask->path, ask->max_px), "");
          return G_SOURCE_REMOVE;
        },
        new IconAsk{path, max_px, done}, +[](gpointer p) { delete static_cast<IconAsk*>(p); });
  }).detach();
}

}  // namespace platform::gtk
