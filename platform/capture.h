#pragma once
// Screen capture and image services of the desktop: screenshots, a recorder's frame
// stream and MP4 writer, colour picking, text recognition and thumbnails.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Where one display lies in the window system's own pixels.
struct CaptureArea {
  int x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};

// One captured frame; the pixels are the platform's own business.
struct VideoFrame {
  std::shared_ptr<const void> pixels;
  double time = 0;        // seconds on a monotonic clock
  bool complete = true;   // false: the source could not deliver a whole frame
};

struct PngImage {
  std::string png;
  long width = 0, height = 0;
};

// The MP4 writer of one recording. Every call comes from the recorder's queue.
class VideoWriter {
 public:
  virtual ~VideoWriter() = default;
  // Adds the one H.264 track of this pixel size; false when it cannot.
  virtual bool add_video_track(std::uint32_t width, std::uint32_t height) = 0;
  virtual bool start_writing() = 0;
  // True from a successful start_writing until finish or cancel.
  virtual bool writing() const = 0;
  // Frame times are counted from this one.
  virtual void start_session(double time) = 0;
  // False while the encoder is behind: the frame on offer is then dropped.
  virtual bool ready() = 0;
  virtual void append(const VideoFrame& frame) = 0;
  // Abandons the file; nothing of it is kept.
  virtual void cancel() = 0;
  // Closes the file; done(completed, error) runs once, on any thread.
  virtual void finish(std::function<void(bool, std::string)> done) = 0;
};

// Frames of one display, the cursor drawn in.
class FrameStream {
 public:
  virtual ~FrameStream() = default;
  // started("") once capture runs, or with the reason it cannot; frames follow
  // on any thread until stop. Both callbacks may run on any thread.
  virtual void start(std::function<void(VideoFrame)> on_frame, std::function<void(std::string)> started) = 0;
  // done runs once, on any thread, after the last frame was delivered.
  virtual void stop(std::function<void()> done) = 0;
};

struct TextLine {
  std::string text;
  double confidence = 0;             // 0 to 1
  double x = 0, y = 0, w = 0, h = 0;  // fractions of the image, origin top-left, y down
};

class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // Main thread: where the display lies; none when the window system has no such display.
  virtual std::optional<CaptureArea> area(std::uint32_t display_id) = 0;
  // Any thread: a writer for an MP4 file at path, or null and the reason.
  virtual std::unique_ptr<VideoWriter> make_writer(const std::string& path, std::string& error) = 0;
  // Any thread: a stream of frames of the area at width x height pixels, at most
  // one per min_interval seconds; null and the reason when it cannot be made.
  virtual std::unique_ptr<FrameStream> make_stream(const CaptureArea& area, std::uint32_t width,
                                                   std::uint32_t height, double min_interval,
                                                   std::string& error) = 0;
  // Main thread: one PNG image of the area without the cursor. done runs once, on
  // any thread, with the image or the reason there is none.
  virtual void screenshot(const CaptureArea& area, std::uint32_t width, std::uint32_t height,
                          std::function<void(std::optional<PngImage>, std::string)> done) = 0;

  // Main thread: lets the user pick a pixel anywhere on screen. done(rgb, error)
  // runs once on any thread: rgb in 0..1 for a pick; none and "" when the user
  // cancelled; none and the reason when picking cannot run. A new pick cancels
  // one still open.
  struct Rgb {
    double r = 0, g = 0, b = 0;
  };
  virtual void pick_color(std::function<void(std::optional<Rgb>, std::string)> done) = 0;
  // Main thread: the lines of text in an image file; done runs once on any thread.
  virtual void recognize_text(const std::string& path,
                              std::function<void(std::optional<std::vector<TextLine>>, std::string)> done) = 0;
  // Main thread: a PNG thumbnail of the file that fits max_px x max_px, keeping
  // its aspect ratio; done runs once on any thread.
  virtual void thumbnail(const std::string& path, std::uint32_t max_px,
                         std::function<void(std::optional<PngImage>, std::string)> done) = 0;
};

ScreenCapture* screen_capture();
void install_screen_capture(ScreenCapture* c);

}  // namespace platform
