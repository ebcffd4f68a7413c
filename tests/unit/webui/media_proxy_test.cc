// The media proxy's decisions: the trust list, origins, which requests go
// upstream with which headers, and what the page sees of the answer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/settings.h"
#include "webui/media_proxy.h"

namespace {

using platform::HeaderList;
using platform::MediaDecision;
using platform::MediaRequest;
using platform::MediaUpstream;

// Sets the trust list for one test through the environment or the bundle's key.
class MediaTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("QUIBEX_MEDIA_ORIGINS");
    settings().media_origins_key.clear();
    media_trust_reset_for_tests();
  }
  void trust(const char* env, const std::string& key = "") {
    if (env)
      setenv("QUIBEX_MEDIA_ORIGINS", env, 1);
    else
      unsetenv("QUIBEX_MEDIA_ORIGINS");
    settings().media_origins_key = key;
    media_trust_reset_for_tests();
  }
  static std::string get(const HeaderList& h, const std::string& name) {
    for (const auto& [k, v] : h)
      if (k == name) return v;
    return "<none>";
  }
};

TEST_F(MediaTest, GlobMatchesWholeTextsWithStarsOnly) {
  struct Case {
    const char *pattern, *text;
    bool match;
  } cases[] = {
      {"*", "", true},           {"*", "null", true},
      {"https://a.com", "https://a.com", true},
      {"https://a.com", "https://a.com:8443", false},
      {"https://*.a.com", "https://x.a.com", true},
      {"https://*.a.com", "https://a.com", false},
      {"http*://localhost:*", "http://localhost:8080", true},
      {"a*b*c", "abbbc", true},  {"a*b*c", "acb", false},
      {"?", "x", false},         {"HTTPS://A.COM", "https://a.com", false},
      {"**", "anything", true},  {"", "", true}, {"", "x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(media_glob(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
}

TEST_F(MediaTest, OriginsOfUrls) {
  struct Case {
    const char *url, *origin;
  } cases[] = {
      {"https://Example.COM/a?b", "https://example.com"},
      {"https://example.com:443/", "https://example.com"},
      {"http://example.com:80/x", "http://example.com"},
      {"http://example.com:443/x", "http://example.com:443"},
      {"https://user:pw@host:8443/", "https://host:8443"},
      {"http://[::1]:9000/p", "http://[::1]:9000"},
      {"file:///home/a.html", "file://"},
      {"FILE:///x", "file://"},
      {"no-scheme-here", "null"},
      {":nothing", "null"},
      {"about:blank", "about://"},
  };
  for (const Case& c : cases) EXPECT_EQ(url_origin_str(c.url), c.origin) << c.url;
}

TEST_F(MediaTest, TheTrustListComesFromTheEnvironmentElseTheBundle) {
  trust(nullptr, "proxy https://bundle.example");
  EXPECT_TRUE(media_trusted("proxy", "https://bundle.example"));
  trust("", "proxy https://bundle.example");  // set but empty: no list
  EXPECT_FALSE(media_trusted("proxy", "https://bundle.example"));
  trust("proxy https://env.example\ncamera *\nnospace\n microphone x", "proxy https://bundle.example");
  EXPECT_TRUE(media_trusted("proxy", "https://env.example"));
  EXPECT_FALSE(media_trusted("proxy", "https://bundle.example"));
  EXPECT_TRUE(media_trusted("camera", "null"));
  EXPECT_FALSE(media_trusted("microphone", "x"));
  EXPECT_TRUE(media_trusted("microphone", "file://")) << "file pages always are";
  // CR LF line ends leave a CR in each pattern, which no origin ends with.
  trust("proxy https://a.example\r\nproxy https://b.example\r\n");
  EXPECT_FALSE(media_trusted("proxy", "https://a.example"));
  // Read once: later changes of the environment do not count.
  trust("proxy *");
  EXPECT_TRUE(media_trusted("proxy", "https://any.example"));
  setenv("QUIBEX_MEDIA_ORIGINS", "", 1);
  EXPECT_TRUE(media_trusted("proxy", "https://any.example"));
}

TEST_F(MediaTest, RequestsAreRefusedUnlessTrustedMediaLoadsOfWebAddresses) {
  trust("proxy https://app.example");
  const std::string ok = "quib-media://proxy/?u=" + std::string("https%3A%2F%2Fcdn.example%2Fa.mp3");
  struct Case {
    std::string name, url;
    std::optional<std::string> accept, origin;
    std::string document;
    MediaDecision::Kind kind;
    int code;
    std::string target;
  } cases[] = {
      {"trusted Origin header", ok, "*/*", "https://app.example", "", MediaDecision::kFetch, 200,
       "https://cdn.example/a.mp3"},
      {"no Origin: the document's", ok, std::nullopt, std::nullopt, "https://app.example/index.html",
       MediaDecision::kFetch, 200, "https://cdn.example/a.mp3"},
      {"a file page", ok, std::nullopt, std::nullopt, "file:///srv/app/index.html", MediaDecision::kFetch, 200,
       "https://cdn.example/a.mp3"},
      {"untrusted", ok, "*/*", "https://evil.example", "", MediaDecision::kRefuse, 403, ""},
      {"a document load, even trusted", ok, "text/html,*/*", "https://app.example", "", MediaDecision::kRefuse, 403,
       ""},
      {"ftp", "quib-media://proxy/?u=ftp%3A%2F%2Fx%2Fa", "*/*", "file://", "", MediaDecision::kBadTarget, 400, ""},
      {"a file URL", "quib-media://proxy/?u=file%3A%2F%2F%2Fetc%2Fpasswd", "*/*", "file://", "",
       MediaDecision::kBadTarget, 400, ""},
      {"no u", "quib-media://proxy/?v=1", "*/*", "file://", "", MediaDecision::kBadTarget, 400, ""},
      {"no host", "quib-media://proxy/?u=http%3A%2F%2F%2Fa", "*/*", "file://", "", MediaDecision::kBadTarget, 400,
       ""},
      {"the last u counts", "quib-media://proxy/?u=https%3A%2F%2Fa.example&u=http%3A%2F%2Fb.example%2Fz%20y",
       "*/*", "file://", "", MediaDecision::kFetch, 200, "http://b.example/z y"},
  };
  for (const Case& c : cases) {
    MediaRequest r;
    r.url = c.url;
    r.accept = c.accept;
    r.origin = c.origin;
    r.document_url = c.document;
    r.headers = {{"range", "bytes=10-"}, {"User-Agent", "UA/1"}, {"Cookie", "secret=1"}, {"Origin", "o"}};
    testing::internal::CaptureStderr();
    const MediaDecision d = media_decide(r);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(d.kind, c.kind) << c.name;
    EXPECT_EQ(d.code, c.code) << c.name;
    EXPECT_EQ(d.target, c.target) << c.name;
    EXPECT_EQ(!err.empty(), c.kind == MediaDecision::kRefuse) << c.name << ": " << err;
    if (c.kind == MediaDecision::kFetch) {
      EXPECT_EQ(d.headers, (HeaderList{{"Range", "bytes=10-"}, {"User-Agent", "UA/1"}})) << c.name;
    }
  }
  testing::internal::CaptureStderr();
  MediaRequest doc;
  doc.url = ok;
  doc.accept = "text/html";
  doc.origin = "https://app.example";
  media_decide(doc);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "quibex: quib-media proxy refused for https://app.example (document load)\n");
  testing::internal::CaptureStderr();
  doc.accept = "*/*";
  doc.origin = "https://evil.example";
  media_decide(doc);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quibex: quib-media proxy refused for https://evil.example (not trusted: allow media.proxy in quibex.json "
            "\"api\".origins)\n");
}

TEST_F(MediaTest, ThePageSeesPermissiveHeadersAndAFiniteLengthForLiveStreams) {
  MediaUpstream live;
  live.status = 200;
  live.mime = "Audio/MPEG";
  live.length = -1;
  live.headers = {{"Transfer-Encoding", "chunked"}, {"Accept-Ranges", "bytes"}, {"Content-Range", "x"},
                  {"Access-Control-Allow-Origin", "https://only.example"}, {"Content-Security-Policy", "default-src 'none'"},
                  {"content-security-policy-report-only", "x"}, {"Icy-Name", "Radio"}};
  auto head = media_response_head(live);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(get(head.headers, "Content-Length"), "1099511627776");
  EXPECT_EQ(get(head.headers, "Transfer-Encoding"), "<none>");
  EXPECT_EQ(get(head.headers, "Accept-Ranges"), "<none>");
  EXPECT_EQ(get(head.headers, "Content-Range"), "<none>");
  EXPECT_EQ(get(head.headers, "Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(get(head.headers, "Content-Security-Policy"), "sandbox");
  EXPECT_EQ(get(head.headers, "content-security-policy-report-only"), "<none>");
  EXPECT_EQ(get(head.headers, "Icy-Name"), "Radio");
  EXPECT_EQ(get(head.headers, "Content-Type"), "Audio/MPEG");

  live.status = 206;
  head = media_response_head(live);
  EXPECT_EQ(get(head.headers, "Content-Length"), "<none>") << "no made-up length for a part";

  MediaUpstream known;
  known.status = 206;
  known.mime = "video/mp4";
  known.length = 100;
  known.headers = {{"Content-Type", "video/mp4"}, {"Content-Length", "100"}, {"Content-Range", "bytes 0-99/1000"},
                   {"Accept-Ranges", "bytes"}};
  head = media_response_head(known);
  EXPECT_EQ(head.status, 206);
  EXPECT_EQ(get(head.headers, "Content-Length"), "100");
  EXPECT_EQ(get(head.headers, "Content-Range"), "bytes 0-99/1000");
  int types = 0;
  for (const auto& [k, v] : head.headers) types += k == "Content-Type";
  EXPECT_EQ(types, 1);

  MediaUpstream not_http;
  not_http.http = false;
  not_http.status = 500;
  not_http.headers = {{"X", "y"}};
  head = media_response_head(not_http);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(get(head.headers, "X"), "<none>");
}

TEST_F(MediaTest, CameraAndMicrophoneNeedTrustForTheTopAndEveryDocumentThatMayHaveAsked) {
  trust("camera https://cam.example\nmicrophone https://mic.example\ncamera https://both.example\nmicrophone "
        "https://both.example\ncamera https://cam2.example");
  struct Case {
    bool camera, mic;
    const char* origin;
    std::vector<std::string> frames;
    bool granted;
  } cases[] = {
      {true, false, "https://cam.example", {"https://cam.example"}, true},
      {true, false, "https://cam.example", {"https://other.example"}, false},
      {true, false, "https://other.example", {"https://cam.example"}, false},
      {true, false, "https://cam.example", {"https://cam.example", "https://cam2.example"}, true},
      {true, false, "https://cam.example", {"https://cam.example", "https://cam2.example", "null"}, false},
      {true, false, "https://cam.example", {}, false},
      {false, true, "https://mic.example", {"https://mic.example"}, true},
      {false, true, "https://mic.example", {"https://mic.example", "https://cam.example"}, false},
      {true, true, "https://cam.example", {"https://cam.example"}, false},
      {true, true, "https://both.example", {"https://both.example"}, true},
      {true, true, "file://", {"file://"}, true},
  };
  for (const Case& c : cases) {
    platform::CaptureRequest r{c.camera, c.mic, c.origin, c.frames};
    EXPECT_EQ(media_capture_trusted(r), c.granted)
        << c.origin << " +" << c.frames.size() << " frames " << c.camera << c.mic;
  }
}

}  // namespace
