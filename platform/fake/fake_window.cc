#include "platform/fake/fake_window.h"

#include <algorithm>

namespace platform::fake {

void FakeScreens::set(std::vector<ScreenInfo> screens) {
  screens_ = std::move(screens);
  if (cb_) cb_();
}

// ---- application -------------------------------------------------------------

FakeApplication::~FakeApplication() {
  if (application() == this) install_application(nullptr);
}

void FakeApplication::remove(FakeWindow* w) {
  live.erase(std::remove(live.begin(), live.end(), w), live.end());
  hidden_windows_.erase(std::remove(hidden_windows_.begin(), hidden_windows_.end(), w), hidden_windows_.end());
  if (key == w) key = nullptr;
}

void FakeApplication::make_key(FakeWindow* w) {
  if (key == w) return;
  FakeWindow* old = key;
  key = w;
  if (old) post_window_note(old, WindowNote::kDidResignKey);
  if (w) post_window_note(w, WindowNote::kDidBecomeKey);
}

void FakeApplication::resign_key(FakeWindow* w) {
  if (key != w) return;
  key = nullptr;
  post_window_note(w, WindowNote::kDidResignKey);
}

void FakeApplication::activate() {
  if (order_front_suppressed()) return;
  ++activations;
  if (key) return;
  // The front window takes the focus: the last one shown that is still visible.
  for (auto it = live.rbegin(); it != live.rend(); ++it)
    if ((*it)->visible() && (*it)->can_become_key()) {
      make_key(*it);
      return;
    }
}

void FakeApplication::hide() {
  hidden_ = true;
  for (FakeWindow* w : std::vector<FakeWindow*>(live))
    if (w->visible()) {
      hidden_windows_.push_back(w);
      w->hide();
    }
}

void FakeApplication::unhide(bool activate_too) {
  if (order_front_suppressed()) return;
  hidden_ = false;
  std::vector<FakeWindow*> again;
  again.swap(hidden_windows_);
  for (FakeWindow* w : again) w->order_front_regardless();
  if (activate_too) activate();
}

// ---- windows -----------------------------------------------------------------

FakeWindow::FakeWindow(const WindowParams& p, FakeApplication* app)
    : params(p), app_(app), title_(p.title), style_(p.style_mask | (p.panel ? kStyleNonactivatingPanel : 0)) {
  frame_ = frame_rect_for_content({0, 0, p.width, p.height});
  if (app_) app_->add(this);
}

FakeWindow::~FakeWindow() {
  if (parent_) parent_->remove_child_window(this);
  for (NativeWindow* c : std::vector<NativeWindow*>(children_)) remove_child_window(c);
  if (app_) app_->remove(this);
}

bool FakeWindow::decorated() const {
  return (style_ & kStyleTitled) && !(style_ & kStyleFullSizeContentView) && !full_;
}

Rect FakeWindow::content_rect_for_frame(const Rect& f) const {
  const double t = decorated() ? kTitlebar : 0;
  return {f.x, f.y, f.w, std::max(0.0, f.h - t)};
}

Rect FakeWindow::frame_rect_for_content(const Rect& c) const {
  const double t = decorated() ? kTitlebar : 0;
  return {c.x, c.y, c.w, c.h + t};
}

void FakeWindow::set_content_size(double w, double h) {
  // Keeps the top edge where it is (y grows upward).
  Rect f = frame_rect_for_content({0, 0, w, h});
  f.x = frame_.x;
  f.y = frame_.y + frame_.h - f.h;
  set_frame(f);
}

void FakeWindow::set_frame(const Rect& f) {
  const Rect old = frame_;
  frame_ = f;
  if (old == f) return;
  if (events.on_frame_changed) events.on_frame_changed();
  if (old.x != f.x || old.y != f.y) post_window_note(this, WindowNote::kDidMove);
  if (old.w != f.w || old.h != f.h) post_window_note(this, WindowNote::kDidResize);
}

void FakeWindow::show() {
  if (order_front_suppressed()) return;
  order_front_regardless();
  make_key();
}

void FakeWindow::order_front_regardless() {
  if (order_front_suppressed()) return;
  ++order_fronts;
  if (mini_) deminiaturize();
  const bool was = visible_;
  visible_ = true;
  if (!was && events.on_state_changed) events.on_state_changed();
}

void FakeWindow::make_key() {
  if (!can_key_ || !visible()) return;
  if (app_) app_->make_key(this);
}

bool FakeWindow::is_key() const { return app_ && app_->key == this; }

void FakeWindow::hide() {
  const bool was = visible_;
  visible_ = false;
  if (app_) app_->resign_key(this);
  if (was && events.on_state_changed) events.on_state_changed();
}

void FakeWindow::miniaturize() {
  if (mini_ || !visible_) return;
  mini_ = true;
  if (app_) app_->resign_key(this);
  post_window_note(this, WindowNote::kDidMiniaturize);
  if (events.on_state_changed) events.on_state_changed();
}

void FakeWindow::deminiaturize() {
  if (!mini_) return;
  mini_ = false;
  post_window_note(this, WindowNote::kDidDeminiaturize);
  if (events.on_state_changed) events.on_state_changed();
  make_key();
}

void FakeWindow::zoom() {
  if (full_) return;
  if (zoomed_) {
    zoomed_ = false;
    set_frame(saved_zoom_);
    return;
  }
  std::vector<ScreenInfo> screens = app_ && app_->screens() ? app_->screens()->list() : std::vector<ScreenInfo>{};
  if (screens.empty()) return;
  saved_zoom_ = frame_;
  zoomed_ = true;
  set_frame(screens[0].visible_frame);
}

void FakeWindow::toggle_full_screen() {
  const bool to = !(style_mask() & kStyleFullScreen);
  if (answers_full_screen)
    set_full_screen(to);
  else
    fs_requests_.push_back(to);
}

void FakeWindow::answer_full_screen(bool grant) {
  if (fs_requests_.empty()) return;
  const bool to = fs_requests_.front();
  fs_requests_.pop_front();
  if (grant) set_full_screen(to);
}

void FakeWindow::set_full_screen(bool on) {
  if (on == full_ || closed) return;
  if (on) {
    std::vector<ScreenInfo> screens = app_ && app_->screens() ? app_->screens()->list() : std::vector<ScreenInfo>{};
    // The screen that holds most of the window.
    const ScreenInfo* best = nullptr;
    double best_area = 0;
    for (const ScreenInfo& s : screens) {
      double w = std::min(frame_.x + frame_.w, s.frame.x + s.frame.w) - std::max(frame_.x, s.frame.x);
      double h = std::min(frame_.y + frame_.h, s.frame.y + s.frame.h) - std::max(frame_.y, s.frame.y);
      if (w > 0 && h > 0 && w * h > best_area) {
        best_area = w * h;
        best = &s;
      }
    }
    saved_full_ = frame_;
    full_ = true;
    if (best) set_frame(best->frame);
    post_window_note(this, WindowNote::kDidEnterFullScreen);
  } else {
    full_ = false;
    set_frame(saved_full_);
    post_window_note(this, WindowNote::kDidExitFullScreen);
  }
  if (events.on_state_changed) events.on_state_changed();
}

void FakeWindow::set_style_mask(std::uint64_t mask) {
  mask &= ~kStyleFullScreen;
  if (params.panel) mask |= kStyleNonactivatingPanel;
  style_ = mask;
}

void FakeWindow::add_child_window(NativeWindow* child) {
  auto* c = static_cast<FakeWindow*>(child);
  if (!c || c == this) return;
  if (c->parent_ && c->parent_ != this) c->parent_->remove_child_window(c);
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
  c->parent_ = this;
}

void FakeWindow::remove_child_window(NativeWindow* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
  auto* c = static_cast<FakeWindow*>(child);
  if (c && c->parent_ == this) c->parent_ = nullptr;
}

bool FakeWindow::begin_move_drag() {
  ++move_drags;
  return true;
}

bool FakeWindow::begin_resize_drag(ResizeEdges edges, Size min_frame) {
  resize_drags.push_back({edges, min_frame});
  return true;
}

bool FakeWindow::begin_file_drag(const std::vector<std::string>& paths, const std::string& icon_path) {
  std::optional<Size> icon;
  if (app_ && !icon_path.empty())
    if (auto it = app_->images.find(icon_path); it != app_->images.end()) icon = it->second;
  file_drags.push_back({layout_drag_items(paths, icon), icon_path});
  return true;
}

void FakeWindow::close() {
  if (closed) return;
  closed = true;
  visible_ = false;
  if (app_ && app_->closing) app_->closing(this);
  // The close path runs first; the focus leaves the window after it.
  if (events.on_destroyed) events.on_destroyed();
  if (app_) app_->resign_key(this);
  // A closed window leaves its parent; its own children stay until the close path detaches them.
  if (parent_) parent_->remove_child_window(this);
}

void FakeWindow::user_close() {
  if (events.on_close_request)
    events.on_close_request();
  else
    close();
}

// The node at a path of titles under root, or null.
const MenuNode* find_menu_path(const MenuNode& root, const std::vector<std::string>& path) {
  const MenuNode* at = &root;
  for (const std::string& title : path) {
    const MenuNode* next = nullptr;
    for (const auto& n : at->items)
      if (n && !n->separator && n->title == title) {
        next = n.get();
        break;
      }
    if (!next) return nullptr;
    at = next;
  }
  return at;
}

bool FakeWindow::choose(const std::vector<std::string>& path) {
  if (!menu_bar) return false;
  const MenuNode* item = find_menu_path(*menu_bar, path);
  if (!item || !item->enabled || item->tag != 0) return false;
  if (item->command >= MenuCommand::kUndo)
    editing.push_back(item->command);
  else if (menu_chosen)
    menu_chosen(*item);
  return true;
}

}  // namespace platform::fake
