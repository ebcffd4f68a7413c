// WINSTATE and WINGEOM as the backend receives them.

#include "window_test_support.h"

namespace {

using platform::WindowButton;
using platform::WindowNote;

std::string state(bool full, bool max, bool mini, bool focused, int screen) {
  auto b = [](bool v) { return v ? std::string("true") : std::string("false"); };
  return "{\"fullscreen\":" + b(full) + ",\"maximized\":" + b(max) + ",\"minimized\":" + b(mini) +
         ",\"focused\":" + b(focused) + ",\"screenId\":" + std::to_string(screen) + "}";
}

class WinState : public WindowTest {};

TEST_F(WinState, OpeningAWindowMovesTheFocusAndEachSideReportsOnce) {
  open("w2");
  EXPECT_EQ(lines_starting("WINSTATE"),
            (std::vector<std::string>{"WINSTATE main " + state(false, false, false, false, 70),
                                      "WINSTATE w2 " + state(false, false, false, true, 70)}));
}

TEST_F(WinState, IdenticalStatesAreSentOnce) {
  main_window()->fire(WindowNote::kDidBecomeKey);
  main_window()->fire(WindowNote::kDidResize);
  main_window()->fire(WindowNote::kDidChangeScreen);
  EXPECT_TRUE(lines().empty()) << "nothing changed since the last report";
  winop("main", "minimize");
  winop("main", "minimize");
  EXPECT_EQ(lines_starting("WINSTATE"),
            (std::vector<std::string>{"WINSTATE main " + state(false, false, true, false, 70)}));
}

TEST_F(WinState, FullScreenIsNeverAlsoReportedAsMaximized) {
  winop("main", "zoom");
  EXPECT_EQ(lines_starting("WINSTATE").back(), "WINSTATE main " + state(false, true, false, true, 70));
  winop("main", "fullscreen 1");
  EXPECT_EQ(lines_starting("WINSTATE").back(), "WINSTATE main " + state(true, false, false, true, 70));
}

TEST_F(WinState, FullScreenIsReportedOnlyOnceTheWindowSystemGrantsIt) {
  FakeWindow* m = main_window();
  m->answers_full_screen = false;
  winop("main", "fullscreen 1");
  winop("main", "fullscreen 1");
  EXPECT_EQ(m->unanswered_full_screen(), 1u) << "asked for already";
  open("w2");  // the main window loses the focus while the request waits
  EXPECT_EQ(lines_starting("WINSTATE main"), (std::vector<std::string>{"WINSTATE main " + state(false, false, false, false, 70)}));
  m->answer_full_screen(true);
  EXPECT_EQ(lines_starting("WINSTATE main"), (std::vector<std::string>{"WINSTATE main " + state(true, false, false, false, 70)}));

  // Refused requests never reach the backend, either way.
  winop("main", "fullscreen 0");
  m->fire(WindowNote::kDidResize);
  m->answer_full_screen(false);
  m->fire(WindowNote::kDidResize);
  FakeWindow* w2 = win("w2");
  w2->answers_full_screen = false;
  winop("w2", "fullscreen 1");
  w2->fire(WindowNote::kDidResize);
  m->show();  // w2 loses the focus
  w2->answer_full_screen(false);
  w2->fire(WindowNote::kDidResize);
  EXPECT_EQ(lines_starting("WINSTATE"),
            (std::vector<std::string>{"WINSTATE w2 " + state(false, false, false, false, 70),
                                      "WINSTATE main " + state(true, false, false, true, 70)}));
  EXPECT_TRUE(m->is_full_screen());
  EXPECT_FALSE(w2->style_mask() & platform::kStyleFullScreen) << "the next request starts from the refusal";
}

TEST_F(WinState, GeometryEventsOnlyWhileAskedForAndOnlyForMovesAndResizes) {
  main_window()->user_set_frame({120, 200, 800, 628});
  EXPECT_TRUE(lines().empty());
  winop("main", "geom 1");
  main_window()->user_set_frame({140, 200, 800, 628});
  main_window()->user_set_frame({140, 200, 700, 628});
  main_window()->fire(WindowNote::kDidBecomeKey);
  EXPECT_EQ(lines(), (std::vector<std::string>{"WINGEOM main", "WINGEOM main"}));
  main_window()->user_set_frame({2000, 200, 700, 628});  // onto the second screen
  EXPECT_EQ(lines(), (std::vector<std::string>{"WINSTATE main " + state(false, false, false, true, 71), "WINGEOM main"}));
  winop("main", "geom 0");
  main_window()->user_set_frame({2100, 200, 700, 628});
  EXPECT_TRUE(lines().empty());
}

TEST_F(WinState, WindowsThatAreNeitherMainNorRegisteredAreNotReported) {
  auto stray = desktop.make_window({});
  auto* f = static_cast<FakeWindow*>(stray.get());
  f->show();
  f->fire(WindowNote::kDidResize);
  for (const std::string& l : lines()) EXPECT_EQ(l.find("WINSTATE main"), 0u) << l;
}

TEST_F(WinState, AReopenedIdReportsItsStateAfresh) {
  open("w2");
  lines();
  do_winclose(w(), std::make_unique<std::string>("w2"));
  desktop.queue.drain();
  main_window()->show();
  lines();
  open("w2");
  EXPECT_EQ(lines_starting("WINSTATE w2"), (std::vector<std::string>{"WINSTATE w2 " + state(false, false, false, true, 70)}));
}

TEST_F(WinState, EveryNoteButAMoveReappliesTheButtonPosition) {
  FakeWindow* w2 = open("w2");
  w2->button_frames[0] = Rect{7, 6, 14, 14};
  w2->button_frames[1] = Rect{27, 6, 14, 14};
  w2->button_frames[2] = Rect{47, 6, 14, 14};
  chrome("w2", {"", "", "", "", "", "", "100,10"});
  EXPECT_EQ(w2->button_frame(WindowButton::kZoom)->x, 140);
  auto lay_out_again = [&] { w2->button_frames[0] = Rect{7, 6, 14, 14}; };
  lay_out_again();
  w2->fire(WindowNote::kDidMove);
  EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 7);
  for (WindowNote n : {WindowNote::kDidResize, WindowNote::kDidBecomeKey, WindowNote::kDidExitFullScreen,
                       WindowNote::kDidChangeScreen}) {
    lay_out_again();
    w2->fire(n);
    EXPECT_EQ(w2->button_frame(WindowButton::kClose)->x, 100) << int(n);
  }
}

}  // namespace
