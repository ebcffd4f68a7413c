// Text recognition with tesseract on a thread of its own per request, and
// thumbnails with gdk-pixbuf and poppler on a pool of two threads. Files are
// opened without waiting and checked on the opened descriptor: a FIFO or a
// device put at the path after the caller looked is refused, never read.

#include <cairo.h>
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>
#include <leptonica/allheaders.h>
#include <poppler.h>
#include <sys/stat.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/image_module.h"
#include "platform/module_entry.h"

namespace platform::gtk {

namespace {

// Thumbnails made at once; more wait their turn.
constexpr int kThumbThreads = 2;
// Raster images are never enlarged beyond this many times their own size.
constexpr double kMaxUpscale = 2;
// A source that would decode to more pixels than this is not decoded (its
// type's icon stands in): a PNG is decoded whole before it is scaled.
constexpr double kMaxDecodePixels = 50e6;

// A file opened for reading, and what it is. O_NONBLOCK: opening a FIFO would
// wait for a writer. Plain files read as usual with it.
struct OpenFile {
  explicit OpenFile(const std::string& path) {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
      regular = S_ISREG(st.st_mode);
      folder = S_ISDIR(st.st_mode);
    }
  }
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd = -1;
  bool regular = false, folder = false;
};

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

Pix* read_pix(const std::string& path) {
  OpenFile f(path);
  if (!f.regular) return nullptr;
  FILE* in = fdopen(f.fd, "rb");
  if (!in) return nullptr;
  f.fd = -1;  // the stream has it now
  Pix* pix = pixReadStream(in, 0);
  std::fclose(in);
  return pix;
}

void recognize(const std::string& path, const std::function<void(std::optional<std::vector<TextLine>>, std::string)>& done) {
  recognize_on_one_thread();
  Pix* pix = read_pix(path);
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

std::optional<PngImage> pdf_thumbnail(int fd, std::uint32_t max_px) {
  const int own = dup(fd);  // the document takes the descriptor it is given
  if (own < 0) return std::nullopt;
  if (lseek(own, 0, SEEK_SET) != 0) {
    close(own);
    return std::nullopt;
  }
  GObjectPtr<PopplerDocument> doc(poppler_document_new_from_fd(own, nullptr, nullptr));
  if (!doc) return std::nullopt;
  std::optional<PngImage> out;
  if (GObjectPtr<PopplerPage> page{poppler_document_get_n_pages(doc.get()) > 0 ? poppler_document_get_page(doc.get(), 0)
                                                                                : nullptr}) {
    double pw = 0, ph = 0;
    poppler_page_get_size(page.get(), &pw, &ph);
    if (pw > 0 && ph > 0) {
      const double s = max_px / std::max(pw, ph);
      const int w = std::max(1, int(std::lround(pw * s))), h = std::max(1, int(std::lround(ph * s)));
      cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
      cairo_t* cr = cairo_create(surf);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_scale(cr, s, s);
      poppler_page_render(page.get(), cr);
      cairo_destroy(cr);
      std::string png;
      if (cairo_surface_write_to_png_stream(surf, append_bytes, &png) == CAIRO_STATUS_SUCCESS)
        out = PngImage{png, w, h};
      else
        out = PngImage{"", w, h};
      cairo_surface_destroy(surf);
    }
  }
  return out;
}

// Chooses the size an image is decoded at once its own size is known.
struct DecodeSize {
  std::uint32_t max_px;
  bool refused = false;

  static void on_size(GdkPixbufLoader* loader, int w, int h, gpointer self) {
    static_cast<DecodeSize*>(self)->choose(loader, w, h);
  }
  void choose(GdkPixbufLoader* loader, int w, int h) {
    if (w <= 0 || h <= 0) return;
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    const bool scalable = format && gdk_pixbuf_format_is_scalable(format);
    // JPEG decodes at down to an eighth of each side; other rasters decode whole.
    const bool jpeg = format && take_string(gdk_pixbuf_format_get_name(format)) == "jpeg";
    double scale = double(max_px) / std::max(w, h);
    if (!scalable) scale = std::min(scale, kMaxUpscale);
    const double decoded = scalable ? 0 : double(w) * double(h) / (jpeg ? 64 : 1);
    if (decoded > kMaxDecodePixels) {
      // A size of 0 makes the decoder stop before it allocates the image.
      refused = true;
      gdk_pixbuf_loader_set_size(loader, 0, 0);
      return;
    }
    gdk_pixbuf_loader_set_size(loader, std::max(1, int(std::lround(w * scale))),
                               std::max(1, int(std::lround(h * scale))));
  }
};

// The image in fd decoded at (at most) the size it is shown at; null when it
// is no image gdk-pixbuf reads, or too large to decode.
GObjectPtr<GdkPixbuf> decode_image(int fd, std::uint32_t max_px) {
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  DecodeSize size{max_px};
  g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(&DecodeSize::on_size), &size);
  // A small first piece: the header tells the size before much is decoded.
  std::vector<guchar> buf(4096);
  bool ok = true;
  for (;;) {
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!gdk_pixbuf_loader_write(loader.get(), buf.data(), gsize(n), nullptr) || size.refused) {
      ok = false;
      break;
    }
    buf.resize(1 << 16);
  }
  ok = gdk_pixbuf_loader_close(loader.get(), nullptr) && ok && !size.refused;
  return ok ? add_ref(gdk_pixbuf_loader_get_pixbuf(loader.get())) : nullptr;
}

PngImage png_of(GdkPixbuf* pb) {
  GPtr<char> buf;
  gsize len = 0;
  PngImage out{"", gdk_pixbuf_get_width(pb), gdk_pixbuf_get_height(pb)};
  if (gdk_pixbuf_save_to_buffer(pb, out_ptr(buf), &len, "png", nullptr, nullptr)) out.png.assign(buf.get(), len);
  return out;
}

std::optional<PngImage> image_thumbnail(int fd, std::uint32_t max_px) {
  GObjectPtr<GdkPixbuf> pb = decode_image(fd, max_px);
  if (!pb) return std::nullopt;
  GObjectPtr<GdkPixbuf> turned(gdk_pixbuf_apply_embedded_orientation(pb.get()));
  pb.reset();  // large, and no longer needed
  if (!turned) return std::nullopt;
  // The orientation may have swapped the sides; keep inside the box either way.
  const int w = gdk_pixbuf_get_width(turned.get()), h = gdk_pixbuf_get_height(turned.get());
  if (w > int(max_px) || h > int(max_px)) {
    const double s = double(max_px) / std::max(w, h);
    turned.reset(gdk_pixbuf_scale_simple(turned.get(), std::max(1, int(w * s)), std::max(1, int(h * s)),
                                         GDK_INTERP_BILINEAR));
    if (!turned) return std::nullopt;
  }
  return png_of(turned.get());
}

// The content type of what fd holds, sniffed from its first bytes as file
// managers do; on the thumbnail's thread, so the main thread never reads.
std::string content_type(const std::string& path, const OpenFile& f) {
  if (f.folder) return "inode/directory";
  guchar head[4096];
  const ssize_t n = pread(f.fd, head, sizeof head, 0);
  GPtr<char> type(g_content_type_guess(path.c_str(), head, n > 0 ? gsize(n) : 0, nullptr));
  return type ? type.get() : "application/octet-stream";
}

// Files that have no picture of their own show their type's icon, as the
// desktop's file managers do. Main thread: the icon theme is GTK's.
std::optional<PngImage> icon_thumbnail(const std::string& type, std::uint32_t max_px) {
  GObjectPtr<GIcon> icon(g_content_type_get_icon(type.c_str()));
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  if (!icon || !theme) return std::nullopt;
  const int size = int(std::min<std::uint32_t>(max_px, 4096));
  GObjectPtr<GtkIconInfo> found(gtk_icon_theme_lookup_by_gicon(theme, icon.get(), size, GTK_ICON_LOOKUP_FORCE_SIZE));
  GObjectPtr<GdkPixbuf> pb(found ? gtk_icon_info_load_icon(found.get(), nullptr) : nullptr);
  if (!pb) return std::nullopt;
  return png_of(pb.get());
}

using ThumbDone = std::function<void(std::optional<PngImage>, std::string)>;

struct ThumbJob {
  std::string path;
  std::uint32_t max_px;
  ThumbDone done;
};

// On a pool thread: the file's own picture, else its type's icon from the main thread.
void make_thumbnail(gpointer data, gpointer) {
  std::unique_ptr<ThumbJob> job(static_cast<ThumbJob*>(data));
  OpenFile f(job->path);
  if (!f.regular && !f.folder) return job->done(std::nullopt, "");
  std::optional<PngImage> img;
  if (f.regular) img = image_thumbnail(f.fd, job->max_px);
  if (f.regular && !img) img = pdf_thumbnail(f.fd, job->max_px);
  if (img) return job->done(img, "");
  struct IconAsk {
    std::string type;
    std::uint32_t max_px;
    ThumbDone done;
  };
  g_main_context_invoke_full(
      nullptr, G_PRIORITY_DEFAULT,
      +[](gpointer p) -> gboolean {
        auto* ask = static_cast<IconAsk*>(p);
        ask->done(icon_thumbnail(ask->type, ask->max_px), "");
        return G_SOURCE_REMOVE;
      },
      new IconAsk{content_type(job->path, f), job->max_px, std::move(job->done)},
      +[](gpointer p) { delete static_cast<IconAsk*>(p); });
}

class ModuleImageServices : public ImageServices {
 public:
  void recognize_text(const std::string& path,
                      std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) override {
    std::thread([path, done = std::move(done)] { recognize(path, done); }).detach();
  }
  void thumbnail(const std::string& path, std::uint32_t max_px, ThumbDone done) override {
    // Never freed: its threads may outlive static destruction.
    static GThreadPool* pool = g_thread_pool_new(&make_thumbnail, nullptr, kThumbThreads, FALSE, nullptr);
    if (!pool) return done(std::nullopt, "");
    // A push whose thread cannot be made stays queued for the threads there are.
    g_thread_pool_push(pool, new ThumbJob{path, max_px, std::move(done)}, nullptr);
  }
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_image_module) {
  static auto* services = new platform::gtk::ModuleImageServices;
  return static_cast<platform::gtk::ImageServices*>(services);
}
