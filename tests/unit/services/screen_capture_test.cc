// RECORD and CAPTURE against the scripted capture service.

#include <sys/stat.h>

#include <algorithm>

#include "capture_test_support.h"
#include "core/records.h"
#include "services/capture_files.h"
#include "services/screen_capture.h"

namespace {

using Lines = std::vector<std::string>;

class RecordTest : public CaptureTest {
 protected:
  std::string mp4() const { return dir + "/out.mp4"; }
  void start(const std::string& id, long display = 0) {
    run(do_record, RecordReq{id, mp4(), display, true});
  }
  void stop(const std::string& id) { run(do_record, RecordReq{id, "", 0, false}); }
  // The names in the folder, sorted.
  Lines files() const {
    Lines names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(RecordTest, StartFramesStopAnswersPathAndDuration) {
  start("r1");
  EXPECT_EQ(lines(), Lines{"GOT r1 {\"ok\":true,\"error\":null}"});
  // The first listed display at its pixel size, at most 60 frames a second.
  EXPECT_EQ(cap.track_w, 3024u);
  EXPECT_EQ(cap.track_h, 1964u);
  EXPECT_DOUBLE_EQ(cap.stream_interval, 1.0 / 60);
  cap.frame(10.0);
  cap.frame(10.5, false);  // incomplete: never written
  cap.frame(11.25);
  drain();
  stop("r2");
  EXPECT_EQ(cap.appended, (std::vector<double>{10.0, 11.25}));
  EXPECT_EQ(cap.session_start, 10.0);
  EXPECT_EQ(lines(), Lines{"GOT r2 {\"ok\":true,\"path\":\"" + mp4() + "\",\"duration\":1.250,\"error\":null}"});
  EXPECT_FALSE(cap.stream_running);
}

TEST_F(RecordTest, OneFrameIsZeroDurationAndNotReadyFramesAreDropped) {
  start("a");
  cap.frame(5.0);
  drain();
  cap.ready = false;
  cap.frame(6.0);
  cap.frame(7.0);
  drain();
  stop("b");
  EXPECT_EQ(cap.appended, std::vector<double>{5.0});
  Lines l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_NE(l[1].find("\"duration\":0.000,"), std::string::npos) << l[1];
}

TEST_F(RecordTest, ChoosesTheDisplayById) {
  start("a", 9);
  EXPECT_EQ(cap.track_w, 800u);
  EXPECT_EQ(cap.track_h, 600u);
  stop("b");
}

// Each step of a start failing: the answer, the recorder left idle, and the
// file that was at the path untouched, with nothing else left in the folder.
TEST_F(RecordTest, FailedStartsKeepTheOlderFileAndLeaveTheRecorderIdle) {
  struct Case {
    const char* name;
    std::function<void(platform::fake::FakeCapture&)> script;
    long display;
    std::string error;
  } cases[] = {
      {"unknown display", [](auto&) {}, 12345, "no such display"},
      {"negative display", [](auto&) {}, -7, "no such display"},
      {"display gone from the window system", [](auto& c) { c.missing_areas[7] = true; }, 0, "no such display"},
      {"writer refused", [](auto& c) { c.refuse_writer = true; }, 0, "cannot create the mp4"},
      {"writer refused with a reason", [](auto& c) { c.refuse_writer = true; c.writer_error = "read-only"; }, 0, "read-only"},
      {"track refused", [](auto& c) { c.refuse_track = true; }, 0, "cannot add the video track"},
      {"writing refused", [](auto& c) { c.refuse_start = true; }, 0, "asset writer refused to start"},
      {"stream refused", [](auto& c) { c.refuse_stream = true; }, 0, "stream refused"},
      {"capture start failed", [](auto& c) { c.start_error = "no X server"; }, 0, "no X server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cap = platform::fake::FakeCapture{};
    c.script(cap);
    std::ofstream(mp4()) << "old";
    start("s", c.display);
    EXPECT_EQ(lines(), Lines{"GOT s {\"ok\":false,\"error\":\"" + c.error + "\"}"});
    EXPECT_EQ(slurp(mp4()), "old");
    EXPECT_EQ(files(), Lines{"out.mp4"});
    EXPECT_FALSE(cap.stream_running);
    stop("t");
    EXPECT_EQ(lines(), Lines{"GOT t {\"ok\":false,\"error\":\"not recording\"}"});
  }
}

TEST_F(RecordTest, SecondStartBeforeTheFirstIsRunningIsRefused) {
  cap.hold_start = true;
  do_record(nullptr, std::make_unique<RecordReq>("a", mp4(), 0, true));
  do_record(nullptr, std::make_unique<RecordReq>("b", dir + "/other.mp4", 0, true));
  drain();
  EXPECT_EQ(lines(), Lines{"GOT b {\"ok\":false,\"error\":\"already recording\"}"});
  EXPECT_FALSE(exists(dir + "/other.mp4"));
  EXPECT_EQ(cap.writers_made, 1);
  cap.release_start();
  drain();
  EXPECT_EQ(lines(), Lines{"GOT a {\"ok\":true,\"error\":null}"});
  // The running recording is untouched by a later start too.
  start("c");
  cap.frame(1.0);
  drain();
  stop("d");
  Lines l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], "GOT c {\"ok\":false,\"error\":\"already recording\"}");
  EXPECT_NE(l[1].find("GOT d {\"ok\":true,\"path\":\"" + mp4()), std::string::npos);
}

TEST_F(RecordTest, StopWithoutRecordingAndRepeatedStop) {
  stop("a");
  start("b");
  cap.frame(1);
  drain();
  stop("c");
  stop("d");
  Lines l = lines();
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0], "GOT a {\"ok\":false,\"error\":\"not recording\"}");
  EXPECT_EQ(l[3], "GOT d {\"ok\":false,\"error\":\"not recording\"}");
}

// The recording takes the older file's place only once it is complete; a stop
// that fails, and a host that ends while recording, leave the older file and
// no temporary one.
TEST_F(RecordTest, TheOlderFileIsReplacedOnlyByACompletedRecording) {
  struct Case {
    const char* name;
    std::function<void()> end;
    bool replaced;
  } cases[] = {
      {"completed", [this] { cap.frame(1); drain(); stop("b"); }, true},
      {"no frames", [this] { stop("b"); }, false},
      {"writer error", [this] {
         cap.finish_completed = false;
         cap.frame(1);
         drain();
         stop("b");
       }, false},
      {"host ends", [] { remove_pending_temp_files(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_reset_for_tests();
    cap = platform::fake::FakeCapture{};
    std::ofstream(mp4()) << "old";
    start("a");
    EXPECT_EQ(slurp(mp4()), "old");  // still there while recording
    c.end();
    EXPECT_EQ(slurp(mp4()), c.replaced ? "partial" : "old");
    EXPECT_EQ(files(), Lines{"out.mp4"});
    lines();
  }
  // Without an older file a failed stop leaves nothing at all.
  recorder_reset_for_tests();
  cap = platform::fake::FakeCapture{};
  std::filesystem::remove(mp4());
  start("c");
  stop("d");
  EXPECT_EQ(lines().back(), "GOT d {\"ok\":false,\"error\":\"no frames captured\"}");
  EXPECT_FALSE(exists(mp4()));
  EXPECT_TRUE(files().empty());
}

TEST_F(RecordTest, AFolderAtThePathIsRefusedAtTheStart) {
  std::filesystem::create_directory(mp4());
  start("a");
  EXPECT_EQ(lines(), Lines{"GOT a {\"ok\":false,\"error\":\"cannot create the mp4\"}"});
  EXPECT_EQ(cap.writers_made, 0);
}

TEST_F(RecordTest, ASessionWhoseFirstFrameWasDroppedNeverLastsLessThanZero) {
  cap.ready = false;
  start("a");
  cap.frame(5.0);
  drain();
  stop("b");
  EXPECT_NE(lines()[1].find("\"duration\":0.000,"), std::string::npos);
}

TEST_F(RecordTest, WriterErrorOnFinishIsTheAnswer) {
  cap.finish_completed = false;
  cap.finish_error = "disk full";
  start("a");
  cap.frame(1);
  drain();
  stop("b");
  EXPECT_EQ(lines()[1], "GOT b {\"ok\":false,\"error\":\"disk full\"}");
}

TEST_F(RecordTest, FramesOfAnEarlierRecordingNeverReachTheNextOne) {
  start("a");
  auto old_frames = cap.on_frame;
  cap.frame(1);
  drain();
  stop("b");
  start("c");
  old_frames(platform::VideoFrame{nullptr, 99, true});
  cap.frame(2);
  drain();
  stop("d");
  EXPECT_EQ(cap.appended, (std::vector<double>{1, 2}));
}

// ---- screenshots ----

class ShotTest : public CaptureTest {
 protected:
  std::string shot_path(const std::string& id) {
    return dir + "/quibex-shot-" + std::to_string(getpid()) + "-" + id + ".png";
  }
};

TEST_F(ShotTest, WritesThePngUnderTheRequestsName) {
  cap.shot = platform::PngImage{"PNGDATA", 3024, 1964};
  run(do_capture, CaptureReq{"s1", 0});
  const std::string p = shot_path("s1");
  EXPECT_EQ(lines(), Lines{"GOT s1 {\"ok\":true,\"path\":\"" + p + "\",\"width\":3024,\"height\":1964}"});
  EXPECT_EQ(slurp(p), "PNGDATA");
  EXPECT_EQ(cap.shot_w, 3024u);
  EXPECT_EQ(cap.shot_h, 1964u);
  // The same id again overwrites the same file.
  cap.shot = platform::PngImage{"SECOND", 1, 1};
  run(do_capture, CaptureReq{"s1", 9});
  EXPECT_EQ(slurp(p), "SECOND");
  EXPECT_EQ(cap.shot_w, 800u);
  // Nothing else is left in the folder (no temporary files).
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ShotTest, Failures) {
  struct Case {
    const char* name;
    std::optional<platform::PngImage> shot;
    std::string shot_error;
    CaptureReq req;
    std::string answer;
  } cases[] = {
      {"no image", std::nullopt, "", {"a", 0}, "GOT a {\"ok\":false,\"error\":\"capture failed\"}"},
      {"no image, reason", std::nullopt, "X error", {"a", 0}, "GOT a {\"ok\":false,\"error\":\"X error\"}"},
      {"empty png", platform::PngImage{"", 1, 1}, "", {"a", 0}, "GOT a {\"ok\":false,\"error\":\"png write failed\"}"},
      {"no such display", platform::PngImage{"x", 1, 1}, "", {"a", 3}, "GOT a {\"ok\":false,\"error\":\"no such display\"}"},
      {"id with a slash", platform::PngImage{"x", 1, 1}, "", {"../../x", 0},
       "GOT ../../x {\"ok\":false,\"error\":\"request id must not contain \\\"/\\\"\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cap.shot = c.shot;
    cap.shot_error = c.shot_error;
    run(do_capture, CaptureReq(c.req));
    EXPECT_EQ(lines(), Lines{c.answer});
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 0);
}

TEST_F(ShotTest, APlantedLinkIsReplacedNotFollowed) {
  const std::string victim = dir + "/victim";
  std::ofstream(victim) << "keep";
  ASSERT_EQ(symlink(victim.c_str(), shot_path("x").c_str()), 0);
  cap.shot = platform::PngImage{"PNG", 1, 1};
  run(do_capture, CaptureReq{"x", 0});
  EXPECT_EQ(slurp(victim), "keep");
  struct stat st;
  ASSERT_EQ(lstat(shot_path("x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(slurp(shot_path("x")), "PNG");
}

TEST_F(ShotTest, WithoutACaptureServiceTheAnswerSaysSo) {
  platform::install_screen_capture(nullptr);
  run(do_capture, CaptureReq{"a", 0});
  run(do_record, RecordReq{"b", dir + "/x.mp4", 0, true});
  EXPECT_EQ(lines(), (Lines{"GOT a {\"ok\":false,\"error\":\"no shareable content (screen-recording permission?)\"}",
                            "GOT b {\"ok\":false,\"error\":\"no shareable content (screen permission?)\"}"}));
}

}  // namespace
