// The recorder's MP4 writer: appsrc ! videoconvert ! x264enc ! mp4mux ! filesink.

#include <fcntl.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <unistd.h>

#include <thread>

#include "platform/gtk/glib_ptr.h"
#include "platform/gtk/recorder_module.h"
#include "platform/module_entry.h"

namespace platform::gtk {

namespace {

constexpr GstClockTime kFinishLimit = 60 * GST_SECOND;

class GstWriter : public VideoWriter {
 public:
  explicit GstWriter(std::string path) : path_(std::move(path)) {}
  ~GstWriter() override { teardown(); }

  bool add_video_track(std::uint32_t w, std::uint32_t h) override {
    // 4:2:0 H.264 needs even sizes.
    w_ = w & ~1u;
    h_ = h & ~1u;
    if (!w_ || !h_ || pipeline_) return false;
    pipeline_.reset(gst_parse_launch(
        "appsrc name=src is-live=true format=time do-timestamp=false ! videoconvert ! "
        "x264enc speed-preset=ultrafast tune=zerolatency ! video/x-h264,profile=high ! "
        "mp4mux ! filesink name=sink",
        nullptr));
    if (!pipeline_) return false;
    src_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "src"));
    GObjectPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
    if (!src_ || !sink) return false;
    g_object_set(sink.get(), "location", path_.c_str(), nullptr);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, int(w_),
                                        "height", G_TYPE_INT, int(h_), "framerate", GST_TYPE_FRACTION, 60, 1,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(src_.get()), caps);
    gst_caps_unref(caps);
    gst_app_src_set_max_bytes(GST_APP_SRC(src_.get()), guint64(w_) * h_ * 4 * 4);
    return true;
  }

  bool start_writing() override {
    if (!pipeline_) return false;
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
    writing_ = true;
    return true;
  }
  bool writing() const override { return writing_; }
  void start_session(double t) override { first_ = t; }
  bool ready() override {
    if (!writing_) return false;
    if (GstMessage* m = gst_bus_pop_filtered(bus(), GST_MESSAGE_ERROR)) {
      // The pipeline failed (disk full, say): nothing more can be written.
      record_error(m);
      writing_ = false;
      return false;
    }
    return gst_app_src_get_current_level_bytes(GST_APP_SRC(src_.get())) < guint64(w_) * h_ * 4 * 2;
  }
  void append(const VideoFrame& f) override {
    if (!writing_ || !f.pixels) return;
    auto* keep = new std::shared_ptr<const void>(f.pixels);
    const gsize size = gsize(w_) * h_ * 4;
    GstBuffer* buf = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<void*>(keep->get()), size, 0,
                                                 size, keep, [](gpointer p) {
                                                   delete static_cast<std::shared_ptr<const void>*>(p);
                                                 });
    const double t = f.time - first_;
    GST_BUFFER_PTS(buf) = t > 0 ? GstClockTime(t * GST_SECOND) : 0;
    gst_app_src_push_buffer(GST_APP_SRC(src_.get()), buf);
  }
  void cancel() override {
    writing_ = false;
    teardown();
    unlink(path_.c_str());
  }
  void finish(std::function<void(bool, std::string)> done) override {
    if (!pipeline_) return done(false, error_);
    const bool was_writing = writing_;
    writing_ = false;
    if (was_writing) gst_app_src_end_of_stream(GST_APP_SRC(src_.get()));
    src_.reset();
    std::string error = error_;
    std::thread([pipeline = std::move(pipeline_), was_writing, error, done = std::move(done)]() mutable {
      bool ok = was_writing;
      if (was_writing) {
        GObjectPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        GstMessage* m = gst_bus_timed_pop_filtered(bus.get(), kFinishLimit,
                                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!m) {
          ok = false;
          error = "the encoder did not finish the file";
        } else {
          if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
            ok = false;
            error = error_of(m);
          }
          gst_message_unref(m);
        }
      }
      gst_element_set_state(pipeline.get(), GST_STATE_NULL);
      pipeline.reset();
      done(ok, error);
    }).detach();
  }

 private:
  // The text of an error message.
  static std::string error_of(GstMessage* m) {
    GPtr<GError> e;
    gst_message_parse_error(m, out_ptr(e), nullptr);
    return e ? e->message : "the encoder failed";
  }
  GstBus* bus() {
    if (!bus_) bus_.reset(gst_element_get_bus(pipeline_.get()));
    return bus_.get();
  }
  void record_error(GstMessage* m) {
    error_ = error_of(m);
    gst_message_unref(m);
  }
  void teardown() {
    bus_.reset();
    src_.reset();
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    pipeline_.reset();
  }

  std::string path_;
  std::uint32_t w_ = 0, h_ = 0;
  GObjectPtr<GstElement> pipeline_;
  GObjectPtr<GstElement> src_;
  GObjectPtr<GstBus> bus_;
  bool writing_ = false;
  double first_ = 0;
  std::string error_;
};

class GstWriterMaker : public VideoWriterMaker {
 public:
  std::unique_ptr<VideoWriter> make(const std::string& path, std::string& error) override {
    static const bool inited = gst_init_check(nullptr, nullptr, nullptr);
    if (!inited) {
      error = "cannot start GStreamer";
      return nullptr;
    }
    // The file must be creatable now, not only once the first frame is encoded.
    int fd = path.empty() ? -1 : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    close(fd);
    return std::make_unique<GstWriter>(path);
  }
};

}  // namespace

}  // namespace platform::gtk

QUIBEX_MODULE_ENTRY(quibex_recorder_module) {
  static auto* maker = new platform::gtk::GstWriterMaker;
  return static_cast<platform::gtk::VideoWriterMaker*>(maker);
}
