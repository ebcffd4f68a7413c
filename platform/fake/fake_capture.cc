#include "platform/fake/fake_capture.h"

#include <fstream>

namespace platform::fake {

bool FakeVideoWriter::add_video_track(std::uint32_t w, std::uint32_t h) {
  c_->track_w = w;
  c_->track_h = h;
  return !c_->refuse_track;
}
bool FakeVideoWriter::start_writing() {
  if (c_->refuse_start) return false;
  writing_ = true;
  return true;
}
void FakeVideoWriter::start_session(double t) { c_->session_start = t; }
bool FakeVideoWriter::ready() { return c_->ready; }
void FakeVideoWriter::append(const VideoFrame& f) { c_->appended.push_back(f.time); }
void FakeVideoWriter::cancel() {
  writing_ = false;
  ++c_->cancels;
}
void FakeVideoWriter::finish(std::function<void(bool, std::string)> done) {
  writing_ = false;
  ++c_->finishes;
  done(c_->finish_completed, c_->finish_error);
}

FakeFrameStream::~FakeFrameStream() {
  c_->stream_running = false;
  c_->on_frame = nullptr;
}
void FakeFrameStream::start(std::function<void(VideoFrame)> on_frame, std::function<void(std::string)> started) {
  c_->on_frame = std::move(on_frame);
  c_->stream_running = true;
  if (c_->hold_start) {
    c_->pending_start = std::move(started);
    return;
  }
  started(c_->start_error);
}
void FakeFrameStream::stop(std::function<void()> done) {
  ++c_->stops;
  c_->stream_running = false;
  done();
}

std::unique_ptr<VideoWriter> FakeCapture::make_writer(const std::string& path, std::string& error) {
  writer_path = path;
  if (refuse_writer || (!write_root.empty() && path.rfind(write_root, 0) != 0)) {
    error = refuse_writer ? writer_error : "outside the test's folder";
    return nullptr;
  }
  ++writers_made;
  std::ofstream(path) << "partial";  // as a real writer creates its file at once
  return std::make_unique<FakeVideoWriter>(this);
}

std::unique_ptr<FrameStream> FakeCapture::make_stream(const CaptureArea&, std::uint32_t, std::uint32_t,
                                                      double min_interval, std::string& error) {
  stream_interval = min_interval;
  if (refuse_stream) {
    error = "stream refused";
    return nullptr;
  }
  return std::make_unique<FakeFrameStream>(this);
}

void FakeCapture::frame(double time, bool complete) {
  if (on_frame) on_frame(VideoFrame{nullptr, time, complete});
}

void FakeCapture::screenshot(const CaptureArea&, std::uint32_t w, std::uint32_t h,
                             std::function<void(std::optional<PngImage>, std::string)> done) {
  shot_w = w;
  shot_h = h;
  done(shot, shot_error);
}

void FakeCapture::thumbnail(const std::string& path, std::uint32_t max_px,
                            std::function<void(std::optional<PngImage>, std::string)> done) {
  thumb_requests.push_back({path, max_px});
  done(thumb, thumb_error);
}

}  // namespace platform::fake
