// RECORD and CAPTURE. The recorder's state lives on its own serial queue; every
// platform completion hops back onto that queue before it touches the state.

#include "services/screen_capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/json_out.h"
#include "core/answers.h"
#include "core/records.h"
#include "platform/capture.h"
#include "platform/platform.h"
#include "services/capture_files.h"

namespace {

constexpr double kMinFrameInterval = 1.0 / 60;

// The chosen display, worked out on the main thread where the window system is.
struct Target {
  std::string error;
  platform::CaptureArea area;
  std::uint32_t width = 0, height = 0;
};

Target choose_display(long display, const char* no_content) {
  Target t;
  platform::ScreenCapture* cap = platform::screen_capture();
  if (!cap) {
    t.error = no_content;
    return t;
  }
  std::vector<platform::ScreenInfo> screens = platform::current().screens().list();
  const platform::ScreenInfo* s = nullptr;
  for (const platform::ScreenInfo& x : screens)
    if (display == 0 || static_cast<long long>(x.display_id) == display) {
      s = &x;
      break;
    }
  std::optional<platform::CaptureArea> area;
  if (s) area = cap->area(s->display_id);
  if (!s || !area) {
    t.error = "no such display";
    return t;
  }
  const double scale = s->scale > 0 ? s->scale : 1.0;
  auto px = [](double v) { return v > 0 && v < 1e9 ? static_cast<std::uint32_t>(v) : 0u; };
  t.area = *area;
  t.width = px(s->frame.w * scale);
  t.height = px(s->frame.h * scale);
  return t;
}

struct Recorder {
  std::unique_ptr<platform::SerialQueue> queue;
  std::shared_ptr<platform::FrameStream> stream;
  std::unique_ptr<platform::VideoWriter> writer;
  bool session = false;
  double first = 0, last = 0;
  std::string path;
  // The writer records into this file beside the path; a stop that completes
  // renames it over the path, every other end removes it, so the file a user
  // had at the path is never lost to a recording that failed.
  std::unique_ptr<TempBeside> file;
  // A stop is between clearing the stream and its reset; starts that come
  // meanwhile wait for it, so the reset cannot clear their state.
  bool finishing = false;
  std::vector<std::function<void()>> waiting;
  // Frames and completions of an earlier recording carry an older number.
  std::uint64_t generation = 0;
};

// Never destroyed: the queue's thread may outlive static destruction.
Recorder*& recorder_ptr() {
  static Recorder* r = new Recorder;
  return r;
}
Recorder& R() { return *recorder_ptr(); }

void on_queue(std::function<void()> fn) { R().queue->post(std::move(fn)); }

void rec_reset() {
  Recorder& r = R();
  r.stream.reset();
  r.writer.reset();
  r.session = false;
  r.path.clear();
  r.file.reset();
  ++r.generation;
}

void rec_start(const std::string& id, const std::string& path, const Target& t);

void run_waiting() {
  std::vector<std::function<void()>> w;
  w.swap(R().waiting);
  for (auto& fn : w) fn();
}

void on_frame(std::uint64_t gen, const platform::VideoFrame& f) {
  Recorder& r = R();
  if (gen != r.generation || !f.complete) return;
  if (!r.writer || !r.writer->writing()) return;
  if (!r.session) {
    r.writer->start_session(f.time);
    r.first = r.last = f.time;  // a session whose first frame is dropped lasts 0, not less
    r.session = true;
  }
  if (!r.writer->ready()) return;  // dropped, never queued
  r.writer->append(f);
  r.last = f.time;
}

void abandon_start(const std::string& id, const std::string& message) {
  Recorder& r = R();
  if (r.writer) r.writer->cancel();
  rec_reset();
  capture_fail(id, message);
}

void rec_start(const std::string& id, const std::string& path, const Target& t) {
  Recorder& r = R();
  if (r.finishing) {
    r.waiting.push_back([id, path, t] { rec_start(id, path, t); });
    return;
  }
  // The stream is set before anything asynchronous happens, so this one check
  // covers the whole start.
  if (r.stream) return capture_fail(id, "already recording");
  if (!t.error.empty()) return capture_fail(id, t.error);
  platform::ScreenCapture* cap = platform::screen_capture();
  if (!cap) return capture_fail(id, "no shareable content (screen permission?)");
  // A folder at the path could never take the recording's place.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return capture_fail(id, "cannot create the mp4");
  auto file = std::make_unique<TempBeside>(path);
  if (!file->created()) return capture_fail(id, "cannot create the mp4");
  file->set_mode(0644);
  file->close();
  r.file = std::move(file);
  std::string err;
  std::unique_ptr<platform::VideoWriter> writer = cap->make_writer(r.file->name(), err);
  if (!writer) return abandon_start(id, err.empty() ? "cannot create the mp4" : err);
  r.writer = std::move(writer);
  if (!r.writer->add_video_track(t.width, t.height)) return abandon_start(id, "cannot add the video track");
  if (!r.writer->start_writing()) return abandon_start(id, "asset writer refused to start");
  std::unique_ptr<platform::FrameStream> stream = cap->make_stream(t.area, t.width, t.height, kMinFrameInterval, err);
  if (!stream) return abandon_start(id, err.empty() ? "cannot capture the display" : err);
  r.stream = std::move(stream);
  r.session = false;
  r.path = path;
  const std::uint64_t gen = ++r.generation;
  r.stream->start(
      [gen](platform::VideoFrame f) { on_queue([gen, f = std::move(f)] { on_frame(gen, f); }); },
      [gen, id](std::string error) {
        on_queue([gen, id, error] {
          Recorder& r = R();
          if (error.empty()) return send_got(id, ok_error_json(true, ""));
          // A stop that already took the stream over finishes and resets it.
          if (gen == r.generation && r.stream) {
            abandon_start(id, error);
          } else {
            capture_fail(id, error);
          }
        });
      });
}

void rec_finished(const std::string& id, bool completed, const std::string& error) {
  Recorder& r = R();
  const bool ok = completed && r.session;
  if (!ok) {
    // Nothing worth keeping: the temporary file goes with the reset below.
    capture_fail(id, !error.empty() ? error : "no frames captured");
  } else if (!r.file || !r.file->put_in_place()) {
    capture_fail(id, "cannot put the recording at " + r.path + ": " + std::strerror(errno));
  } else {
    char dur[64];
    std::snprintf(dur, sizeof dur, "%.3f", r.last - r.first);
    send_got(id, "{\"ok\":true,\"path\":" + json_escape(r.path) + ",\"duration\":" + dur + ",\"error\":null}");
  }
  rec_reset();
  r.finishing = false;
  run_waiting();
}

void rec_stop(const std::string& id) {
  Recorder& r = R();
  if (!r.stream) return capture_fail(id, "not recording");
  std::shared_ptr<platform::FrameStream> stream = std::move(r.stream);
  r.stream.reset();
  r.finishing = true;
  stream->stop([stream, id]() mutable {
    on_queue([stream, id]() mutable {
      stream.reset();
      Recorder& r = R();
      if (!r.writer) return rec_finished(id, false, "");
      r.writer->finish([id](bool completed, std::string error) {
        on_queue([id, completed, error] { rec_finished(id, completed, error); });
      });
    });
  });
}

}  // namespace

void capture_fail(const std::string& id, const std::string& message) {
  // The message goes as it is, not made UTF-8, like the paths in the other answers.
  send_got(id, JsonObject().boolean("ok", false).raw("error", json_escape(message)).str());
}

void do_record(void*, std::unique_ptr<RecordReq> q) {
  Recorder& r = R();
  if (!r.queue) r.queue = platform::current().make_serial_queue("quibex-recorder");
  if (!q->start) {
    on_queue([id = q->id] { rec_stop(id); });
    return;
  }
  Target t = choose_display(q->display, "no shareable content (screen permission?)");
  on_queue([id = q->id, path = q->path, t] { rec_start(id, path, t); });
}

void do_capture(void*, std::unique_ptr<CaptureReq> q) {
  const std::string id = q->id;
  if (!request_id_fits_file_name(id)) return capture_fail(id, kBadRequestId);
  Target t = choose_display(q->display, "no shareable content (screen-recording permission?)");
  if (!t.error.empty()) return capture_fail(id, t.error);
  const std::string path = temp_png_path(platform::current().temp_dir(), "quibex-shot-", id);
  platform::screen_capture()->screenshot(
      t.area, t.width, t.height, [id, path](std::optional<platform::PngImage> img, std::string error) {
        if (!img) return capture_fail(id, error.empty() ? "capture failed" : error);
        if (img->png.empty() || !write_file_atomically(path, img->png)) return capture_fail(id, "png write failed");
        send_got(id, "{\"ok\":true,\"path\":" + json_escape(path) + ",\"width\":" + std::to_string(img->width) +
                         ",\"height\":" + std::to_string(img->height) + "}");
      });
}

platform::SerialQueue* recorder_queue_for_tests() { return R().queue.get(); }
void recorder_reset_for_tests() {
  // The old recorder's queue may still run: it stays alive, and reachable.
  static auto* retired = new std::vector<Recorder*>;
  retired->push_back(recorder_ptr());
  recorder_ptr() = new Recorder;
}
