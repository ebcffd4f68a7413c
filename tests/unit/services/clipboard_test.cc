// The clipboard service against the fake desktop: the text forms it reads, the
// counts it reports, and the order it keeps while it reads the contents.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>

#include "core/records.h"
#include "core/settings.h"
#include "services/clip_format.h"
#include "services/clipboard.h"
#include "services/get_reply.h"
#include "tests/unit/core/test_support.h"

using platform::ClipContents;
using platform::fake::fake_png;

TEST(ClipFormat, HexColours) {
  struct Case {
    const char* text;
    bool ok;
    double r, g, b, a;
  } cases[] = {
      {"ff0000", true, 1, 0, 0, 1},
      {"#00ff0080", true, 0, 1, 0, 128 / 255.0},
      {"#0000FF", true, 0, 0, 1, 1},
      {"fff", false, 0, 0, 0, 0},
      {"#fff", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
      {"ff00000", false, 0, 0, 0, 0},
      {"zz0000", false, 0, 0, 0, 0},
      {"12zz56", true, 0, 0, 0x12 / 255.0, 1},  // the leading digits' value, as sscanf reads them
  };
  for (const Case& c : cases) {
    double v[4] = {-1, -1, -1, -1};
    EXPECT_EQ(parse_hex_color(c.text, v), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_NEAR(v[0], c.r, 1e-9) << c.text;
    EXPECT_NEAR(v[1], c.g, 1e-9) << c.text;
    EXPECT_NEAR(v[2], c.b, 1e-9) << c.text;
    EXPECT_NEAR(v[3], c.a, 1e-9) << c.text;
  }
  EXPECT_EQ(hex_color_text(1, 0, 0, 1), "#ff0000");
  EXPECT_EQ(hex_color_text(0, 1, 0, 128 / 255.0), "#00ff0080");
}

TEST(ClipFormat, ImageFieldsAndBase64) {
  struct Case {
    std::string field;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", std::nullopt},
      {"aGVsbG8=", "hello"},
      {"aGVs\nbG8=", "hello"},  // characters outside the alphabet are ignored
      {"aGVsbG8", std::nullopt},  // unpadded
      {"data:image/png;base64,aGk=", "hi"},
      {"data:image/svg+xml,%3Csvg%3E", std::nullopt},  // percent-encoded, not Base64
      {"a", std::nullopt},
      {"aGk=aGk=", std::nullopt},
      {"/nonexistent/file.png", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_image_field(c.field), c.bytes) << c.field;

  const std::string file = ::testing::TempDir() + "clip_image_field.bin";
  std::ofstream(file, std::ios::binary) << std::string("\x89PNG\0x", 6);
  EXPECT_EQ(decode_image_field(file), std::string("\x89PNG\0x", 6));
  std::remove(file.c_str());
}

TEST(ClipFormat, ImageFieldsReadOnlyRegularFiles) {
  // A pipe nobody writes to never starts (and a device like /dev/zero never
  // ends): reading one held the main thread.
  const std::string fifo = ::testing::TempDir() + "clip_image_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null"), ::testing::TempDir()}) {
    auto read = std::async(std::launch::async, [path] { return decode_image_field(path); });
    if (read.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      ADD_FAILURE() << path << " held the reader";
      std::ofstream(fifo) << "";  // lets a reader stuck on the pipe go
    }
    EXPECT_EQ(read.get(), std::nullopt) << path;
  }
  std::remove(fifo.c_str());
}

TEST(ClipFormat, FileUrisRoundTrip) {
  for (std::string path : {"/tmp/a b.txt", "/tmp/ü#%?.txt", "/x/y"}) {
    const std::string uri = file_uri(path);
    EXPECT_EQ(uri.find_first_of(" #?"), std::string::npos) << uri;
    EXPECT_EQ(file_uri_path(uri), path) << uri;
  }
  EXPECT_EQ(file_uri("/tmp/a b"), "file:///tmp/a%20b");
  EXPECT_EQ(file_uri("rel").rfind("file:///", 0), 0u);  // made absolute
  EXPECT_EQ(file_uri_path("file://localhost/etc/x"), "/etc/x");
  EXPECT_EQ(file_uri_path("file://otherhost/etc/x"), std::nullopt);
  EXPECT_EQ(file_uri_path("https://example.com/x"), std::nullopt);
  EXPECT_EQ(parse_uri_list("# comment\r\nfile:///a\r\n\r\nhttp://b\n"),
            (std::vector<std::string>{"file:///a", "http://b"}));
}

class ClipTest : public FakeDesktopTest, public WireCapture {
 protected:
  void SetUp() override {
    FakeDesktopTest::SetUp();
    clip_reset_for_tests();
    settings().app_name = "Host";
    desktop.tmp_dir = ::testing::TempDir();
  }
  void TearDown() override {
    clip_reset_for_tests();
    FakeDesktopTest::TearDown();
  }
  platform::fake::FakeClipboard& cb() { return desktop.clip; }
  void write(ClipWriteReq r) { do_clip_write(nullptr, std::make_unique<ClipWriteReq>(std::move(r))); }
  void watch(int ms) { do_clip_watch(nullptr, std::make_unique<int>(ms)); }
  std::string get(bool count_only = false) {
    std::string out = "<none>";
    clipboard_json(count_only, [&](const std::string& j) { out = j; });
    return out;
  }
};

TEST_F(ClipTest, OwnWritesAreOwnAndForeignOnesAreNot) {
  watch(30);
  cb().foreign_change({});  // before the first tick: reported at the tick
  desktop.clock.advance(99);
  EXPECT_TRUE(lines().empty()) << "30 ms is raised to 100";
  desktop.clock.advance(1);
  EXPECT_EQ(lines(), std::vector<std::string>{"CLIPCHANGE 1 0"});

  write({"hi", "", "", "", {}});
  cb().report_own_change();  // the window system's note of the same write
  desktop.clock.advance(100);
  EXPECT_EQ(lines(), std::vector<std::string>{"CLIPCHANGE 2 1"});
  EXPECT_EQ(get(true), "{\"changeCount\":2}");

  cb().foreign_change({});
  cb().foreign_change({});
  desktop.clock.advance(100);
  desktop.clock.advance(100);
  EXPECT_EQ(lines(), std::vector<std::string>{"CLIPCHANGE 4 0"}) << "two changes between ticks: one line";

  watch(0);
  cb().foreign_change({});
  desktop.clock.advance(1000);
  EXPECT_TRUE(lines().empty());
  watch(-5);
  EXPECT_EQ(desktop.clock.pending(), 0u);
}

TEST_F(ClipTest, ANewWatchForgetsEarlierChanges) {
  watch(100);
  cb().foreign_change({});
  watch(200);
  desktop.clock.advance(400);
  EXPECT_TRUE(lines().empty());
}

TEST_F(ClipTest, WhatIsWrittenAndWhatIsLeftOut) {
  struct Case {
    const char* what;
    ClipWriteReq req;
    bool png;
    std::optional<platform::ClipColor> color;
    std::vector<std::string> uris;
  } cases[] = {
      {"text and html", {"t", "<b>h</b>", "", "", {}}, false, std::nullopt, {}},
      {"eight-digit colour", {"", "", "", "ff000080", {}}, false, platform::ClipColor{65535, 0, 0, 32896}, {}},
      {"three-digit colour refused", {"", "", "", "#f00", {}}, false, std::nullopt, {}},
      {"files, empty ones left out", {"", "", "", "", {"/a b", "", "/c"}}, false, std::nullopt,
       {"file:///a%20b", "file:///c"}},
      {"data that is no image", {"", "", "aGVsbG8=", "", {}}, false, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    write(c.req);
    const platform::ClipWrite& w = cb().writes.back();
    EXPECT_EQ(w.text, c.req.text) << c.what;
    EXPECT_EQ(w.html, c.req.html) << c.what;
    EXPECT_EQ(!w.png.empty(), c.png) << c.what;
    EXPECT_EQ(w.color, c.color) << c.what;
    EXPECT_EQ(w.file_uris, c.uris) << c.what;
  }
  EXPECT_EQ(cb().count, long(std::size(cases))) << "every write replaces the contents, even an empty one";
}

TEST_F(ClipTest, ImagesAreCheckedAndOtherFormatsConverted) {
  const std::string png = fake_png(3, 2);
  auto b64 = [](const std::string& s) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    int val = 0, bits = -6;
    for (unsigned char c : s) {
      val = (val << 8) + c, bits += 8;
      while (bits >= 0) out += a[(val >> bits) & 63], bits -= 6;
    }
    if (bits > -6) out += a[((val << 8) >> (bits + 8)) & 63];
    while (out.size() % 4) out += '=';
    return out;
  };
  write({"", "", "data:image/png;base64," + b64(png), "", {}});
  EXPECT_EQ(cb().writes.back().png, png) << "PNG as it was";
  write({"", "", b64("GIF89a..."), "", {}});
  EXPECT_EQ(cb().writes.back().png, fake_png(1, 1)) << "another format as PNG";
}

TEST_F(ClipTest, ContentsAnswerAndTheImageFile) {
  ClipContents c;
  c.uris = {"file:///tmp/x%20y", "https://example.com/"};
  c.text = "t";
  c.png = fake_png(5, 4);
  c.color = platform::ClipColor{65535, 0, 0, 65535};
  c.concealed = true;
  c.source_url = "https://example.com/page";
  cb().foreign_change(c);
  desktop.system.frontmost = platform::AppIdentity{42, "Editor", "org.example.Editor"};
  const std::string json = get();
  const std::string file = desktop.tmp_dir + "quibex-clip-" + std::to_string(getpid()) + "-1.png";
  EXPECT_EQ(json, "{\"kind\":\"files\",\"changeCount\":1,\"text\":\"t\",\"html\":null,\"paths\":[\"/tmp/x y\"],"
                  "\"image\":\"" + file + "\",\"imageSize\":{\"width\":5,\"height\":4},\"color\":\"#ff0000\","
                  "\"concealed\":true,\"sourceApp\":{\"name\":\"Editor\",\"bundleId\":\"org.example.Editor\"},"
                  "\"sourceURL\":\"https://example.com/page\"}");
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), *c.png);

  // The next change's image replaces the file; without an image the kind falls through.
  cb().foreign_change(ClipContents{{}, {}, {}, fake_png(1, 1), {}, false, {}});
  EXPECT_NE(get().find("\"kind\":\"image\""), std::string::npos);
  EXPECT_FALSE(std::ifstream(file).good()) << "one file at a time";
  std::remove((desktop.tmp_dir + "quibex-clip-" + std::to_string(getpid()) + "-2.png").c_str());
  cb().foreign_change(ClipContents{{}, {}, "<p>", {}, {}, false, {}});
  EXPECT_EQ(get().substr(0, 16), "{\"kind\":\"text\",\"");
  cb().foreign_change({});
  EXPECT_EQ(get().substr(0, 16), "{\"kind\":\"empty\",");
}

TEST_F(ClipTest, CountOnlyNeverReadsTheContents) {
  cb().foreign_change(ClipContents{{}, {}, {}, fake_png(2, 2), {}, false, {}});
  EXPECT_EQ(get(true), "{\"changeCount\":1}");
  EXPECT_EQ(cb().content_reads, 0);
}

TEST_F(ClipTest, OwnWriteNamesTheHostAsSource) {
  // [command-line mode; a bundle's application id, the one its windows carry]
  for (const char* id : {"", "org.example.Host"}) {
    settings().app_id = id;
    write({"x", "", "", "", {}});
    const std::string want = *id ? "\"" + std::string(id) + "\"" : "null";
    EXPECT_NE(get().find("\"sourceApp\":{\"name\":\"Host\",\"bundleId\":" + want + "}"), std::string::npos) << get();
  }
  settings().app_id.clear();
}

TEST_F(ClipTest, CommandsBehindAContentsQuestionWaitForItsAnswer) {
  cb().hold = true;
  std::vector<std::string> order;
  clipboard_json(false, [&](const std::string&) { order.push_back("answer"); });
  desktop.queue.post([&] { order.push_back("next command"); });
  desktop.queue.drain();
  EXPECT_TRUE(order.empty());
  ASSERT_EQ(cb().held.size(), 1u);
  cb().held[0]();
  desktop.queue.drain();
  EXPECT_EQ(order, (std::vector<std::string>{"answer", "next command"}));
}

TEST_F(ClipTest, AnOwnerThatNeverAnswersHoldsNothingUpForLong) {
  cb().hold = true;
  std::vector<std::string> order;
  clipboard_json(false, [&](const std::string& j) { order.push_back(j); });
  desktop.queue.post([&] { order.push_back("next command"); });
  desktop.clock.advance(kGetAnswerLimitMs);
  desktop.queue.drain();
  EXPECT_EQ(order, (std::vector<std::string>{"null", "next command"}));
  cb().held[0]();  // the late answer changes nothing
  EXPECT_EQ(order.size(), 2u);
}

TEST_F(ClipTest, AnUnreadableClipboardAnswersNull) {
  cb().unreadable = true;
  EXPECT_EQ(get(), "null");
  EXPECT_FALSE(desktop.queue.held());
}
