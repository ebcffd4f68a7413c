// Screenshots, the recorder's frames and the colour picker on X11. Frames and
// picks run on threads with connections of their own, so the GTK connection is
// never shared between threads; X errors on those connections are GDK's to
// ignore, and every request is kept inside the root window so none is expected.

#include "platform/common/module_loader.h"
#include "platform/gtk/gtk_capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/gtk_screens.h"
#include "platform/gtk/image_module.h"
#include "platform/gtk/recorder_module.h"

namespace platform::gtk {

namespace {

// Text recognition and thumbnails, from their module, opened off the main
// thread: tesseract and poppler take longer to load than a command should wait.
ModuleOf<ImageServices>& image_services() {
  static auto* m = new ModuleOf<ImageServices>("image", kImageModuleEntry, "text recognition and thumbnails");
  return *m;
}

// The MP4 writer, from its module; opened by the first recording. GStreamer itself
// starts (reading its plugin registry) on first use, as it did before it moved.
ModuleOf<VideoWriterMaker>& recorder() {
  static auto* m = new ModuleOf<VideoWriterMaker>("recorder", "quibex_recorder_module", "screen recording (GStreamer)");
  return *m;
}

std::string display_name() {
  GdkDisplay* d = gdk_display_get_default();
  const char* n = d ? gdk_display_get_name(d) : nullptr;
  return n ? n : "";
}

double mono_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Bytes of a 32-bit ZPixmap image (B, G, R, x in memory) into a packed buffer.
void copy_rows(const XImage* img, unsigned char* dst, int w, int h, int dst_stride) {
  for (int y = 0; y < h; ++y)
    std::memcpy(dst + size_t(y) * dst_stride, img->data + size_t(y) * img->bytes_per_line, size_t(w) * 4);
}

bool usable_format(const XImage* img) {
  return img && img->bits_per_pixel == 32 && img->byte_order == LSBFirst;
}

// Draws the pointer's image (premultiplied ARGB) over a BGRx frame at origin ox, oy.
void draw_cursor(Display* dpy, unsigned char* frame, int w, int h, int ox, int oy) {
  XFixesCursorImage* c = XFixesGetCursorImage(dpy);
  if (!c) return;
  const int left = c->x - c->xhot - ox, top = c->y - c->yhot - oy;
  for (int cy = 0; cy < c->height; ++cy) {
    const int y = top + cy;
    if (y < 0 || y >= h) continue;
    for (int cx = 0; cx < c->width; ++cx) {
      const int x = left + cx;
      if (x < 0 || x >= w) continue;
      const unsigned long p = c->pixels[size_t(cy) * c->width + cx];
      const unsigned a = (p >> 24) & 0xff;
      if (!a) continue;
      unsigned char* d = frame + (size_t(y) * w + x) * 4;
      const unsigned src[3] = {unsigned(p & 0xff), unsigned((p >> 8) & 0xff), unsigned((p >> 16) & 0xff)};
      for (int i = 0; i < 3; ++i) d[i] = static_cast<unsigned char>(std::min(255u, src[i] + d[i] * (255 - a) / 255));
    }
  }
  XFree(c);
}

// ---- the recorder's frame stream ------------------------------------------

class X11FrameStream : public FrameStream {
 public:
  X11FrameStream(const CaptureArea& area, std::uint32_t w, std::uint32_t h, double interval)
      : area_(area), w_(int(w & ~1u)), h_(int(h & ~1u)), interval_(interval), display_(display_name()) {}
  ~X11FrameStream() override {
    halt();
  }
  void start(std::function<void(VideoFrame)> on_frame, std::function<void(std::string)> started) override {
    thread_ = std::thread([this, on_frame = std::move(on_frame), started = std::move(started)] {
      run(on_frame, started);
    });
  }
  void stop(std::function<void()> done) override {
    halt();
    done();
  }

 private:
  void halt() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  void run(const std::function<void(VideoFrame)>& on_frame, const std::function<void(std::string)>& started) {
    Display* dpy = XOpenDisplay(display_.empty() ? nullptr : display_.c_str());
    if (!dpy) return started("cannot open the display");
    const int scr = DefaultScreen(dpy);
    const Window root = RootWindow(dpy, scr);
    const int rw = DisplayWidth(dpy, scr), rh = DisplayHeight(dpy, scr);
    // Only what lies on the root window is read; the rest of a frame stays black.
    const int x = std::clamp(area_.x, 0, rw), y = std::clamp(area_.y, 0, rh);
    const int cw = std::min(w_, rw - x), ch = std::min(h_, rh - y);
    int ev, er;
    const bool cursor = XFixesQueryExtension(dpy, &ev, &er);
    XShmSegmentInfo shm{};
    XImage* img = nullptr;
    if (cw > 0 && ch > 0 && XShmQueryExtension(dpy)) {
      img = XShmCreateImage(dpy, DefaultVisual(dpy, scr), DefaultDepth(dpy, scr), ZPixmap, nullptr, &shm, cw, ch);
      if (img) {
        shm.shmid = shmget(IPC_PRIVATE, size_t(img->bytes_per_line) * img->height, IPC_CREAT | 0600);
        shm.shmaddr = img->data = shm.shmid >= 0 ? static_cast<char*>(shmat(shm.shmid, nullptr, 0)) : (char*)-1;
        shm.readOnly = False;
        if (shm.shmaddr == (char*)-1 || !XShmAttach(dpy, &shm)) {
          if (shm.shmaddr != (char*)-1) shmdt(shm.shmaddr);
          if (shm.shmid >= 0) shmctl(shm.shmid, IPC_RMID, nullptr);
          img->data = nullptr;
          XDestroyImage(img);
          img = nullptr;
        } else {
          XSync(dpy, False);
          shmctl(shm.shmid, IPC_RMID, nullptr);  // gone once both sides detach
        }
      }
    }
    if (w_ <= 0 || h_ <= 0 || cw <= 0 || ch <= 0) {
      XCloseDisplay(dpy);
      return started("the display has no pixels to capture");
    }
    started("");
    auto in_flight = std::make_shared<std::atomic<int>>(0);
    double next = mono_seconds();
    while (!stop_) {
      const double now = mono_seconds();
      if (now < next) {
        const double wait = next - now;
        timespec ts{time_t(wait), long((wait - time_t(wait)) * 1e9)};
        nanosleep(&ts, nullptr);
        continue;
      }
      next = std::max(next + interval_, now);
      // Frames still waiting for the encoder: skip this tick rather than pile up.
      if (in_flight->load() >= 2) continue;
      const double t = mono_seconds();
      XImage* got = nullptr;
      bool ok;
      if (img) {
        ok = XShmGetImage(dpy, root, img, x, y, AllPlanes);
        got = img;
      } else {
        got = XGetImage(dpy, root, x, y, unsigned(cw), unsigned(ch), AllPlanes, ZPixmap);
        ok = got != nullptr;
      }
      ok = ok && usable_format(got);
      auto* buf = new std::vector<unsigned char>(size_t(w_) * h_ * 4, 0);
      if (ok) {
        copy_rows(got, buf->data(), cw, ch, w_ * 4);
        if (cursor) draw_cursor(dpy, buf->data(), w_, h_, x, y);
      }
      if (got && got != img) XDestroyImage(got);
      ++*in_flight;
      std::shared_ptr<const void> pixels(buf->data(), [buf, in_flight](const void*) {
        delete buf;
        --*in_flight;
      });
      on_frame(VideoFrame{std::move(pixels), t, ok});
    }
    if (img) {
      XShmDetach(dpy, &shm);
      img->data = nullptr;
      XDestroyImage(img);
      shmdt(shm.shmaddr);
    }
    XCloseDisplay(dpy);
  }

  CaptureArea area_;
  int w_, h_;
  double interval_;
  std::string display_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- the colour picker ------------------------------------------------------

struct PickSession {
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ~PickSession() {
    if (wake >= 0) close(wake);
  }
  void cancel() {
    std::uint64_t one = 1;
    if (wake >= 0 && write(wake, &one, sizeof one) < 0) {
    }
  }
};

std::mutex g_pick_mu;
std::shared_ptr<PickSession> g_pick;  // the pick now open

using PickDone = std::function<void(std::optional<ScreenCapture::Rgb>, std::string)>;

void run_pick(std::shared_ptr<PickSession> s, const std::string& name, const PickDone& done) {
  Display* dpy = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (!dpy) return done(std::nullopt, "cannot open the display");
  const int scr = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, scr);
  Cursor cross = XCreateFontCursor(dpy, XC_crosshair);
  auto woken = [&] {
    pollfd p{s->wake, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  };
  // Another client (a menu, an earlier pick letting go) may hold the grab briefly.
  bool grabbed = false;
  for (int i = 0; i < 100 && !woken(); ++i) {
    if (XGrabPointer(dpy, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, cross, CurrentTime) ==
        GrabSuccess) {
      if (XGrabKeyboard(dpy, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess) {
        grabbed = true;
        break;
      }
      XUngrabPointer(dpy, CurrentTime);
    }
    XSync(dpy, False);
    usleep(20000);
  }
  std::optional<ScreenCapture::Rgb> color;
  std::string error;
  if (!grabbed) {
    if (!woken()) error = "cannot grab the pointer to pick a colour";
  } else {
    XSync(dpy, False);
    const int xfd = ConnectionNumber(dpy);
    bool done_picking = false;
    while (!done_picking) {
      while (!done_picking && XPending(dpy)) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == KeyPress) {
          if (XLookupKeysym(&e.xkey, 0) == XK_Escape) done_picking = true;
        } else if (e.type == ButtonPress && e.xbutton.button == Button1) {
          done_picking = true;
          XImage* px = XGetImage(dpy, root, e.xbutton.x_root, e.xbutton.y_root, 1, 1, AllPlanes, ZPixmap);
          if (!px) {
            error = "cannot read the pixel";
          } else {
            const unsigned long v = XGetPixel(px, 0, 0);
            auto comp = [v](unsigned long mask) {
              if (!mask) return 0.0;
              int shift = 0;
              while (!((mask >> shift) & 1)) ++shift;
              return double((v & mask) >> shift) / double(mask >> shift);
            };
            color = ScreenCapture::Rgb{comp(px->red_mask), comp(px->green_mask), comp(px->blue_mask)};
            XDestroyImage(px);
          }
        }
      }
      if (done_picking) break;
      pollfd p[2] = {{xfd, POLLIN, 0}, {s->wake, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents) break;  // a newer pick took over: this one is cancelled
    }
    XUngrabKeyboard(dpy, CurrentTime);
    XUngrabPointer(dpy, CurrentTime);
    XSync(dpy, False);
  }
  XFreeCursor(dpy, cross);
  XCloseDisplay(dpy);
  {
    std::lock_guard<std::mutex> lock(g_pick_mu);
    if (g_pick == s) g_pick.reset();
  }
  done(color, error);
}

// ---- the service ------------------------------------------------------------

class GtkCapture : public ScreenCapture {
 public:
  std::optional<CaptureArea> area(std::uint32_t id) override {
    for (GdkMonitor* m : ordered_monitors()) {
      if (display_id_for_monitor(m) != id) continue;
      GdkRectangle g;
      gdk_monitor_get_geometry(m, &g);
      const int s = std::max(1, gdk_monitor_get_scale_factor(m));
      return CaptureArea{g.x * s, g.y * s, std::uint32_t(std::max(0, g.width * s)),
                         std::uint32_t(std::max(0, g.height * s))};
    }
    return std::nullopt;
  }
  std::unique_ptr<VideoWriter> make_writer(const std::string& path, std::string& error) override {
    VideoWriterMaker* maker = recorder().get();
    if (!maker) {
      error = "cannot start GStreamer";
      return nullptr;
    }
    return maker->make(path, error);
  }
  std::unique_ptr<FrameStream> make_stream(const CaptureArea& area, std::uint32_t w, std::uint32_t h,
                                           double interval, std::string& error) override {
    return std::make_unique<X11FrameStream>(area, w, h, interval);
  }
  void screenshot(const CaptureArea& a, std::uint32_t w, std::uint32_t h,
                  std::function<void(std::optional<PngImage>, std::string)> done) override {
    // Read on the main thread through GDK's own connection; encode elsewhere.
    GdkWindow* root = gdk_get_default_root_window();
    const int rw = gdk_window_get_width(root), rh = gdk_window_get_height(root);
    const int x = std::clamp(a.x, 0, rw), y = std::clamp(a.y, 0, rh);
    const int cw = std::min(int(std::min<std::uint32_t>(w, 1u << 16)), rw - x);
    const int ch = std::min(int(std::min<std::uint32_t>(h, 1u << 16)), rh - y);
    GObjectPtr<GdkPixbuf> pb(cw > 0 && ch > 0 ? gdk_pixbuf_get_from_window(root, x, y, cw, ch) : nullptr);
    if (!pb) return done(std::nullopt, "");
    std::thread([pb = std::move(pb), done = std::move(done)]() mutable {
      GPtr<char> buf;
      gsize len = 0;
      PngImage out{"", gdk_pixbuf_get_width(pb.get()), gdk_pixbuf_get_height(pb.get())};
      if (gdk_pixbuf_save_to_buffer(pb.get(), out_ptr(buf), &len, "png", nullptr, nullptr))
        out.png.assign(buf.get(), len);
      pb.reset();
      done(out, "");
    }).detach();
  }
  void pick_color(std::function<void(std::optional<Rgb>, std::string)> done) override {
    auto s = std::make_shared<PickSession>();
    {
      std::lock_guard<std::mutex> lock(g_pick_mu);
      if (g_pick) g_pick->cancel();
      g_pick = s;
    }
    std::thread(run_pick, s, display_name(), std::move(done)).detach();
  }
  void recognize_text(const std::string& path,
                      std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) override {
    image_services().with([path, done = std::move(done)](ImageServices* s) mutable {
      if (!s) return done(std::nullopt, "");
      s->recognize_text(path, std::move(done));
    });
  }
  void thumbnail(const std::string& path, std::uint32_t max_px,
                 std::function<void(std::optional<PngImage>, std::string)> done) override {
    image_services().with([path, max_px, done = std::move(done)](ImageServices* s) mutable {
      if (!s) return done(std::nullopt, "");
      s->thumbnail(path, max_px, std::move(done));
    });
  }
};

}  // namespace

ScreenCapture& gtk_capture() {
  static GtkCapture* c = new GtkCapture;
  return *c;
}

}  // namespace platform::gtk
