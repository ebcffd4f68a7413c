#pragma once
// Screen capture and image services of the in-memory desktop: scripted failures,
// frames a test pushes by hand, and every file name and call recorded.

#include <map>

#include "platform/capture.h"

namespace platform::fake {

class FakeCapture;

class FakeVideoWriter : public VideoWriter {
 public:
  explicit FakeVideoWriter(FakeCapture* c) : c_(c) {}
  bool add_video_track(std::uint32_t w, std::uint32_t h) override;
  bool start_writing() override;
  bool writing() const override { return writing_; }
  void start_session(double t) override;
  bool ready() override;
  void append(const VideoFrame& f) override;
  void cancel() override;
  void finish(std::function<void(bool, std::string)> done) override;

 private:
  FakeCapture* c_;
  bool writing_ = false;
};

class FakeFrameStream : public FrameStream {
 public:
  explicit FakeFrameStream(FakeCapture* c) : c_(c) {}
  ~FakeFrameStream() override;
  void start(std::function<void(VideoFrame)> on_frame, std::function<void(std::string)> started) override;
  void stop(std::function<void()> done) override;

 private:
  FakeCapture* c_;
};

class FakeCapture : public ScreenCapture {
 public:
  std::optional<CaptureArea> area(std::uint32_t id) override {
    if (missing_areas.count(id)) return std::nullopt;
    return CaptureArea{0, 0, 0, 0};
  }
  std::unique_ptr<VideoWriter> make_writer(const std::string& path, std::string& error) override;
  std::unique_ptr<FrameStream> make_stream(const CaptureArea& area, std::uint32_t w, std::uint32_t h,
                                           double min_interval, std::string& error) override;
  void screenshot(const CaptureArea& area, std::uint32_t w, std::uint32_t h,
                  std::function<void(std::optional<PngImage>, std::string)> done) override;
  void pick_color(std::function<void(std::optional<Rgb>, std::string)> done) override { picks.push_back(done); }
  void recognize_text(const std::string& path,
                      std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) override {
    ocr_paths.push_back(path);
    done(ocr_result, ocr_error);
  }
  void thumbnail(const std::string& path, std::uint32_t max_px,
                 std::function<void(std::optional<PngImage>, std::string)> done) override;

  // Pushes one frame into the running stream (as the platform would, off the queue).
  void frame(double time, bool complete = true);

  // Scripted failures, by step.
  std::string writer_error;  // make_writer refuses with this reason
  bool refuse_writer = false;
  bool refuse_track = false;
  bool refuse_start = false;
  bool refuse_stream = false;
  std::string start_error;   // the stream's start completion reports this
  bool hold_start = false;   // the start completion waits for release_start()
  bool ready = true;
  bool finish_completed = true;
  std::string finish_error;
  std::map<std::uint32_t, bool> missing_areas;
  std::string write_root;    // "" = anywhere; a writer for a path outside it is refused
  // What the writer and stream saw.
  std::string writer_path;
  std::uint32_t track_w = 0, track_h = 0;
  double stream_interval = 0;
  std::vector<double> appended;
  double session_start = -1;
  int writers_made = 0, cancels = 0, finishes = 0, stops = 0;
  bool stream_running = false;
  std::function<void(VideoFrame)> on_frame;
  std::function<void(std::string)> pending_start;
  void release_start() {
    auto s = std::move(pending_start);
    pending_start = nullptr;
    if (s) s(start_error);
  }
  // Screenshots.
  std::optional<PngImage> shot;  // none: the capture fails with shot_error
  std::string shot_error;
  std::uint32_t shot_w = 0, shot_h = 0;
  // Image services.
  std::vector<std::function<void(std::optional<Rgb>, std::string)>> picks;
  std::optional<std::vector<TextLine>> ocr_result;
  std::string ocr_error;
  std::vector<std::string> ocr_paths;
  std::optional<PngImage> thumb;
  std::string thumb_error;
  std::vector<std::pair<std::string, std::uint32_t>> thumb_requests;
};

}  // namespace platform::fake
