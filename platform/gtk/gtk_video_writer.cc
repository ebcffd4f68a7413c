// The recorder's MP4 writer: appsrc ! videoconvert ! x264enc ! mp4mux ! filesink.

#include <fcntl.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <unistd.h>

#include <thread>

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
    GError* err = nullptr;
    pipeline_ = gst_parse_launch(
        "appsrc name=src is-live=true format=time do-timestamp=false ! videoconvert ! "
        "x264enc speed-preset=ultrafast tune=zerolatency ! video/x-h264,profile=high ! "
        "mp4mux ! filesink name=sink",
        &err);
    if (err) g_error_free(err);
    if (!pipeline_) return false;
    src_ = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    if (!src_ || !sink) {
      if (sink) gst_object_unref(sink);
      return false;
    }
    g_object_set(sink, "location", path_.c_str(), nullptr);
    gst_object_unref(sink);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, int(w_),
                                        "height", G_TYPE_INT, int(h_), "framerate", GST_TYPE_FRACTION, 60, 1,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(src_), caps);
    gst_caps_unref(caps);
    gst_app_src_set_max_bytes(GST_APP_SRC(src_), guint64(w_) * h_ * 4 * 4);
    return true;
  }

  bool start_writing() override {
    if (!pipeline_) return false;
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
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
    return gst_app_src_get_current_level_bytes(GST_APP_SRC(src_)) < guint64(w_) * h_ * 4 * 2;
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
    gst_app_src_push_buffer(GST_APP_SRC(src_), buf);
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
    GstElement* pipeline = pipeline_;
    pipeline_ = nullptr;
    if (was_writing) gst_app_src_end_of_stream(GST_APP_SRC(src_));
    gst_object_unref(src_);
    src_ = nullptr;
    std::string error = error_;
    std::thread([pipeline, was_writing, error, done = std::move(done)]() mutable {
      bool ok = was_writing;
      if (was_writing) {
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* m = gst_bus_timed_pop_filtered(bus, kFinishLimit,
                                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!m) {
          ok = false;
          error = "the encoder did not finish the file";
        } else {
          if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
            ok = false;
            GError* e = nullptr;
            gst_message_parse_error(m, &e, nullptr);
            error = e ? e->message : "the encoder failed";
            if (e) g_error_free(e);
          }
          gst_message_unref(m);
        }
        gst_object_unref(bus);
      }
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
      done(ok, error);
    }).detach();
  }

 private:
  GstBus* bus() {
    if (!bus_) bus_ = gst_element_get_bus(pipeline_);
    return bus_;
  }
  void record_error(GstMessage* m) {
    GError* e = nullptr;
    gst_message_parse_error(m, &e, nullptr);
    error_ = e ? e->message : "the encoder failed";
    if (e) g_error_free(e);
    gst_message_unref(m);
  }
  void teardown() {
    if (bus_) gst_object_unref(bus_);
    bus_ = nullptr;
    if (src_) gst_object_unref(src_);
    src_ = nullptr;
    if (pipeline_) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      gst_object_unref(pipeline_);
    }
    pipeline_ = nullptr;
  }

  std::string path_;
  std::uint32_t w_ = 0, h_ = 0;
  GstElement* pipeline_ = nullptr;
  GstElement* src_ = nullptr;
  GstBus* bus_ = nullptr;
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
