// The application's hooks against the fake desktop: what later starts ask of the
// running host (open requests, reopen), accessory mode, the gate that holds windows
// back during start-up, F12 in debug mode, the application id of a bundle and
// who the host is on the desktop.

#include <cstdio>
#include <fstream>
#include <regex>

#include "core/app_hooks.h"
#include "core/app_identity.h"
#include "platform/fake/fake_dock.h"
#include "tests/unit/core/window_test_support.h"
#include "webui/menu_bar.h"

namespace {

using platform::ActivationPolicy;
using platform::OpenItem;
using V = std::vector<std::string>;

class AppHooks : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    menu_bars_reset_for_tests();
    apply_menus(w(), std::make_unique<std::vector<MenuSpec>>());
    install_open_handlers();
    wire.lines();
  }
  void TearDown() override {
    app_hooks_reset_for_tests();
    settings().own_argv_paths.clear();
    menu_bars_reset_for_tests();
    WindowTest::TearDown();
  }
  platform::fake::FakeApplication& app() { return desktop.app; }
  platform::fake::FakeAppInstance& instance() { return desktop.instance; }
};

OpenItem url(const std::string& u) { return {false, u}; }
OpenItem file(const std::string& p) { return {true, p}; }

TEST_F(AppHooks, OpenRequestsWriteLinksFirstThenTheFilesInOneLine) {
  settings().own_argv_paths = {"/srv/page.html", "/tmp/app.sock"};
  struct Case {
    const char* name;
    std::vector<OpenItem> items;
    V lines;
  } cases[] = {
      {"two files and a link", {file("/a/one.txt"), url("myapp://x?y=1"), file("/b/two.txt")},
       {"OPENURL myapp://x?y=1", R"(OPENFILES ["/a/one.txt","/b/two.txt"])"}},
      {"links only, as given", {url("myapp://a%20b"), url("mailto:me@example.org")},
       {"OPENURL myapp://a%20b", "OPENURL mailto:me@example.org"}},
      {"a quote and a line feed in a path", {file("/x/\"q\"\nname")}, {R"(OPENFILES ["/x/\"q\"\nname"])"}},
      {"a link with a line break writes nothing", {url("myapp://a\nb"), file("/c.txt")}, {R"(OPENFILES ["/c.txt"])"}},
      {"the host's own arguments are left out", {file("/srv/page.html"), file("/d.txt")}, {R"(OPENFILES ["/d.txt"])"}},
      {"only the host's own arguments", {file("/tmp/app.sock")}, {}},
      {"nothing", {}, {}},
      {"a name that is not UTF-8", {file("/e/\xff.txt")}, {"OPENFILES [\"/e/\xef\xbf\xbd.txt\"]"}},
  };
  for (const Case& c : cases) {
    send_open_items(c.items);
    EXPECT_EQ(lines(), c.lines) << c.name;
  }
}

TEST_F(AppHooks, LaterStartsReachTheHostInTheOrderTheyCame) {
  // Requests that come before the handlers wait for them.
  instance().set_handlers(nullptr, nullptr);
  instance().later_start_open({url("a:1")});
  instance().later_start_open({file("/f")});
  desktop.queue.drain();
  EXPECT_EQ(lines(), V{});
  install_open_handlers();
  instance().later_start_open({url("a:2")});
  desktop.queue.drain();
  EXPECT_EQ(lines(), (V{"OPENURL a:1", R"(OPENFILES ["/f"])", "OPENURL a:2"}));
}

TEST_F(AppHooks, TheFirstStartsOwnOpenRequestIsDeliveredOnceTheHandlersAreThere) {
  instance().set_handlers(nullptr, nullptr);
  for (auto role : {platform::AppInstance::Role::kPrimary, platform::AppInstance::Role::kAlone}) {
    instance().role = role;
    std::string error;
    EXPECT_EQ(instance().claim("org.example.App", {"/doc.txt", "app:go"}, error), role);
  }
  install_open_handlers();
  desktop.queue.drain();
  EXPECT_EQ(lines(), (V{"OPENURL app:go", R"(OPENFILES ["/doc.txt"])", "OPENURL app:go", R"(OPENFILES ["/doc.txt"])"}));
}

TEST_F(AppHooks, ReopenShowsTheHiddenMainWindowOnlyWithHideOnCloseAndNothingOnScreen) {
  struct Case {
    const char* name;
    bool hide_on_close, main_shown, other_shown;
    bool main_after;   // the main window is on screen after the relaunch
    bool default_way;  // the desktop's default ran, not "WINOP show"
  } cases[] = {
      {"hidden by its close, nothing else on screen", true, false, false, true, false},
      {"hide-on-close off", false, false, false, false, true},
      {"the main window on screen", true, true, false, true, true},
      {"another window on screen", true, false, true, false, true},
  };
  FakeWindow* other = open("other");
  for (const Case& c : cases) {
    settings().hide_on_close = c.hide_on_close;
    settings().defer_show = true;
    c.main_shown ? main_window()->show() : main_window()->hide();
    c.other_shown ? other->show() : other->hide();
    instance().later_start_reopen();
    desktop.queue.drain();
    EXPECT_EQ(main_window()->visible(), c.main_after) << c.name;
    // "WINOP show" turns the deferred first show off; the default leaves it.
    EXPECT_EQ(settings().defer_show, c.default_way) << c.name;
    EXPECT_EQ(lines_starting("OPEN"), V{}) << c.name;
  }
}

TEST_F(AppHooks, ReopenBringsAHiddenApplicationBack) {
  FakeWindow* other = open("other");
  app().hide();
  ASSERT_FALSE(main_window()->visible());
  instance().later_start_reopen();
  desktop.queue.drain();
  EXPECT_TRUE(main_window()->visible());
  EXPECT_TRUE(other->visible());
  EXPECT_FALSE(app().hidden());
}

TEST_F(AppHooks, AccessoryModeHoldsUntilPresenceOne) {
  install_accessory_mode();
  EXPECT_TRUE(settings().accessory);
  EXPECT_EQ(app().policy, ActivationPolicy::kAccessory);
  // A request for the regular policy still gets the accessory one.
  app().set_activation_policy(ActivationPolicy::kRegular);
  EXPECT_EQ(app().policy, ActivationPolicy::kAccessory);
  settings().suppress_order_front = false;  // start-up's end
  FakeWindow* other = open("other");
  EXPECT_TRUE(other->visible());
  EXPECT_EQ(app().policy, ActivationPolicy::kAccessory);

  winop("other", "presence 1");  // only the main window's presence counts
  EXPECT_EQ(app().policy, ActivationPolicy::kAccessory);
  winop("main", "presence 1");
  EXPECT_FALSE(settings().accessory);
  EXPECT_EQ(app().policy, ActivationPolicy::kRegular);
  winop("main", "presence 0");
  EXPECT_EQ(app().policy, ActivationPolicy::kAccessory);
  // No longer held: the regular policy can be asked for again.
  app().set_activation_policy(ActivationPolicy::kRegular);
  EXPECT_EQ(app().policy, ActivationPolicy::kRegular);
}

TEST_F(AppHooks, WhileStartUpHoldsWindowsBackNoPathShowsOne) {
  FakeWindow* main = main_window();
  main->hide();
  FakeWindow* other = open("other");
  app().hide();
  install_order_front_suppression();
  struct Path {
    const char* name;
    std::function<void()> run;
  } paths[] = {
      {"the main window's show", [&] { main->show(); }},
      {"order front", [&] { other->order_front_regardless(); }},
      {"WINOPEN", [&] { open("late"); }},
      {"WINOP show", [&] { winop("main", "show"); }},
      {"WINOP show 0", [&] { winop("other", "show 0"); }},
      {"unhide", [&] { app().unhide(true); }},
      {"activate", [&] { app().activate(); }},
      {"WINOPEN of an open window", [&] { open("other"); }},
  };
  for (const Path& p : paths) {
    p.run();
    EXPECT_FALSE(main->visible()) << p.name;
    EXPECT_FALSE(other->visible()) << p.name;
    EXPECT_FALSE(win("late") && win("late")->visible()) << p.name;
    EXPECT_EQ(app().key, nullptr) << p.name;
  }
  EXPECT_TRUE(app().hidden()) << "a held unhide leaves the application hidden";
  // Once start-up lets go, every path works again.
  settings().suppress_order_front = false;
  app().unhide(true);
  EXPECT_TRUE(other->visible());
  winop("main", "show");
  EXPECT_TRUE(main->visible());
  winop("late", "show");
  EXPECT_TRUE(win("late")->visible());
}

TEST_F(AppHooks, F12OpensTheKeyWindowsInspectorInDebugModeOnly) {
  FakeWindow* other = open("other");
  for (bool debug : {false, true}) {
    settings().debug_on = debug;
    other->make_key();
    main_view()->inspector_opened = view("other")->inspector_opened = false;
    EXPECT_EQ(main_window()->press_named("F12"), debug);
    EXPECT_EQ(view("other")->inspector_opened, debug) << "the key window's page, whichever window heard it";
    EXPECT_FALSE(main_view()->inspector_opened);
    main_window()->make_key();
    // Only F12 alone: with any modifier it is no key of the host's.
    for (auto mods : {platform::kModShift, platform::kModCommand, platform::kModOption, platform::kModControl})
      EXPECT_FALSE(main_window()->press_named("F12", mods));
    EXPECT_FALSE(main_view()->inspector_opened);
    EXPECT_EQ(main_window()->press_named("F12"), debug);
    EXPECT_EQ(main_view()->inspector_opened, debug);
    // Other keys without a character, and the menus' key equivalents, are as before.
    EXPECT_FALSE(main_window()->press_named("F11"));
    EXPECT_TRUE(main_window()->press("c"));
    ASSERT_FALSE(main_view()->editing.empty());
    EXPECT_EQ(main_view()->editing.back(), platform::MenuCommand::kCopy);
  }
}

// The rules of an application id (a D-Bus well-known name).
bool valid_app_id(const std::string& id) {
  static const std::regex element("[A-Za-z_-][A-Za-z0-9_-]*");
  if (id.empty() || id.size() > 255) return false;
  size_t start = 0, elements = 0;
  for (;;) {
    const size_t dot = id.find('.', start);
    if (!std::regex_match(id.substr(start, dot == std::string::npos ? std::string::npos : dot - start), element))
      return false;
    ++elements;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

TEST(ApplicationId, TheBundleIdentifierMadeValidElseTheBundlesNameAndPlace) {
  struct Case {
    std::string identifier, name, path, want;  // want "" = only checked for validity
  } cases[] = {
      {"com.example.Hello", "Hello", "/a/Hello.app", "com.example.Hello"},
      {"com.example.hello-world", "", "", "com.example.hello-world"},
      {"com.2fa.App", "", "", "com._2fa.App"},
      {"hello", "", "", "io.quibex.app.hello"},
      {"..com..example.", "", "", "com.example"},
      {"com.exa mple.\xc3\xbc", "", "", "com.exa_mple.__"},
      {std::string(300, 'a') + "." + std::string(300, 'b') + ".c", "", "", ""},
      {"", "Hello World", "/a/Hello World.app", ""},
      {"", "", "/a/.app", ""},
  };
  for (const Case& c : cases) {
    const std::string id = application_id_for(c.identifier, c.name, c.path);
    EXPECT_TRUE(valid_app_id(id)) << id;
    if (!c.want.empty()) {
      EXPECT_EQ(id, c.want);
    }
  }
  // Without an identifier: the name, and where the bundle lies.
  const std::string here = application_id_for("", "Hello World", "/a/Hello World.app");
  EXPECT_EQ(here.rfind("io.quibex.app.Hello_World_", 0), 0u) << here;
  EXPECT_EQ(here, application_id_for("", "Hello World", "/a/Hello World.app"));
  EXPECT_NE(here, application_id_for("", "Hello World", "/b/Hello World.app"));
}

TEST(StartArgs, ABundleOpensWhatFollowsOpenOrOneLinkOrExistingFile) {
  const std::string here = ::testing::TempDir() + "start-args-file.txt";
  std::ofstream(here) << "";
  struct Case {
    V args;
    bool in_bundle;
    V open, own;
    std::optional<std::string> ignored;
  } cases[] = {
      {{"--open", "app://x", "rel.txt"}, true, {"app://x", "rel.txt"}, {"--open"}, std::nullopt},
      {{"app://x"}, true, {"app://x"}, {}, std::nullopt},
      {{"mailto:me@example.org"}, true, {"mailto:me@example.org"}, {}, std::nullopt},
      {{here}, true, {here}, {}, std::nullopt},
      {{"/no/such/file.txt"}, true, {}, {"/no/such/file.txt"}, "/no/such/file.txt"},
      {{"-psn_0_1"}, true, {}, {"-psn_0_1"}, "-psn_0_1"},
      {{"1x:y"}, true, {}, {"1x:y"}, "1x:y"},
      {{""}, true, {}, {""}, ""},
      // Outside a bundle, and in command-line mode, every argument is the host's own.
      {{"app://x"}, false, {}, {"app://x"}, std::nullopt},
      {{"--open", "app://x"}, false, {}, {"--open", "app://x"}, std::nullopt},
      {{here, "/tmp/app.sock"}, true, {}, {here, "/tmp/app.sock"}, std::nullopt},
  };
  for (const Case& c : cases) {
    const StartArgs got = split_start_args(c.args, c.in_bundle);
    const std::string name = c.args.empty() ? "" : c.args[0];
    EXPECT_EQ(got.open, c.open) << name;
    EXPECT_EQ(got.own, c.own) << name;
    EXPECT_EQ(got.ignored, c.ignored) << name;
  }
  std::remove(here.c_str());
}

TEST(HostIdentity, TheBundlesNameIdAndTheIconItNamesThatTheDesktopReads) {
  platform::fake::FakePlatform desktop;
  platform::install(&desktop);
  platform::fake::FakeDock dock;
  platform::install_dock(&dock);
  const std::string res = "/a/Foo.app/Contents/Resources/";
  struct Case {
    std::string named;                 // CFBundleIconFile
    std::vector<std::string> readable;  // in Contents/Resources
    std::string want;                  // "" = the generic icon
    bool said;                         // stderr says the icon cannot be read
  } cases[] = {
      {"", {"AppIcon.png"}, "", false},
      {"AppIcon", {"AppIcon.png"}, "AppIcon.png", false},
      {"AppIcon", {"AppIcon.svg", "AppIcon.icns"}, "AppIcon.svg", false},
      {"AppIcon.png", {"AppIcon.png", "AppIcon.svg"}, "AppIcon.png", false},
      {"AppIcon.icns", {"AppIcon.svg"}, "AppIcon.svg", false},
      {"AppIcon.icns", {"AppIcon.icns"}, "AppIcon.icns", false},
      {"icon.tiff", {"icon.tiff"}, "icon.tiff", false},
      {"AppIcon.icns", {}, "", true},
      {"Missing", {"AppIcon.png"}, "", true},
  };
  for (const Case& c : cases) {
    dock.images.clear();
    for (const std::string& f : c.readable) dock.images.insert(res + f);
    platform::PlistDict info;
    info.strings = {{"CFBundleIdentifier", "org.example.Foo"}, {"CFBundleIconFile", c.named}};
    testing::internal::CaptureStderr();
    const platform::HostIdentity id = host_identity(true, info, "/a/Foo.app", "Foo");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(id.icon, c.want.empty() ? "" : res + c.want) << c.named;
    EXPECT_EQ(err.find("\"" + c.named + "\" (CFBundleIconFile) cannot be read") != std::string::npos, c.said) << err;
    EXPECT_EQ(id.name, "Foo");
    EXPECT_EQ(id.app_id, "org.example.Foo");
  }
  // Without an identifier the bundle's made-up id, the one its instance claims;
  // command-line mode has none, nor the bundle's icon.
  dock.images = {res + "AppIcon.png"};
  platform::PlistDict info;
  info.strings = {{"CFBundleIconFile", "AppIcon"}};
  EXPECT_EQ(host_identity(true, info, "/a/Foo.app", "Foo").app_id, application_id_for("", "Foo", "/a/Foo.app"));
  const platform::HostIdentity cli = host_identity(false, info, "/a/Foo.app", "Title");
  EXPECT_EQ(cli.name, "Title");
  EXPECT_EQ(cli.app_id, "");
  EXPECT_EQ(cli.icon, "");

  set_host_identity({"Foo", "org.example.Foo", res + "AppIcon.png"});
  EXPECT_EQ(desktop.identity.app_id, "org.example.Foo");
  EXPECT_EQ(settings().app_id, "org.example.Foo");
  EXPECT_EQ(settings().app_icon, res + "AppIcon.png");
  settings().app_id.clear();
  settings().app_icon.clear();
  platform::install_dock(nullptr);
  platform::install(nullptr);
}

}  // namespace
