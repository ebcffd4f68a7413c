// WINOPEN, WINCLOSE and the close path, TITLE, SIZE, DRAGWIN, RESIZEWIN, DRAGOUT.

#include <filesystem>
#include <unistd.h>

#include "base/json_out.h"
#include "core/reader.h"
#include "window_test_support.h"

namespace {

using platform::ResizeEdges;
using platform::Size;

class WinOpen : public WindowTest {
 protected:
  // Runs one command line through the reader and its handler.
  void command(const std::string& line) {
    CommandReader reader;
    reader.handle_line(line);
    desktop.queue.drain();
  }
};

TEST_F(WinOpen, AnOpenIdOnlyComesForwardWhateverElseTheLineSays) {
  command("WINOPEN w2\tfile.html\tFirst\t320x240");
  const size_t made = desktop.windows.size();
  main_window()->show();
  command("WINOPEN w2\thttps://example.com/\tSecond\t900x900\t0\tnone\t1\t\t1\t\t10\t10");
  EXPECT_EQ(desktop.windows.size(), made);
  EXPECT_EQ(win("w2")->title(), "First");
  EXPECT_EQ(content_of(win("w2")).w, 320);
  EXPECT_TRUE(view("w2")->urls.empty());
  EXPECT_TRUE(win("w2")->is_key());
  for (const char* id : {"main", ""}) {
    win("w2")->show();
    command(std::string("WINOPEN ") + id + "\thttps://example.com/\tX");
    EXPECT_TRUE(main_window()->is_key()) << '"' << id << '"';
    EXPECT_EQ(main_window()->title(), "Main");
    EXPECT_EQ(desktop.windows.size(), made);
  }
}

TEST_F(WinOpen, ANewWindowGetsItsSizeTitleBridgeAndPage) {
  settings().user_agent = "Agent/1";
  command("WINOPEN w2\thttps://example.com/a\t\t320x240");
  FakeWindow* w2 = win("w2");
  ASSERT_NE(w2, nullptr);
  EXPECT_EQ(w2->title(), "w2") << "no title: the id";
  EXPECT_EQ(content_of(w2).w, 320);
  EXPECT_EQ(content_of(w2).h, 240);
  EXPECT_TRUE(w2->visible());
  EXPECT_TRUE(w2->is_key());
  EXPECT_EQ(w2->content, view("w2"));
  EXPECT_EQ(view("w2")->urls, (std::vector<std::string>{"https://example.com/a"}));
  EXPECT_EQ(view("w2")->user_agent, "Agent/1");
  EXPECT_TRUE(view("w2")->handlers.count("quib"));
  ASSERT_FALSE(view("w2")->user_scripts.empty());
  EXPECT_NE(view("w2")->user_scripts[0].find("window.__QUIB_WIN = 'w2'"), std::string::npos);
  EXPECT_TRUE(view("w2")->file_access);
  EXPECT_FALSE(view("w2")->inspector_opened);
}

TEST_F(WinOpen, APathIsLoadedAsAFileWithItsReadAccessAndNothingLoadsWithoutOne) {
  command("WINOPEN w2\t/srv/app/frontend/page.html");
  ASSERT_EQ(view("w2")->files.size(), 1u);
  EXPECT_EQ(view("w2")->files[0].first, "/srv/app/frontend/page.html");
  EXPECT_EQ(view("w2")->files[0].second, "/srv/app/frontend");
  command("WINOPEN w3\trel/page.html");
  ASSERT_EQ(view("w3")->files.size(), 1u);
  EXPECT_EQ(view("w3")->files[0].first, (std::filesystem::current_path() / "rel/page.html").string());
  command("WINOPEN w4");
  EXPECT_TRUE(view("w4")->files.empty());
  EXPECT_TRUE(view("w4")->urls.empty());
}

TEST_F(WinOpen, IdsThatWouldBreakWireLinesAreRefusedWithADiagnostic) {
  const std::string refused[] = {"a b", "a\tb", "a\rb", "w:1", "it's", "say\"hi\"", "*", "bell\x07",
                                 std::string("n\0ul", 4), "bad\xff"};
  for (const std::string& id : refused) {
    const size_t made = desktop.windows.size();
    testing::internal::CaptureStderr();
    open(id);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(desktop.windows.size(), made) << json_escape(id);
    EXPECT_EQ(g_windows.count(id), 0u) << json_escape(id);
    EXPECT_NE(err.find("quibex: WINOPEN refused the window id"), std::string::npos) << json_escape(id);
  }
  for (const std::string id : {"w-2", "\xc3\xa9t\xc3\xa9", "a.b_c/d", "w@x"}) {
    EXPECT_NE(open(id), nullptr) << id;
  }
}

TEST_F(WinOpen, ARelativePageWithoutAWorkingDirectoryOpensABlankWindow) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  const fs::path gone = fs::temp_directory_path() / ("quibex-cwd-" + std::to_string(getpid()));
  fs::create_directories(gone);
  fs::current_path(gone);
  fs::remove(gone);
  testing::internal::CaptureStderr();
  command("WINOPEN w2\trel/page.html\tTwo");
  const std::string err = testing::internal::GetCapturedStderr();
  fs::current_path(before);
  ASSERT_NE(win("w2"), nullptr);
  EXPECT_TRUE(win("w2")->visible());
  EXPECT_TRUE(view("w2")->files.empty());
  EXPECT_NE(err.find("cannot find the page rel/page.html"), std::string::npos) << err;
  command("WINCLOSE w2");
  EXPECT_EQ(g_windows.count("w2"), 0u);
}

TEST_F(WinOpen, AWindowThatCannotBeMadeLeavesNoEntry) {
  desktop.fail_windows = true;
  open("w2");
  EXPECT_EQ(g_windows.count("w2"), 0u);
  desktop.fail_windows = false;
  EXPECT_NE(open("w2"), nullptr);
}

TEST_F(WinOpen, DebugModeTurnsOnDeveloperExtrasAndOpenAlsoOpensTheInspector) {
  settings().debug_on = true;
  command("WINOPEN w2");
  EXPECT_TRUE(view("w2")->developer_extras);
  EXPECT_FALSE(view("w2")->inspector_opened);
  settings().debug_open = true;
  command("WINOPEN w3");
  EXPECT_TRUE(view("w3")->inspector_opened);
}

TEST_F(WinOpen, ParentsAttachOnlyToAnotherOpenWindow) {
  command("WINOPEN w2\t\t\t\t\t\t\t\t\t\t\t\t\t\tmain");
  EXPECT_EQ(main_window()->child_windows(), (std::vector<platform::NativeWindow*>{win("w2")}));
  command("WINOPEN w3\t\t\t\t\t\t\t\t\t\t\t\t\t\tw3");
  command("WINOPEN w4\t\t\t\t\t\t\t\t\t\t\t\t\t\tnowhere");
  command("WINOPEN w5\t\t\t\t\t\t\t\t\t\t\t\t\t\tw2");
  EXPECT_TRUE(win("w3")->child_windows().empty());
  EXPECT_EQ(main_window()->child_windows().size(), 1u);
  EXPECT_EQ(win("w2")->child_windows(), (std::vector<platform::NativeWindow*>{win("w5")}));
}

TEST_F(WinOpen, APanelIsAPanel) {
  command("WINOPEN p\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t1");
  EXPECT_TRUE(win("p")->is_panel());
  command("WINOPEN n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t0");
  EXPECT_FALSE(win("n")->is_panel());
}

class WinClose : public WinOpen {};

TEST_F(WinClose, MainEmptyAndUnknownIdsCloseNothing) {
  command("WINOPEN w2");
  lines();
  for (const char* id : {"main", "", "w9"}) do_winclose(w(), std::make_unique<std::string>(id));
  desktop.queue.drain();
  EXPECT_FALSE(main_window()->closed);
  EXPECT_FALSE(win("w2")->closed);
  EXPECT_TRUE(lines().empty());
}

TEST_F(WinClose, WinclosedGoesOutAtOnceAndTheWindowIsReleasedOneTurnLater) {
  command("WINOPEN w2");
  lines();
  FakeWindow* w2 = win("w2");
  do_winclose(w(), std::make_unique<std::string>("w2"));
  EXPECT_EQ(lines(), (std::vector<std::string>{"WINCLOSED w2"}));
  EXPECT_EQ(g_windows.count("w2"), 0u);
  EXPECT_EQ(window_for_id(w(), "w2"), nullptr);
  auto alive = [&] {
    return std::find(desktop.app.live.begin(), desktop.app.live.end(), w2) != desktop.app.live.end();
  };
  EXPECT_TRUE(alive()) << "still in use by the call that closed it";
  desktop.queue.drain();
  EXPECT_FALSE(alive());
  command("WINOPEN w2\t\tAgain");
  EXPECT_EQ(win("w2")->title(), "Again") << "the id is free again";
}

TEST_F(WinClose, TheCloseButtonTakesTheSamePathExactlyOnce) {
  command("WINOPEN w2");
  lines();
  win("w2")->user_close();
  win("w2");  // gone from the registry already
  desktop.queue.drain();
  EXPECT_EQ(lines(), (std::vector<std::string>{"WINCLOSED w2"}));
}

TEST_F(WinClose, ChildrenCloseOneTurnLaterEachAfterBeingDetached) {
  command("WINOPEN w2");
  command("WINOPEN w3\t\t\t\t\t\t\t\t\t\t\t\t\t\tw2");
  command("WINOPEN w4\t\t\t\t\t\t\t\t\t\t\t\t\t\tw2");
  FakeWindow* w2 = win("w2");
  FakeWindow* w3 = win("w3");
  lines();
  do_winclose(w(), std::make_unique<std::string>("w2"));
  EXPECT_EQ(lines_starting("WINCLOSED"), (std::vector<std::string>{"WINCLOSED w2"}));
  EXPECT_FALSE(w3->closed);
  desktop.queue.size();
  // One turn: the children's pass; it runs before the parent is released.
  auto items = desktop.queue.take();
  ASSERT_EQ(items.size(), 2u);
  items[0].handler(items[0].w, items[0].record);
  EXPECT_TRUE(w3->closed);
  EXPECT_TRUE(w2->child_windows().empty());
  EXPECT_EQ(lines_starting("WINCLOSED"), (std::vector<std::string>{"WINCLOSED w3", "WINCLOSED w4"}));
  items[1].handler(items[1].w, items[1].record);
  desktop.queue.drain();
  EXPECT_TRUE(g_windows.empty());
}

TEST_F(WinClose, AChildClosedBeforeItsParentIsNotClosedTwice) {
  command("WINOPEN w2");
  command("WINOPEN w3\t\t\t\t\t\t\t\t\t\t\t\t\t\tw2");
  lines();
  do_winclose(w(), std::make_unique<std::string>("w2"));
  do_winclose(w(), std::make_unique<std::string>("w3"));
  desktop.queue.drain();
  EXPECT_EQ(lines_starting("WINCLOSED"), (std::vector<std::string>{"WINCLOSED w2", "WINCLOSED w3"}));
}

class Commands : public WindowTest {};

TEST_F(Commands, TitlesGoToTheirWindowsAndWindowlessTitleDoesNothing) {
  FakeWindow* w2 = open("w2");
  do_title(w(), std::make_unique<std::string>("Plain"));
  do_title_win(w(), std::make_unique<EvalReq>("w2", "Second"));
  do_title_win(w(), std::make_unique<EvalReq>("nowhere", "Lost"));
  EXPECT_EQ(main_window()->title(), "Plain");
  EXPECT_EQ(w2->title(), "Second");
  do_title_win(w(), std::make_unique<EvalReq>("main", "Main again"));
  EXPECT_EQ(main_window()->title(), "Main again");
  do_title(nullptr, std::make_unique<std::string>("windowless"));
  do_title_win(nullptr, std::make_unique<EvalReq>("main", "windowless"));
  EXPECT_EQ(main_window()->title(), "Main again");
}

TEST_F(Commands, SizeSetsTheContentSizeKeepingTheTopLeftCorner) {
  FakeWindow* w2 = open("w2");
  w2->set_frame({100, 100, 600, 428});
  do_size(w(), std::make_unique<SizeReq>(500, 300, "w2"));
  EXPECT_EQ(content_of(w2).w, 500);
  EXPECT_EQ(content_of(w2).h, 300);
  EXPECT_EQ(w2->frame().x, 100);
  EXPECT_EQ(w2->frame().y + w2->frame().h, 528);
  for (SizeReq bad : {SizeReq{0, 300, "w2"}, SizeReq{300, 0, "w2"}, SizeReq{-1, 300, "w2"}, SizeReq{300, 300, "w9"}}) {
    do_size(w(), std::make_unique<SizeReq>(bad));
    EXPECT_EQ(content_of(w2).w, 500);
  }
}

TEST_F(Commands, AMoveDragStartsOnlyWhileTheLeftButtonIsDown) {
  do_dragwin(w(), std::make_unique<std::string>("main"));
  EXPECT_EQ(main_window()->move_drags, 0);
  desktop.app.left_button = true;
  do_dragwin(w(), std::make_unique<std::string>("main"));
  do_dragwin(w(), std::make_unique<std::string>("w9"));
  EXPECT_EQ(main_window()->move_drags, 1);
}

TEST_F(Commands, ResizeDragsNameTheirEdgesAndTheMinimumFrame) {
  FakeWindow* w2 = open("w2");
  do_resizewin(w(), std::make_unique<ResizeReq>("w2", "se"));
  EXPECT_TRUE(w2->resize_drags.empty()) << "button up";
  desktop.app.left_button = true;
  struct Case {
    const char* edge;
    std::optional<ResizeEdges> want;  // {top, bottom, left, right}
  } cases[] = {
      {"se", ResizeEdges{false, true, false, true}},
      {"nw", ResizeEdges{true, false, true, false}},
      {"e", ResizeEdges{false, false, false, true}},
      {"ew", ResizeEdges{false, false, true, false}},   // w wins over e
      {"nsx", ResizeEdges{false, true, false, false}},  // s wins over n
      {"x", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edge);
    w2->resize_drags.clear();
    do_resizewin(w(), std::make_unique<ResizeReq>("w2", c.edge));
    if (!c.want) {
      EXPECT_TRUE(w2->resize_drags.empty());
      continue;
    }
    ASSERT_EQ(w2->resize_drags.size(), 1u);
    EXPECT_EQ(w2->resize_drags[0].first, *c.want);
    EXPECT_EQ(w2->resize_drags[0].second, (Size{120, 80}));
  }
  w2->resize_drags.clear();
  winop("w2", "minsize 300x200");
  do_resizewin(w(), std::make_unique<ResizeReq>("w2", "s"));
  EXPECT_EQ(w2->resize_drags.at(0).second, (Size{300, 228})) << "the content minimum as a frame";
  w2->resize_drags.clear();
  winop("w2", "resizable 0");
  do_resizewin(w(), std::make_unique<ResizeReq>("w2", "s"));
  EXPECT_TRUE(w2->resize_drags.empty()) << "not resizable";
}

TEST_F(Commands, FileDragsNeedTheButtonAPageAndFiles) {
  desktop.app.images["/icons/doc.png"] = {64, 48};
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"main", "/icons/doc.png", {"/a", "/b", "/c"}}));
  EXPECT_TRUE(main_window()->file_drags.empty()) << "button up";
  desktop.app.left_button = true;
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"main", "/icons/doc.png", {}}));
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"w9", "/icons/doc.png", {"/a"}}));
  EXPECT_TRUE(main_window()->file_drags.empty());
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"main", "/icons/doc.png", {"/a", "/b", "/c"}}));
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"main", "/icons/missing.png", {"/a", "/b"}}));
  ASSERT_EQ(main_window()->file_drags.size(), 2u);
  using platform::DragItem;
  EXPECT_EQ(main_window()->file_drags[0].items,
            (std::vector<DragItem>{{"/a", true, 64, 48, 0}, {"/b", false, 32, 32, 4}, {"/c", false, 32, 32, 8}}));
  EXPECT_EQ(main_window()->file_drags[1].items,
            (std::vector<DragItem>{{"/a", false, 32, 32, 0}, {"/b", false, 32, 32, 4}}))
      << "an unreadable icon falls back to the files' own";

  // Relative paths name files in the working directory; the drop target gets whole paths.
  const std::string cwd = std::filesystem::current_path().string();
  do_dragout(w(), std::make_unique<DragOutReq>(DragOutReq{"main", "", {"notes.txt", "./sub/../a b.txt", "/abs"}}));
  ASSERT_EQ(main_window()->file_drags.size(), 3u);
  std::vector<std::string> paths;
  for (const auto& item : main_window()->file_drags[2].items) paths.push_back(item.path);
  EXPECT_EQ(paths, (std::vector<std::string>{cwd + "/notes.txt", cwd + "/a b.txt", "/abs"}));
}

TEST_F(Commands, AFileDragCarriesEveryFileButDrawsAtMostEightWhateverTheirNumber) {
  using platform::DragItem;
  using platform::Size;
  // [files, icon size, the drag image's size]
  struct Case {
    std::size_t files;
    std::optional<Size> icon;
    Size image;
  };
  const Case cases[] = {
      {1, std::nullopt, {32, 32}},
      {3, Size{64, 48}, {64, 48}},
      {8, std::nullopt, {60, 60}},
      {9, std::nullopt, {60, 60}},
      {100000, std::nullopt, {60, 60}},
      {100000, Size{4000, 2000}, {160, 80}},
      {2, Size{0, 0}, {36, 36}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < c.files; ++i) paths.push_back("/d/" + std::to_string(i));
    const std::vector<DragItem> items = platform::layout_drag_items(paths, c.icon);
    const std::string what = std::to_string(c.files) + " files";
    ASSERT_EQ(items.size(), c.files) << what;
    for (std::size_t i = 0; i < items.size(); ++i) {
      ASSERT_EQ(items[i].path, paths[i]) << what;
      ASSERT_EQ(items[i].drawn, i < platform::kDragImageItems) << what << ", item " << i;
      if (!items[i].drawn) {
        ASSERT_EQ(items[i].w * items[i].h, 0) << what << ": no image past the eighth";
      }
    }
    EXPECT_EQ(platform::drag_image_size(items), c.image) << what;
  }

  // Through DRAGOUT: the window is handed every path.
  desktop.app.left_button = true;
  std::vector<std::string> many;
  for (int i = 0; i < 20000; ++i) many.push_back("/many/" + std::to_string(i));
  do_dragout(w(), std::make_unique<DragOutReq>("main", "", many));
  ASSERT_EQ(main_window()->file_drags.size(), 1u);
  const std::vector<DragItem>& items = main_window()->file_drags[0].items;
  ASSERT_EQ(items.size(), many.size());
  EXPECT_EQ(items.back().path, many.back());
  EXPECT_EQ(platform::drag_image_size(items), (Size{60, 60}));
}

}  // namespace
