// PICKCOLOR, OCR and THUMB answers against the scripted desktop.

#include <cmath>

#include "capture_test_support.h"
#include "core/records.h"
#include "services/image_services.h"

namespace {

using Lines = std::vector<std::string>;
using Rgb = platform::ScreenCapture::Rgb;

class ImageTest : public CaptureTest {};

TEST_F(ImageTest, PickedColours) {
  struct Case {
    const char* name;
    std::optional<Rgb> rgb;
    std::string error;
    std::string answer;
  } cases[] = {
      {"halves round away from zero", Rgb{1.0, 0.5, 0.0}, "", "{\"ok\":true,\"color\":\"#ff8000\"}"},
      {"small components", Rgb{1.0 / 255, 0.0, 0.998}, "", "{\"ok\":true,\"color\":\"#0100fe\"}"},
      {"outside 0..1 is clamped", Rgb{1.7, -0.3, 255.0}, "", "{\"ok\":true,\"color\":\"#ff00ff\"}"},
      {"no number at all reads as 0", Rgb{NAN, INFINITY, -INFINITY}, "", "{\"ok\":true,\"color\":\"#000000\"}"},
      {"cancelled", std::nullopt, "", "{\"ok\":true,\"color\":null}"},
      {"cannot pick", std::nullopt, "cannot grab the pointer", "{\"ok\":false,\"error\":\"cannot grab the pointer\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run(do_pickcolor, std::string("p 1"));
    ASSERT_EQ(cap.picks.size(), 1u);
    EXPECT_TRUE(lines().empty());  // nothing until the user acts
    cap.picks[0](c.rgb, c.error);
    cap.picks.clear();
    EXPECT_EQ(lines(), Lines{"GOT p 1 " + c.answer});
  }
}

TEST_F(ImageTest, OcrJoinsLinesAndReportsBoxes) {
  cap.ocr_result = std::vector<platform::TextLine>{
      {"Hello \"world\"", 0.91234, 0.1, 0.1, 0.5, 0.2},
      {"second line", 0.5, 0.25, 0.6, 0.123456, 0.05},
  };
  run(do_ocr, OcrReq{"o1", "/some/img.png"});
  EXPECT_EQ(cap.ocr_paths, Lines{"/some/img.png"});
  EXPECT_EQ(lines(),
            Lines{"GOT o1 {\"ok\":true,\"text\":\"Hello \\\"world\\\"\\nsecond line\",\"blocks\":["
                  "{\"text\":\"Hello \\\"world\\\"\",\"confidence\":0.912,\"box\":{\"x\":0.1000,\"y\":0.1000,"
                  "\"width\":0.5000,\"height\":0.2000}},"
                  "{\"text\":\"second line\",\"confidence\":0.500,\"box\":{\"x\":0.2500,\"y\":0.6000,"
                  "\"width\":0.1235,\"height\":0.0500}}]}"});
}

TEST_F(ImageTest, OcrWithoutTextAndOcrFailures) {
  cap.ocr_result = std::vector<platform::TextLine>{};
  run(do_ocr, OcrReq{"a", "x"});
  cap.ocr_result.reset();
  run(do_ocr, OcrReq{"b", "x"});
  cap.ocr_error = "unsupported image";
  run(do_ocr, OcrReq{"c", "x"});
  EXPECT_EQ(lines(), (Lines{"GOT a {\"ok\":true,\"text\":\"\",\"blocks\":[]}",
                            "GOT b {\"ok\":false,\"error\":\"ocr failed\"}",
                            "GOT c {\"ok\":false,\"error\":\"unsupported image\"}"}));
}

class ThumbTest : public CaptureTest {
 protected:
  void SetUp() override {
    CaptureTest::SetUp();
    file = dir + "/doc.pdf";
    std::ofstream(file) << "%PDF";
  }
  std::string thumb_path(const std::string& id) {
    return dir + "/quibex-thumb-" + std::to_string(getpid()) + "-" + id + ".png";
  }
  std::string file;
};

TEST_F(ThumbTest, AskedSizeIsTwiceTheEdgeAndZeroOrLessMeans256) {
  cap.thumb = platform::PngImage{"PNG", 200, 150};
  for (auto [size, want] : std::vector<std::pair<int, std::uint32_t>>{
           {100, 200}, {0, 512}, {-5, 512}, {1, 2}, {1024, 2048}, {8192, 2048}, {2147483647, 2048}}) {
    run(do_thumb, ThumbReq{"t", file, size});
    EXPECT_EQ(cap.thumb_requests.back().second, want) << size;
  }
  EXPECT_EQ(cap.thumb_requests.back().first, file);
  const Lines l = lines();
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l[0], "GOT t {\"ok\":true,\"path\":\"" + thumb_path("t") + "\",\"width\":200,\"height\":150}");
  EXPECT_EQ(slurp(thumb_path("t")), "PNG");
}

TEST_F(ThumbTest, Failures) {
  struct Case {
    const char* name;
    ThumbReq req;
    std::optional<platform::PngImage> thumb;
    std::string error;
    std::string answer;
  } cases[] = {
      {"missing file", {"a", "/no/such \"file\"", 10}, platform::PngImage{"x", 1, 1}, "",
       "{\"ok\":false,\"error\":\"no such file: /no/such \\\"file\\\"\"}"},
      {"no representation", {"a", "", 10}, std::nullopt, "", "{\"ok\":false,\"error\":\"no thumbnail\"}"},
      {"no representation, reason", {"a", "", 10}, std::nullopt, "bad PDF", "{\"ok\":false,\"error\":\"bad PDF\"}"},
      {"no png", {"a", "", 10}, platform::PngImage{"", 1, 1}, "", "{\"ok\":false,\"error\":\"png write failed\"}"},
      {"id with a slash", {"a/b", "", 10}, platform::PngImage{"x", 1, 1}, "",
       "{\"ok\":false,\"error\":\"request id must not contain \\\"/\\\"\"}"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.req.path.empty()) c.req.path = file;
    cap.thumb = c.thumb;
    cap.thumb_error = c.error;
    run(do_thumb, ThumbReq(c.req));
    EXPECT_EQ(lines(), Lines{"GOT " + c.req.id + " " + c.answer});
  }
  // Only the source file is in the folder: nothing half-written was left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

// Reading a FIFO or a device could block for good: such paths are answered
// before the desktop is asked to read them. A folder still gets its icon.
TEST_F(ThumbTest, WhatIsNotAPlainFileIsRefusedBeforeReading) {
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  cap.thumb = platform::PngImage{"PNG", 1, 1};
  cap.ocr_result = std::vector<platform::TextLine>{};
  for (const std::string& p : {fifo, std::string("/dev/null")}) {
    SCOPED_TRACE(p);
    run(do_ocr, OcrReq{"o", p});
    run(do_thumb, ThumbReq{"t", p, 10});
    EXPECT_EQ(lines(), (Lines{"GOT o {\"ok\":false,\"error\":\"ocr failed\"}",
                              "GOT t {\"ok\":false,\"error\":\"no thumbnail\"}"}));
  }
  run(do_ocr, OcrReq{"o", dir});
  EXPECT_EQ(lines(), Lines{"GOT o {\"ok\":false,\"error\":\"ocr failed\"}"});
  EXPECT_TRUE(cap.ocr_paths.empty());
  EXPECT_TRUE(cap.thumb_requests.empty());
  run(do_thumb, ThumbReq{"t", dir, 10});
  ASSERT_EQ(cap.thumb_requests.size(), 1u);
  EXPECT_EQ(cap.thumb_requests[0].first, dir);
}

TEST_F(ThumbTest, APlantedLinkIsReplacedNotFollowed) {
  const std::string victim = dir + "/victim";
  std::ofstream(victim) << "keep";
  ASSERT_EQ(symlink(victim.c_str(), thumb_path("x").c_str()), 0);
  cap.thumb = platform::PngImage{"PNG", 1, 1};
  run(do_thumb, ThumbReq{"x", file, 10});
  EXPECT_EQ(slurp(victim), "keep");
  EXPECT_EQ(slurp(thumb_path("x")), "PNG");
}

}  // namespace
