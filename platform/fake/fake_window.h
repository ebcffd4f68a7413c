#pragma once
// In-memory screens, windows and application for tests. A fake window keeps the
// host's model as given, plays the window system's part at once (frames, key
// focus, minimising, zooming, full screen), posts the same notes a real desktop
// posts, and records the interactive drags it was asked to start.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/common/drag_layout.h"
#include "platform/common/model_window.h"
#include "platform/screens.h"
#include "platform/window.h"

namespace platform::fake {

class FakeScreens : public Screens {
 public:
  std::vector<ScreenInfo> list() override { return screens_; }
  void set_change_callback(std::function<void()> cb) override { cb_ = std::move(cb); }
  // Replaces the monitors and reports the change.
  void set(std::vector<ScreenInfo> screens);

 private:
  std::vector<ScreenInfo> screens_;
  std::function<void()> cb_;
};

class FakeWindow;

class FakeApplication : public Application {
 public:
  explicit FakeApplication(FakeScreens* screens = nullptr) : screens_(screens) {}
  ~FakeApplication() override;
  void set_activation_policy(ActivationPolicy p) override { policy = filtered_activation_policy(p); }
  ActivationPolicy activation_policy() const override { return policy; }
  void activate() override;
  void hide() override;
  void unhide(bool activate) override;
  bool hidden() const override { return hidden_; }
  bool left_button_down() override { return left_button; }

  // Window-system bookkeeping shared by the fake windows.
  void add(FakeWindow* w) { live.push_back(w); }
  void remove(FakeWindow* w);
  void make_key(FakeWindow* w);   // resigns the old key window first
  void resign_key(FakeWindow* w);
  FakeScreens* screens() const { return screens_; }

  ActivationPolicy policy = ActivationPolicy::kRegular;
  bool left_button = false;  // what a test says the mouse is doing
  std::map<std::string, Size> images;  // image files this desktop can read, by path
  std::function<void(FakeWindow*)> closing;  // a window closes: the dialogs over it go with it
  int activations = 0;
  std::vector<FakeWindow*> live;  // windows not yet destroyed, in creation order
  FakeWindow* key = nullptr;

 private:
  FakeScreens* screens_;
  bool hidden_ = false;
  std::vector<FakeWindow*> hidden_windows_;
};

class FakeWindow : public ModelWindow {
 public:
  // Title bar height of a decorated fake window, in points.
  static constexpr double kTitlebar = 28;

  explicit FakeWindow(const WindowParams& p, FakeApplication* app = nullptr);
  ~FakeWindow() override;
  void set_events(WindowEvents e) override { events = std::move(e); }
  void set_title(const std::string& t) override { title_ = t; }
  std::string title() const override { return title_; }

  void set_content_size(double w, double h) override;
  Rect frame() const override { return frame_; }
  void set_frame(const Rect& f) override;
  Rect content_rect_for_frame(const Rect& f) const override;
  Rect frame_rect_for_content(const Rect& c) const override;
  void set_content_min_size(Size s) override { min_size_ = s; }
  Size content_min_size() const override { return min_size_; }
  std::optional<std::uint32_t> screen_id() const override { return screen_override; }

  void show() override;
  void order_front_regardless() override;
  void make_key() override;
  void hide() override;
  bool visible() const override { return visible_ && !mini_; }
  bool is_key() const override;

  void miniaturize() override;
  void deminiaturize() override;
  bool miniaturized() const override { return mini_; }
  void zoom() override;
  bool zoomed() const override { return zoomed_; }
  void toggle_full_screen() override;
  bool is_full_screen() const override { return full_; }

  void set_style_mask(std::uint64_t mask) override;
  // An unanswered full-screen request counts, as it does on the desktop.
  std::uint64_t style_mask() const override {
    return style_ | ((fs_requests_.empty() ? full_ : fs_requests_.back()) ? kStyleFullScreen : 0);
  }
  bool is_panel() const override { return params.panel; }
  std::optional<Rect> button_frame(WindowButton b) const override { return button_frames[int(b)]; }
  void set_button_frame(WindowButton b, const Rect& f) override {
    if (button_frames[int(b)]) button_frames[int(b)] = f;
  }

  void add_child_window(NativeWindow* child) override;
  void remove_child_window(NativeWindow* child) override;
  std::vector<NativeWindow*> child_windows() const override { return children_; }

  bool begin_move_drag() override;
  bool begin_resize_drag(ResizeEdges edges, Size min_frame) override;
  bool begin_file_drag(const std::vector<std::string>& paths, const std::string& icon_path) override;

  void set_content(WebView* v) override { content = v; }
  void set_content_zoom(double z) override { content_zoom = z; }
  void set_content_draws_background(bool v) override { content_draws_background = v; }
  void set_menu_bar(std::shared_ptr<const MenuNode> bar, MenuChosen chosen) override {
    menu_bar = std::move(bar);
    menu_chosen = std::move(chosen);
  }
  void set_key_handler(std::function<bool(const KeyChord&)> h) override { key_handler = std::move(h); }
  void close() override;
  void* native_handle() override { return this; }

  // What the user or the window system does.
  // Chooses the item of the shown bar at this path of titles ("Edit", "Copy");
  // false when there is none, or it is disabled.
  bool choose(const std::vector<std::string>& path);
  // A key press as the desktop would hand it to the host; true when consumed.
  bool press(const std::string& key, std::uint64_t modifiers = kModCommand, bool shift = false) {
    return key_handler && key_handler({key, modifiers, shift, ""});
  }
  // A key that types no character, by its name ("F12").
  bool press_named(const std::string& name, std::uint64_t modifiers = 0) {
    return key_handler && key_handler({"", modifiers, false, name});
  }
  void user_close();                 // the close button
  void user_set_frame(const Rect& f) { set_frame(f); }
  void fire(WindowNote note) { post_window_note(this, note); }
  bool decorated() const;

  WindowParams params;
  WindowEvents events;
  WebView* content = nullptr;
  bool closed = false;
  int order_fronts = 0;  // times ordered front, with or without focus
  std::optional<std::uint32_t> screen_override;
  std::optional<Rect> button_frames[3];  // unset: this desktop draws no buttons
  double content_zoom = 1.0;
  bool content_draws_background = true;
  int move_drags = 0;
  std::vector<std::pair<ResizeEdges, Size>> resize_drags;
  struct FileDrag {
    std::vector<DragItem> items;
    std::string icon;
  };
  std::vector<FileDrag> file_drags;
  // false: full-screen requests wait until the test answers them, oldest first; a
  // refused request changes nothing.
  bool answers_full_screen = true;
  void answer_full_screen(bool grant = true);
  std::size_t unanswered_full_screen() const { return fs_requests_.size(); }
  std::shared_ptr<const MenuNode> menu_bar;
  MenuChosen menu_chosen;
  std::function<bool(const KeyChord&)> key_handler;
  std::vector<MenuCommand> editing;  // editing commands carried out on the page

 private:
  FakeApplication* app_;
  std::string title_;
  Rect frame_;
  Size min_size_;
  bool visible_ = false, mini_ = false, zoomed_ = false, full_ = false;
  Rect saved_zoom_, saved_full_;
  std::uint64_t style_;
  std::vector<NativeWindow*> children_;
  FakeWindow* parent_ = nullptr;
  std::deque<bool> fs_requests_;  // full screen on or off, asked for and not yet answered
  void set_full_screen(bool on);
};

}  // namespace platform::fake
